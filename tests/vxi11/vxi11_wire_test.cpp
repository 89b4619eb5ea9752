// The VXI-11 server's wire without sockets: record marking, RPC call headers
// and the accept states, a link's input and output, the portmapper's answers.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

#include "rpc_bytes.h"
#include "test_instrument.h"
#include "scpi/served_instrument.h"
#include "vxi11/core_channel.h"
#include "vxi11/link_buffers.h"
#include "vxi11/portmapper.h"
#include "vxi11/record_marking.h"
#include "vxi11/served_instrument_device.h"
#include "vxi11/vxi11_codes.h"

namespace tarnel::vxi11 {
namespace {

using test::CallMessage;
using test::Words;
using test::WordAt;

std::string Fragment(std::string_view body, bool last) {
    std::string out = Words({static_cast<std::uint32_t>(body.size()) | (last ? 0x80000000u : 0u)});
    out.append(body);
    return out;
}

TEST(RecordAssembler, JoinsFragmentsInAnyChunkingAndRefusesLongRecords) {
    struct Case {
        const char* what;
        std::string stream;
        std::size_t chunk;   // bytes fed at a time
        std::vector<std::string> records;
        bool tooLong;
    };
    const std::string twoFragments = Fragment("abc", false) + Fragment("defg", true);
    const std::vector<Case> cases = {
        {"one fragment at once", Fragment("hello", true), 100, {"hello"}, false},
        {"two fragments byte by byte", twoFragments, 1, {"abcdefg"}, false},
        {"two records in one chunk", Fragment("a", true) + Fragment("bc", true), 100, {"a", "bc"}, false},
        {"an empty fragment before the last", Fragment("", false) + Fragment("x", true), 3, {"x"}, false},
        {"a record at the limit", Fragment(std::string(16, 'z'), true), 5, {std::string(16, 'z')}, false},
        {"a header announcing more than the limit", Words({0x80000000u | 17}), 100, {}, true},
        {"fragments adding up beyond the limit", Fragment(std::string(10, 'a'), false) + Fragment(std::string(7, 'b'), true),
         100, {}, true},
        {"a header's length with every bit set", Words({0xFFFFFFFFu}), 2, {}, true},
    };
    for (const Case& c : cases) {
        RecordAssembler assembler(16);
        std::vector<std::string> records;
        bool tooLong = false;
        for (std::size_t at = 0; at < c.stream.size() && !tooLong; at += c.chunk) {
            assembler.Feed(std::string_view(c.stream).substr(at, c.chunk));
            std::string record;
            RecordAssembler::Step step;
            while ((step = assembler.Next(record)) == RecordAssembler::Step::Record) records.push_back(record);
            tooLong = step == RecordAssembler::Step::TooLong;
        }
        EXPECT_EQ(records, c.records) << c.what;
        EXPECT_EQ(tooLong, c.tooLong) << c.what;
    }
    EXPECT_EQ(RecordOf("ab"), Words({0x80000002u}) + "ab");
}

class CoreMessages : public ::testing::Test {
protected:
    test::TestInstrument instrument{"Tarnel,Test Instrument,0,1.0"};
    scpi::ServedInstrument served{test::TestInstrumentCommands(instrument), scpi::DispatchMode::OneAtATime};
    ServedInstrumentDevice device{served};
    DeviceSlot slot{{"inst0"}, device};
    CoreChannel core{{&slot}, CoreLimits{}};
};

TEST_F(CoreMessages, AnswerEachHeaderWithItsAcceptStateOrDenialOrClose) {
    constexpr std::uint32_t kCore = 0x0607AF;
    constexpr std::uint32_t kAbort = 0x0607B0;
    // create_link's arguments: clientId, lockDevice, lock_timeout, device<>.
    const std::string createInst0 = Words({1, 0, 0, 5}) + std::string("inst0\0\0\0", 8);
    enum class Expect { Closed, Denied, Accepted };
    struct Case {
        const char* what;
        std::string message;
        Expect expect;
        std::uint32_t state;   // the accept state, or the denial's reason
    };
    const std::vector<Case> cases = {
        {"create_link", CallMessage(1, kCore, 1, 10, createInst0), Expect::Accepted, 0},
        {"the null procedure", CallMessage(2, kCore, 1, 0, ""), Expect::Accepted, 0},
        {"another program", CallMessage(3, 0x20000001, 1, 10, createInst0), Expect::Accepted, 1},
        {"the core's version 2", CallMessage(4, kCore, 2, 10, createInst0), Expect::Accepted, 2},
        {"a procedure it does not have", CallMessage(5, kCore, 1, 99, ""), Expect::Accepted, 3},
        {"create_link cut short", CallMessage(6, kCore, 1, 10, Words({1, 0})), Expect::Accepted, 4},
        {"a device name longer than the message", CallMessage(7, kCore, 1, 10, Words({1, 0, 0, 0x7FFFFFF0})),
         Expect::Accepted, 4},
        {"device_write's data longer than the message", CallMessage(8, kCore, 1, 11, Words({1, 0, 0, 8, 0xFFFFFFFF})),
         Expect::Accepted, 4},
        {"device_docmd's data longer than the message",
         CallMessage(9, kCore, 1, 22, Words({1, 0, 0, 0, 0, 0, 4, 0x10000000})), Expect::Accepted, 4},
        {"RPC version 3", CallMessage(10, kCore, 1, 10, createInst0, 3), Expect::Denied, 0},
        {"a reply instead of a call", Words({11, 1, 0, 0, 0, 0}), Expect::Closed, 0},
        {"a header cut short", Words({12, 0, 2, kCore}), Expect::Closed, 0},
        {"credentials longer than allowed", Words({13, 0, 2, kCore, 1, 10, 0, 401}), Expect::Closed, 0},
        {"credentials of an unknown flavor", Words({14, 0, 2, kCore, 1, 0, 6, 0, 0, 0}), Expect::Denied, 1},
    };
    const auto session = core.OpenCoreSession();
    for (const Case& c : cases) {
        const std::optional<std::string> reply = AnswerMessage(c.message, *session);
        if (c.expect == Expect::Closed) {
            EXPECT_FALSE(reply.has_value()) << c.what;
            continue;
        }
        ASSERT_TRUE(reply.has_value()) << c.what;
        EXPECT_EQ(WordAt(*reply, 0), WordAt(c.message, 0)) << c.what << ": the xid";
        EXPECT_EQ(WordAt(*reply, test::kReplyState), c.expect == Expect::Denied ? 1u : 0u) << c.what;
        EXPECT_EQ(WordAt(*reply, c.expect == Expect::Denied ? 12 : test::kAcceptState), c.state) << c.what;
    }
    // The version mismatch names the versions there are; the abort channel has its own program.
    const auto mismatch = AnswerMessage(CallMessage(20, kCore, 7, 10, ""), *session);
    EXPECT_EQ(mismatch->substr(test::kResults), Words({1, 1}));
    const auto abortSession = core.OpenAbortSession();
    EXPECT_EQ(WordAt(*AnswerMessage(CallMessage(21, kCore, 1, 1, Words({1})), *abortSession), test::kAcceptState), 1u);
    const auto abortReply = AnswerMessage(CallMessage(22, kAbort, 1, 1, Words({999})), *abortSession);
    EXPECT_EQ(WordAt(*abortReply, test::kResults), static_cast<std::uint32_t>(DeviceError::InvalidLink));
}

TEST(LinkBuffersTest, JoinsWritesUntilEndAndCutsLines) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, bool>> writes;   // data, END
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"one write with END", {{"*IDN?", true}}, {"*IDN?"}},
        {"a message over three writes", {{"VAL", false}, {"ue 1", false}, {"2", true}}, {"VALue 12"}},
        {"a line end ends a message before END", {{"A\nB", false}, {"C", true}}, {"A", "BC"}},
        {"CR LF and END together", {{"A\r\n", true}}, {"A"}},
        {"an END of its own closes the open message", {{"A", false}, {"", true}}, {"A"}},
        {"no END, no message", {{"A", false}}, {}},
    };
    for (const Case& c : cases) {
        LinkBuffers buffers;
        std::vector<std::string> messages;
        for (const auto& [data, end] : c.writes) {
            for (const auto& line : buffers.Write(data, end)) messages.push_back(line.text);
        }
        EXPECT_EQ(messages, c.messages) << c.what;
    }
}

