// One message and its reply on a connection to an instrument whose exclusive
// lock another client may hold. While it does, the instrument runs none of
// this client's messages: it answers nothing and puts -203 into this
// client's error queue (a VXI-11 link may also be turned away at once with
// error 11, the message not taken). So a reply that does not come within the
// channel's short wait is followed by SYST:ERR?, asked again while nothing
// comes, and the queue is read until it is empty and every message sent is
// accounted for: a reply line, or a -203 entry.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::bench {

// A connection to the instrument as the soak's clients use it: whole
// program messages out, whole reply lines in.
class MessageChannel {
public:
    enum class Outcome {
        Done,         // sent, or a reply line read
        NothingYet,   // no reply within the channel's short wait
        Locked,       // turned away at once: another client holds the lock (VXI-11 error 11)
        Broken,       // the connection is gone or failed; it must be opened again
    };
    virtual ~MessageChannel() = default;
    // One program message; the channel adds its end.
    virtual Outcome Send(std::string_view message) = 0;
    // The next reply line, waiting at most the channel's short wait.
    virtual Outcome Receive(std::string& line) = 0;
};

struct Exchange {
    using Clock = std::chrono::steady_clock;
    enum class End { Settled, Broken, Unanswered };

    End end = End::Settled;
    std::optional<std::string> reply;          // the message's own reply
    Clock::time_point replyAt{};
    bool turnedAway = false;                   // the channel did not take the message (VXI-11 error 11)
    long lockedOut = 0;                        // -203 entries read: messages of this client the lock refused
    std::vector<std::string> errors;           // the other entries read from the queue
    std::vector<std::string> strays;           // lines that answer no message sent: always a fault

    // The message went nowhere because of the lock: turned away, or no reply and a -203.
    bool RefusedByLock() const { return turnedAway || (!reply && lockedOut > 0 && end == End::Settled); }
};

struct ExchangeTimes {
    std::chrono::steady_clock::time_point giveUp;   // Unanswered after this
    std::chrono::milliseconds lockedPause{50};      // before asking again after a Locked outcome
};

// Sends `message` and reads its reply; with no message, reads the error
// queue until it is empty. Never waits past times.giveUp (beyond the
// channel's own short wait).
Exchange Converse(MessageChannel& channel, std::optional<std::string_view> message, const ExchangeTimes& times);

// The code of an error queue entry such as -203,"Command protected; ..." or
// 0,"No error"; nothing for any other line.
std::optional<int> ErrorEntryCode(std::string_view line);

}  // namespace tarnel::bench
