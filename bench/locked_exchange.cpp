#include "locked_exchange.h"

#include <charconv>
#include <thread>

namespace tarnel::bench {

namespace {

constexpr int kLockedOut = -203;
constexpr int kQueueOverflow = -350;
constexpr int kMostTags = 255;   // *ESE takes 0..255; 0 is no tag

// A whole number at the start of `text`, and the rest after it.
std::optional<std::pair<int, std::string_view>> LeadingNumber(std::string_view text) {
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc()) return std::nullopt;
    return std::pair{number, text.substr(static_cast<std::size_t>(end - text.data()))};
}

}  // namespace

std::string Question(int tag) { return "*ESE " + std::to_string(tag) + ";*ESE?;:SYST:ERR?"; }

std::optional<std::pair<int, std::string_view>> AnswerToQuestion(std::string_view line) {
    const auto tag = LeadingNumber(line);
    if (!tag || tag->first < 1 || tag->first > kMostTags || tag->second.empty() || tag->second.front() != ';') {
        return std::nullopt;
    }
    const std::string_view entry = tag->second.substr(1);
    if (!ErrorEntryCode(entry)) return std::nullopt;
    return std::pair{tag->first, entry};
}

std::optional<int> ErrorEntryCode(std::string_view entry) {
    const auto code = LeadingNumber(entry);
    if (!code || code->second.size() < 2 || code->second.substr(0, 2) != ",\"") return std::nullopt;
    return code->first;
}

Exchange Converse(MessageChannel& channel, std::optional<std::string_view> message, const ExchangeTimes& times) {
    using Outcome = MessageChannel::Outcome;
    Exchange exchange;
    int lastTag = 0;           // the tag of the last question the channel took
    bool waiting = false;      // for the answer to that question
    bool asking = !message;    // questions go out
    const auto pause = [&] { std::this_thread::sleep_for(times.lockedPause); };
    const auto ask = [&] {
        const int tag = lastTag % kMostTags + 1;
        const Outcome outcome = channel.Send(Question(tag));
        if (outcome == Outcome::Done) {
            lastTag = tag;
            waiting = true;
            ++exchange.questions;
        }
        exchange.trace += outcome == Outcome::Done ? " ask" : outcome == Outcome::Locked ? " ask-locked" : " ask-broken";
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
    }
    for (;;) {
        if (Exchange::Clock::now() > times.giveUp) {
            exchange.end = Exchange::End::Unanswered;
            return exchange;
        }
        if (asking && !waiting) {
            if (!ask()) break;
            continue;
        }
        std::string line;
        const Outcome outcome = channel.Receive(line);
        if (outcome == Outcome::Broken) break;
        if (outcome != Outcome::Done) {
            // Nothing came: the lock may have refused what is outstanding.
            exchange.trace += outcome == Outcome::Locked ? " read-locked" : " nothing";
            if (outcome == Outcome::Locked) pause();
            asking = true;
            if (!ask()) break;
            continue;
        }
        const auto answer = AnswerToQuestion(line);
        if (!answer || !asking) {
            // Only the message's own reply is no answer to a question, and it comes first.
            if (!answer && message && !exchange.reply && !exchange.settledByQuestion) {
                exchange.reply = line;
                exchange.replyAt = Exchange::Clock::now();
            } else {
                exchange.strays.push_back(line);
            }
            if (!asking) return exchange;
            continue;
        }
        exchange.settledByQuestion = true;
        const int code = *ErrorEntryCode(answer->second);
        exchange.trace += " [" + std::to_string(answer->first) + ";" + std::to_string(code) + "]";
        if (code == kLockedOut) {
            ++exchange.lockedOut;
        } else if (code == kQueueOverflow) {
            exchange.overflowed = true;
        } else if (code != 0) {
            exchange.errors.emplace_back(answer->second);
        }
        if (answer->first == lastTag) {
            waiting = false;
            // Nothing outstanding and the queue empty: done. Otherwise the
            // queue holds more, and the next question goes out at once.
            if (code == 0) return exchange;
        }
    }
    exchange.end = Exchange::End::Broken;
    return exchange;
}

}  // namespace tarnel::bench
