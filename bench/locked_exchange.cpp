#include "locked_exchange.h"

#include <charconv>
#include <thread>

namespace tarnel::bench {

namespace {

constexpr int kLockedOut = -203;
constexpr std::string_view kErrorQuery = "SYST:ERR?";

}  // namespace

std::optional<int> ErrorEntryCode(std::string_view line) {
    int code = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), code);
    if (error != std::errc() || end == line.data() + line.size() || *end != ',') return std::nullopt;
    if (end + 1 == line.data() + line.size() || end[1] != '"') return std::nullopt;
    return code;
}

Exchange Converse(MessageChannel& channel, std::optional<std::string_view> message, const ExchangeTimes& times) {
    using Outcome = MessageChannel::Outcome;
    Exchange exchange;
    // Every message sent ends as one reply line, or (refused) as one -203
    // entry; `accounted` counts both.
    long sent = 0;
    long accounted = 0;
    bool asking = !message;        // SYST:ERR? goes out while nothing comes
    bool emptied = false;          // the last line read was 0,"No error"
    bool entriesRead = false;
    const auto pause = [&] { std::this_thread::sleep_for(times.lockedPause); };
    const auto ask = [&] {
        const Outcome outcome = channel.Send(kErrorQuery);
        if (outcome == Outcome::Done) ++sent;
        if (outcome == Outcome::Locked) pause();
        return outcome != Outcome::Broken;
    };

    if (message) {
        const Outcome outcome = channel.Send(*message);
        if (outcome == Outcome::Locked) {
            exchange.turnedAway = true;
            return exchange;
        }
        if (outcome != Outcome::Done) {
            exchange.end = Exchange::End::Broken;
            return exchange;
        }
        ++sent;
    }
    for (;;) {
        if (asking && emptied && accounted == sent) return exchange;
        if (Exchange::Clock::now() > times.giveUp) {
            exchange.end = Exchange::End::Unanswered;
            return exchange;
        }
        if (asking && accounted == sent) {
            if (!ask()) break;
            continue;
        }
        std::string line;
        const Outcome outcome = channel.Receive(line);
        if (outcome == Outcome::Broken) break;
        if (outcome != Outcome::Done) {
            // Nothing came: the lock may have refused what is outstanding.
            if (outcome == Outcome::Locked) pause();
            asking = true;
            if (!ask()) break;
            continue;
        }
        ++accounted;
        emptied = false;
        const std::optional<int> code = ErrorEntryCode(line);
        if (!code) {
            // Only the message's own reply is no entry, and it comes first.
            if (message && !exchange.reply && !entriesRead) {
                exchange.reply = line;
                exchange.replyAt = Exchange::Clock::now();
            } else {
                exchange.strays.push_back(line);
            }
            if (!asking) return exchange;
            continue;
        }
        if (!asking) {
            // An entry where the message's reply belongs.
            exchange.strays.push_back(line);
            return exchange;
        }
        entriesRead = true;
        if (*code == 0) {
            emptied = true;
        } else if (*code == kLockedOut) {
            ++exchange.lockedOut;
            ++accounted;
        } else {
            exchange.errors.push_back(line);
        }
    }
    exchange.end = Exchange::End::Broken;
    return exchange;
}

}  // namespace tarnel::bench
