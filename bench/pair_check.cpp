#include "pair_check.h"

#include <cmath>
#include <cstdlib>
#include <thread>

#include <tarnel/board_protocol.h>

namespace tarnel::bench {

namespace {

constexpr const char* kNotANumber = "9.91E+37";

bool BoardError(const std::vector<std::string>& errors) {
    for (const auto& entry : errors) {
        if (entry.rfind("-241,", 0) == 0 || entry.rfind("-240,", 0) == 0) return true;
    }
    return false;
}

// A lock met by this exchange: refused messages, the pair's or SYST:ERR?'s.
void NoteRefusals(const Exchange& exchange, const PairContext& context, SoakClock::time_point sent, Tally& tally) {
    if (!exchange.turnedAway && exchange.lockedOut == 0 && !exchange.overflowed) return;
    if (context.holdsLock) {
        tally.Note("a message refused while this link held the lock");
        return;
    }
    tally.refusals.push_back({context.board, sent, SoakClock::now(), context.locker});
}

}  // namespace

bool MeasuredLevel(const std::string& reply, std::uint32_t code) {
    char* end = nullptr;
    const double volts = std::strtod(reply.c_str(), &end);
    if (reply.empty() || *end != '\0') return false;
    return std::fabs(volts - protocol::DacOutputVolts(code)) <= protocol::ConverterVolts(1) * 1.001;
}

bool CheckedPair(MessageChannel& channel, PairContext& context, std::uint32_t code, std::atomic<long>& allPairs,
                 Tally& tally) {
    const SoakClock::time_point sent = SoakClock::now();
    const ExchangeTimes times{sent + kExchangeBound};
    const Exchange exchange = Converse(channel, "DAC:CODE " + std::to_string(code) + ";:MEAS?", times);
    for (const auto& stray : exchange.strays) tally.Note("a line that answers nothing sent: " + stray);
    if (exchange.end == Exchange::End::Broken) {
        ++(context.answered ? tally.dropped : tally.refused);
        return false;
    }
    if (exchange.end == Exchange::End::Unanswered) {
        ++tally.unanswered;
        tally.Problem(std::string(context.client) + ": code " + std::to_string(code) + " on board " +
                      std::to_string(context.board) + (context.holdsLock ? " (lock held)" : "") + " unsettled after " +
                      std::to_string(kExchangeBound.count()) + " s: " + std::to_string(exchange.questions) +
                      " questions, reply " + exchange.reply.value_or("<none>") + ", " +
                      std::to_string(exchange.lockedOut) + " refused;" + exchange.trace);
        tally.unsettled.push_back({context.board, sent, SoakClock::now(), context.locker});
        return false;
    }
    NoteRefusals(exchange, context, sent, tally);
    if (exchange.RefusedByLock()) {
        ++tally.lockRefusals;
        // As a client would, it waits a little before it tries again.
        if (exchange.turnedAway) std::this_thread::sleep_for(times.lockedPause);
        return true;
    }
    if (!exchange.reply) {
        tally.Note("code " + std::to_string(code) + " got no reply, and the lock refused nothing");
        return true;
    }
    context.answered = true;
    const std::string& reply = *exchange.reply;
    tally.latencyMicroseconds.push_back(std::chrono::duration<float, std::micro>(exchange.replyAt - sent).count());
    ++tally.pairs;
    ++allPairs;
    if (reply != kNotANumber && MeasuredLevel(reply, code)) return true;
    // Otherwise the board must have been away: the reply is not a number,
    // or the DAC write found it gone and the measurement opened it again,
    // at its start level 0. The queue says which.
    std::vector<std::string> errors = exchange.errors;
    if (errors.empty()) {
        const SoakClock::time_point asked = SoakClock::now();
        const Exchange queue = Converse(channel, std::nullopt, {asked + kExchangeBound});
        for (const auto& stray : queue.strays) tally.Note("a line that answers nothing sent: " + stray);
        if (queue.end != Exchange::End::Settled) {
            tally.Problem(std::string(context.client) + ": the error queue after " + reply + " on board " +
                          std::to_string(context.board) + (queue.end == Exchange::End::Broken ? " broke off" : " unsettled"));
            ++(queue.end == Exchange::End::Broken ? tally.dropped : tally.unanswered);
            return false;
        }
        NoteRefusals(queue, context, asked, tally);
        errors = queue.errors;
    }
    if (BoardError(errors) && (reply == kNotANumber || MeasuredLevel(reply, 0))) {
        tally.awayReplies.push_back({context.board, exchange.replyAt, exchange.replyAt, -1});
    } else {
        tally.Note("code " + std::to_string(code) + " read back as " + reply + " with the errors " +
                   (errors.empty() ? "<none>" : errors.front()));
    }
    return true;
}


}  // namespace tarnel::bench