TEST(LinkBuffersTest, ReadsInPiecesWithTheirReasons) {
    struct Piece {
        std::string data;
        long reason;
    };
    struct Case {
        const char* what;
        std::size_t requestSize;
        std::optional<char> termChar;
        std::vector<Piece> pieces;   // of the replies "ABCDE" and "XY"
    };
    const long kReq = kReasonRequestCount, kChr = kReasonTermChar, kEnd = kReasonEnd;
    const std::vector<Case> cases = {
        {"large reads: one reply each", 100, std::nullopt, {{"ABCDE\n", kEnd}, {"XY\n", kEnd}}},
        {"reads of two", 2, std::nullopt, {{"AB", kReq}, {"CD", kReq}, {"E\n", kReq | kEnd}, {"XY", kReq}, {"\n", kEnd}}},
        {"a read of the reply's size", 6, std::nullopt, {{"ABCDE\n", kReq | kEnd}, {"XY\n", kEnd}}},
        {"term char C", 100, 'C', {{"ABC", kChr}, {"DE\n", kEnd}, {"XY\n", kEnd}}},
        {"term char LF", 100, '\n', {{"ABCDE\n", kChr | kEnd}, {"XY\n", kChr | kEnd}}},
        {"term char beyond the read's size", 2, 'D', {{"AB", kReq}, {"CD", kReq | kChr}, {"E\n", kReq | kEnd},
                                                      {"XY", kReq}, {"\n", kEnd}}},
    };
    for (const Case& c : cases) {
        LinkBuffers buffers;
        buffers.AddReply("ABCDE");
        buffers.AddReply("XY");
        for (const Piece& expected : c.pieces) {
            ASSERT_TRUE(buffers.HasOutput()) << c.what;
            const LinkBuffers::Piece piece = buffers.Read(c.requestSize, c.termChar);
            EXPECT_EQ(piece.data, expected.data) << c.what;
            EXPECT_EQ(piece.reason, expected.reason) << c.what << " at " << expected.data;
        }
        EXPECT_FALSE(buffers.HasOutput()) << c.what;
    }
}

