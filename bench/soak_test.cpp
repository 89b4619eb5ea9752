// The soak's exchange on an instrument whose lock another client may hold
// and its check of a pair (scripted channels), its checks against the locks
// and absences of a board, and its reading of the server's lines.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tarnel/board_protocol.h>

#include "emulated_server.h"
#include "locked_exchange.h"
#include "pair_check.h"
#include "soak_timeline.h"

namespace tarnel::bench {
namespace {

using Outcome = MessageChannel::Outcome;
using namespace std::chrono_literals;

constexpr const char* kPair = "DAC:CODE 5;:MEAS?";
constexpr const char* kEmpty = "0,\"No error\"";
constexpr const char* kRefused = "-203,\"Command protected; another client holds the instrument's lock\"";
constexpr const char* kAway = "-241,\"Hardware missing; the board is gone\"";
constexpr const char* kOverflow = "-350,\"Queue overflow\"";

// A question's answer: its tag and one entry of the queue.
std::string Answer(int tag, const char* entry) { return std::to_string(tag) + ";" + entry; }

// Sends take the scripted outcomes in turn (Done once they run out);
// receives the scripted lines (Broken once they run out, so that a wrong
// turn ends the exchange instead of looping).
class ScriptedChannel : public MessageChannel {
public:
    ScriptedChannel(std::deque<Outcome> sends, std::deque<std::pair<Outcome, std::string>> receives)
        : sends_(std::move(sends)), receives_(std::move(receives)) {}
    Outcome Send(std::string_view message) override {
        sent.emplace_back(message);
        if (sends_.empty()) return Outcome::Done;
        const Outcome outcome = sends_.front();
        sends_.pop_front();
        return outcome;
    }
    Outcome Receive(std::string& line) override {
        if (receives_.empty()) return Outcome::Broken;
        const auto [outcome, text] = receives_.front();
        receives_.pop_front();
        line = text;
        return outcome;
    }
    std::vector<std::string> sent;   // every message tried, taken or not

private:
    std::deque<Outcome> sends_;
    std::deque<std::pair<Outcome, std::string>> receives_;
};

std::pair<Outcome, std::string> Line(const std::string& text) { return {Outcome::Done, text}; }
std::pair<Outcome, std::string> Nothing() { return {Outcome::NothingYet, ""}; }

struct ExchangeCase {
    const char* what;
    bool withMessage;
    std::deque<Outcome> sends;
    std::deque<std::pair<Outcome, std::string>> receives;
    std::vector<std::string> expectSent;
    std::optional<std::string> expectReply;
    bool expectRefused;
    long expectLockedOut;
    std::vector<std::string> expectErrors;
    std::size_t expectStrays;
    Exchange::End expectEnd;
};

TEST(LockedExchange, EveryMessageSettledAsTheLockComesAndGoes) {
    const std::string q1 = Question(1), q2 = Question(2), q3 = Question(3), q4 = Question(4), q5 = Question(5),
                      q6 = Question(6);
    const std::vector<ExchangeCase> cases = {
        {"the reply at once", true, {}, {Line("1.5E+00")}, {kPair}, "1.5E+00", false, 0, {}, 0, Exchange::End::Settled},
        {"a VXI-11 link turned away at once", true, {Outcome::Locked}, {}, {kPair}, std::nullopt, true, 0, {}, 0,
         Exchange::End::Settled},
        {"refused by the lock, found as -203", true, {}, {Nothing(), Line(Answer(1, kRefused)), Line(Answer(2, kEmpty))},
         {kPair, q1, q2}, std::nullopt, true, 1, {}, 0, Exchange::End::Settled},
        {"a long lock: the questions refused too, their refusals read one after another", true, {},
         {Nothing(), Nothing(), Nothing(), Line(Answer(3, kRefused)), Line(Answer(4, kRefused)),
          Line(Answer(5, kRefused)), Line(Answer(6, kEmpty))},
         {kPair, q1, q2, q3, q4, q5, q6}, std::nullopt, true, 3, {}, 0, Exchange::End::Settled},
        {"a question on its way when the next went out", true, {},
         {Nothing(), Nothing(), Line(Answer(1, kRefused)), Line(Answer(2, kEmpty))}, {kPair, q1, q2}, std::nullopt,
         true, 1, {}, 0, Exchange::End::Settled},
        {"a lock longer than the queue", true, {}, {Nothing(), Line(Answer(1, kOverflow)), Line(Answer(2, kEmpty))},
         {kPair, q1, q2}, std::nullopt, true, 0, {}, 0, Exchange::End::Settled},
        {"a slow reply after the question went out", true, {}, {Nothing(), Line("2.0E+00"), Line(Answer(1, kEmpty))},
         {kPair, q1}, "2.0E+00", false, 0, {}, 0, Exchange::End::Settled},
        {"a VXI-11 read turned away while locked, then the reply", true, {Outcome::Done, Outcome::Locked},
         {{Outcome::Locked, ""}, Line("2.0E+00"), Line(Answer(1, kEmpty))}, {kPair, q1, q1}, "2.0E+00", false, 0, {},
         0, Exchange::End::Settled},
        {"the queue read to its end", false, {},
         {Line(Answer(1, kAway)), Line(Answer(2, kAway)), Line(Answer(3, kEmpty))}, {q1, q2, q3}, std::nullopt, false,
         0, {kAway, kAway}, 0, Exchange::End::Settled},
        {"no reply and no refusal: the message vanished", true, {}, {Nothing(), Line(Answer(1, kEmpty))}, {kPair, q1},
         std::nullopt, false, 0, {}, 0, Exchange::End::Settled},
        {"an answer to a question never asked", true, {}, {Line(Answer(1, kEmpty))}, {kPair}, std::nullopt, false, 0,
         {}, 1, Exchange::End::Settled},
        {"a reply after the message was settled as refused", true, {},
         {Nothing(), Line(Answer(1, kRefused)), Line("1.0E+00"), Line(Answer(2, kEmpty))}, {kPair, q1, q2},
         std::nullopt, true, 1, {}, 1, Exchange::End::Settled},
        {"the connection gone", true, {}, {{Outcome::Broken, ""}}, {kPair}, std::nullopt, false, 0, {}, 0,
         Exchange::End::Broken},
        {"the message not taken", true, {Outcome::Broken}, {}, {kPair}, std::nullopt, false, 0, {}, 0,
         Exchange::End::Broken},
    };
    for (const ExchangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedChannel channel(c.sends, c.receives);
        const std::optional<std::string_view> message =
            c.withMessage ? std::optional<std::string_view>(kPair) : std::nullopt;
        const Exchange exchange = Converse(channel, message, {std::chrono::steady_clock::now() + 10s, 0ms});
        EXPECT_EQ(channel.sent, c.expectSent);
        EXPECT_EQ(exchange.reply, c.expectReply);
        EXPECT_EQ(exchange.RefusedByLock(), c.expectRefused);
        EXPECT_EQ(exchange.lockedOut, c.expectLockedOut);
        EXPECT_EQ(exchange.errors, c.expectErrors);
        EXPECT_EQ(exchange.strays.size(), c.expectStrays);
        EXPECT_EQ(exchange.end, c.expectEnd);
    }
}

TEST(LockedExchange, GivesUpAtItsBound) {
    ScriptedChannel channel({}, {Nothing(), Nothing(), Nothing()});
    const Exchange exchange = Converse(channel, kPair, {std::chrono::steady_clock::now() - 1ms, 0ms});
    EXPECT_EQ(exchange.end, Exchange::End::Unanswered);
    EXPECT_FALSE(exchange.RefusedByLock());
}

TEST(LockedExchange, AnswersToQuestionsToldFromReplies) {
    EXPECT_EQ(Question(7), "*ESE 7;*ESE?;:SYST:ERR?");
    const std::vector<std::pair<std::string, std::optional<std::pair<int, std::string>>>> cases = {
        {Answer(7, kRefused), std::pair{7, std::string(kRefused)}},
        {Answer(255, kEmpty), std::pair{255, std::string(kEmpty)}},
        {"12;-113,\"Undefined header;FOO\"", std::pair{12, std::string("-113,\"Undefined header;FOO\"")}},
        {"9.91E+37", std::nullopt},
        {"0E+00", std::nullopt},
        {"1.234567E+00", std::nullopt},
        {kEmpty, std::nullopt},
        {Answer(0, kEmpty), std::nullopt},
        {Answer(256, kEmpty), std::nullopt},
        {"7;", std::nullopt},
        {"7;1.5E+00", std::nullopt},
        {"7;-203,", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, expected] : cases) {
        const auto answer = AnswerToQuestion(line);
        ASSERT_EQ(answer.has_value(), expected.has_value()) << line;
        if (answer) {
            EXPECT_EQ(answer->first, expected->first) << line;
            EXPECT_EQ(answer->second, expected->second) << line;
        }
    }
}

// The reply of a board that reads back `code` right.
std::string LevelOf(std::uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6E", protocol::DacOutputVolts(code));
    return text;
}

TEST(PairCheck, RepliesRefusalsAndAbsencesCountedAsTheyShould) {
    constexpr std::uint32_t kCode = 200000;
    const struct {
        const char* what;
        std::deque<Outcome> sends;
        std::deque<std::pair<Outcome, std::string>> receives;
        bool holdsLock;
        bool answeredBefore;   // a reply came on this connection before
        bool goesOn;           // the connection stays
        long pairs, wrong, lockRefusals, refusals, away, refused, dropped;
    } cases[] = {
        {"the level set", {}, {Line(LevelOf(kCode))}, false, false, true, 1, 0, 0, 0, 0, 0, 0},
        {"another level, no error", {}, {Line(LevelOf(kCode / 2)), Line(Answer(1, kEmpty))}, false, false, true, 1, 1,
         0, 0, 0, 0, 0},
        {"not a number, the board away", {}, {Line("9.91E+37"), Line(Answer(1, kAway)), Line(Answer(2, kEmpty))},
         false, false, true, 1, 0, 0, 0, 1, 0, 0},
        {"not a number and no error", {}, {Line("9.91E+37"), Line(Answer(1, kEmpty))}, false, false, true, 1, 1, 0, 0,
         0, 0, 0},
        {"the start level from a board opened again", {}, {Line(LevelOf(0)), Line(Answer(1, kAway)), Line(Answer(2, kEmpty))},
         false, false, true, 1, 0, 0, 0, 1, 0, 0},
        {"refused by another client's lock", {}, {Nothing(), Line(Answer(1, kRefused)), Line(Answer(2, kEmpty))}, false,
         false, true, 0, 0, 1, 1, 0, 0, 0},
        {"turned away by another link's lock", {Outcome::Locked}, {}, false, false, true, 0, 0, 1, 1, 0, 0, 0},
        {"refused while this link holds the lock", {}, {Nothing(), Line(Answer(1, kRefused)), Line(Answer(2, kEmpty))},
         true, false, true, 0, 1, 1, 0, 0, 0, 0},
        {"no reply and no refusal", {}, {Nothing(), Line(Answer(1, kEmpty))}, false, false, true, 0, 1, 0, 0, 0, 0, 0},
        {"a line that answers nothing", {}, {Line(Answer(9, kEmpty))}, false, false, true, 0, 2, 0, 0, 0, 0, 0},
        {"closed before any reply", {}, {{Outcome::Broken, ""}}, false, false, false, 0, 0, 0, 0, 0, 1, 0},
        {"closed after replies came", {}, {{Outcome::Broken, ""}}, false, true, false, 0, 0, 0, 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedChannel channel(c.sends, c.receives);
        PairContext context{"raw", 1, -1, c.holdsLock, c.answeredBefore};
        std::atomic<long> allPairs = 0;
        Tally tally;
        EXPECT_EQ(CheckedPair(channel, context, kCode, allPairs, tally), c.goesOn);
        EXPECT_EQ(tally.pairs, c.pairs);
        EXPECT_EQ(allPairs.load(), c.pairs);
        EXPECT_EQ(tally.wrong, c.wrong);
        EXPECT_EQ(tally.lockRefusals, c.lockRefusals);
        EXPECT_EQ(static_cast<long>(tally.refusals.size()), c.refusals);
        EXPECT_EQ(static_cast<long>(tally.awayReplies.size()), c.away);
        EXPECT_EQ(tally.refused, c.refused);
        EXPECT_EQ(tally.dropped, c.dropped);
        EXPECT_EQ(static_cast<long>(tally.latencyMicroseconds.size()), c.pairs);
    }
}

TEST(SoakTimeline, EventsCheckedAgainstTheSpansOfTheirBoard) {
    const SoakClock::time_point t0{};
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    // Board 0 locked by locking client 1 from 1000 to 2000 ms; board 1 by client 0 from 5000 to 6000 ms.
    const std::vector<BoardSpan> locks = {{0, at(1000), at(2000), 1}, {1, at(5000), at(6000), 0}};
    const struct {
        const char* what;
        BoardSpan event;
        long outside;
    } cases[] = {
        {"a raw client's refusal in the lock", {0, at(1500), at(1600), -1}, 0},
        {"one that began before the lock and ended in it", {0, at(500), at(1100), -1}, 0},
        {"just before the lock, within the slack", {0, at(900), at(950), -1}, 0},
        {"well before the lock", {0, at(100), at(300), -1}, 1},
        {"in the lock of another board", {1, at(1500), at(1600), -1}, 1},
        {"a locking client refused by its own lock only", {1, at(5500), at(5600), 0}, 1},
        {"a locking client refused by another's lock", {0, at(1500), at(1600), 0}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outside({c.event}, locks, 100ms), c.outside) << c.what;
    }
}

TEST(SoakTimeline, AbsencesRunFromEachLossToTheReturnAfterIt) {
    const SoakClock::time_point t0{};
    const auto at = [&](int s) { return t0 + std::chrono::seconds(s); };
    const auto spans = Absences(2, {at(1), at(5), at(9)}, {at(2), at(6)}, at(20));
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].from, at(1));
    EXPECT_EQ(spans[0].to, at(2));
    EXPECT_EQ(spans[1].to, at(6));
    EXPECT_EQ(spans[2].to, at(20));   // still away at the end
    EXPECT_EQ(spans[2].board, 2u);
    EXPECT_EQ(Outside({{2, at(3), at(3), -1}}, spans, 0s), 1);
    EXPECT_EQ(Outside({{2, at(12), at(12), -1}}, spans, 0s), 0);
}

TEST(EmulatedServerLines, BoardsAndTheirEventsReadFromTheServersLines) {
    const auto served = ServedBoardIn("tarnelctl: board 1-2 (board 1) serves SCPI on 127.0.0.1:35819, VXI-11 device inst1 or 1-2\n");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->portPath, "1-2");
    EXPECT_EQ(served->rawPort, 35819);
    EXPECT_EQ(served->deviceName, "inst1");
    const auto rawOnly = ServedBoardIn("tarnelctl: board 1-3 (board 0) serves SCPI on 127.0.0.1:5027\n");
    ASSERT_TRUE(rawOnly);
    EXPECT_EQ(rawOnly->deviceName, "");
    EXPECT_FALSE(ServedBoardIn("tarnelctl: board 1-2 lost: LIBUSB_ERROR_NO_DEVICE; commands answer -241\n"));
    EXPECT_FALSE(ServedBoardIn("tarnelctl: board 1-2 (board 1) serves SCPI on 127.0.0.1:0x\n"));

    const struct {
        const char* line;
        const char* board;
        const char* rest;
    } lines[] = {
        {"tarnelctl: board 1-2 lost: gone; commands answer -241 until it is back\n", "1-2", " lost: "},
        {"tarnelctl: board 1-10 is back\n", "1-10", " is back"},
        {"tarnelctl: portmapper: no rpcbind runs\n", "", ""},
        {"tarnelctl: board \n", "", ""},
    };
    for (const auto& l : lines) {
        std::string rest;
        EXPECT_EQ(BoardNamedIn(l.line, rest), l.board) << l.line;
        EXPECT_EQ(rest.substr(0, std::string(l.rest).size()), l.rest) << l.line;
    }
}

}  // namespace
}  // namespace tarnel::bench
