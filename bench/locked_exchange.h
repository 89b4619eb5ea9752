// One message and its reply on a connection to an instrument whose exclusive
// lock another client may hold. While it does, the instrument runs none of
// this client's messages: it answers nothing and puts -203 into this
// client's error queue (a VXI-11 link may also be turned away at once with
// error 11, the message not taken). So when a reply does not come within
// the channel's short wait, a question goes out that tells which of the
// questions sent ran, and reads one entry of the queue:
//   *ESE n;*ESE?;:SYST:ERR?   answered  n;<entry>
// (n a tag of its own, 1..255). The first answer to any question settles the
// message: it ran before that question (its reply came first) or it was
// refused. Questions go out again while nothing comes, and at once while
// the queue holds more; the exchange ends with the answer to the last
// question sent and the queue empty, so nothing of it is left on the
// connection. The queue holds 10 entries: a lock longer than that many
// short waits loses the newest refusals to -350.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
    bool settledByQuestion = false;            // a question's answer came (the message ran or was refused before it)
    long lockedOut = 0;                        // -203 entries read: messages of this client the lock refused
    bool overflowed = false;                   // -350 read: refusals beyond the queue's 10 entries were lost
    std::vector<std::string> errors;           // the other entries read from the queue
    std::vector<std::string> strays;           // lines that answer nothing sent: always a fault
    long questions = 0;                        // questions the channel took
    std::string trace;                         // what happened once the reply was late, for the line on a fault

    // The message went nowhere because of the lock: turned away, or no
    // reply and the queue told a refusal.
    bool RefusedByLock() const {
        return turnedAway || (end == End::Settled && settledByQuestion && !reply && (lockedOut > 0 || overflowed));
    }
};

struct ExchangeTimes {
    std::chrono::steady_clock::time_point giveUp;   // Unanswered after this
    std::chrono::milliseconds lockedPause{50};      // before asking again after a Locked outcome
};

// Sends `message` and reads its reply; with no message, reads the error
// queue until it is empty. Never waits past times.giveUp (beyond the
// channel's own short wait).
Exchange Converse(MessageChannel& channel, std::optional<std::string_view> message, const ExchangeTimes& times);

// The question of this tag: *ESE 7;*ESE?;:SYST:ERR?
std::string Question(int tag);

// A question's answer "7;-203,\"...\"": the tag and the entry; nothing for any other line.
std::optional<std::pair<int, std::string_view>> AnswerToQuestion(std::string_view line);

// The code of an error queue entry such as -203,"Command protected; ..." or
// 0,"No error"; nothing for any other text.
std::optional<int> ErrorEntryCode(std::string_view entry);

}  // namespace tarnel::bench