TEST(PortmapperSessionTest, TellsThePortsOfItsProgramsOnly) {
    PortmapperSession session({{0x0607AF, 1, IPPROTO_TCP, 4321}, {0x0607B0, 1, IPPROTO_TCP, 4322}});
    struct Case {
        const char* what;
        std::string message;
        std::uint32_t state;
        std::string results;
    };
    const std::vector<Case> cases = {
        {"the core on TCP", CallMessage(1, 100000, 2, 3, Words({0x0607AF, 1, IPPROTO_TCP, 0})), 0, Words({4321})},
        {"the abort channel", CallMessage(2, 100000, 2, 3, Words({0x0607B0, 1, IPPROTO_TCP, 0})), 0, Words({4322})},
        {"the core on UDP", CallMessage(3, 100000, 2, 3, Words({0x0607AF, 1, IPPROTO_UDP, 0})), 0, Words({0})},
        {"another version", CallMessage(4, 100000, 2, 3, Words({0x0607AF, 2, IPPROTO_TCP, 0})), 0, Words({0})},
        {"the null procedure", CallMessage(5, 100000, 2, 0, ""), 0, ""},
        {"rpcbind version 4", CallMessage(6, 100000, 4, 3, ""), 2, Words({2, 2})},
        {"SET, not taken from clients", CallMessage(7, 100000, 2, 1, Words({1, 1, 6, 1})), 3, ""},
        {"GETPORT cut short", CallMessage(8, 100000, 2, 3, Words({1})), 4, ""},
    };
    for (const Case& c : cases) {
        const auto reply = AnswerMessage(c.message, session);
        ASSERT_TRUE(reply.has_value()) << c.what;
        EXPECT_EQ(WordAt(*reply, test::kAcceptState), c.state) << c.what;
        EXPECT_EQ(reply->substr(test::kResults), c.results) << c.what;
    }
}

}  // namespace
}  // namespace tarnel::vxi11
