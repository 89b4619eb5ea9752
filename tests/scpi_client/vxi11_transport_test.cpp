// The VXI-11 transport against a fake instrument on libtirpc's svc, in a
// network of the test's own (port 111 is the portmapper's): how it fails to
// open and what each failure names, messages cut to the link's size, replies
// joined from their pieces, the status byte, clear and the link's end, and
// the timeouts of a device or a link that stops answering.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "fake_vxi11_server.h"
#include "private_network.h"
#include "scpi/client/instrument.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/vxi11_transport.h"

namespace tarnel::scpi::client {
namespace {

using testing::FakeVxi11Server;
using testing::Vxi11Script;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string noPrivateNetwork;

constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();
constexpr long kEndFlag = 8;

Vxi11Settings FastSettings() {
    Vxi11Settings settings;
    settings.sendTimeout = 500ms;
    settings.requestTimeout = 100ms;
    settings.answerGrace = 100ms;
    return settings;
}

Vxi11Resource Local(std::string device = "inst0") { return Vxi11Resource{0, "127.0.0.1", std::move(device)}; }

InstrumentFailure FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const InstrumentFailure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no failure";
    return InstrumentFailure(FailureKind::Garbled, "none");
}

void ExpectPhrases(const std::string& message, const std::vector<std::string>& phrases) {
    for (const std::string& phrase : phrases) EXPECT_NE(message.find(phrase), std::string::npos) << phrase;
}

class Vxi11Transport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!noPrivateNetwork.empty()) GTEST_SKIP() << noPrivateNetwork;
    }
};

TEST_F(Vxi11Transport, OpeningFailuresNameTheHostTheDeviceAndTheFix) {
    struct Case {
        std::string name;
        std::function<void(Vxi11Script&)> script;
        std::string device;
        FailureKind kind;
        std::vector<std::string> phrases;
    };
    const Case cases[] = {
        {"no portmapper", [](Vxi11Script& s) { s.portmapper = false; }, "inst0", FailureKind::Unreachable,
         {"cannot reach the meter at TCPIP0::127.0.0.1::inst0::INSTR: no portmapper answers on 127.0.0.1 port 111",
          "refused", "VXI-11 interface is on"}},
        {"no VXI-11 server", [](Vxi11Script& s) { s.coreRegistered = false; }, "inst0", FailureKind::Unreachable,
         {"the portmapper on 127.0.0.1 knows no VXI-11 server", "TCPIP0::HOST::5025::SOCKET"}},
        {"no such device", [](Vxi11Script& s) { s.linkError = 3; }, "inst7", FailureKind::Unreachable,
         {"TCPIP0::127.0.0.1::inst7::INSTR: 127.0.0.1 has no device 'inst7' (VXI-11 error 3, device not accessible)",
          "usually inst0"}},
        {"locked", [](Vxi11Script& s) { s.linkError = 11; }, "inst0", FailureKind::Busy,
         {"device locked by another link", "close the other programs"}},
        {"unknown error", [](Vxi11Script& s) { s.linkError = 21; }, "inst0", FailureKind::Unreachable,
         {"VXI-11 error 21, invalid address"}},
        {"silent", [](Vxi11Script& s) { s.answeredCalls = 0; }, "inst0", FailureKind::Unreachable,
         {"the VXI-11 server on 127.0.0.1 port", "did not answer create_link within"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Vxi11Script script;
        c.script(script);
        FakeVxi11Server fake(script);
        const auto start = Clock::now();
        const InstrumentFailure failure =
            FailureOf([&] { OpenVxi11Transport(Local(c.device), 300ms, FastSettings()); });
        EXPECT_LT(Clock::now() - start, 1s) << "the opening is bounded by its timeout";
        EXPECT_EQ(failure.Kind(), c.kind) << failure.what();
        ExpectPhrases(failure.what(), c.phrases);
    }
}

TEST_F(Vxi11Transport, MessagesGoInPiecesOfTheLinksSizeWithEndOnTheLast) {
    struct Case {
        unsigned long maxRecvSize;
        std::size_t writeTakes;
        std::vector<std::size_t> taken;
        std::vector<long> flags;
    };
    const std::string message = "CONF:VOLT:DC 10,0.0001";   // 23 bytes with its line end
    const Case cases[] = {
        {1024, kAny, {23}, {kEndFlag}},
        {8, kAny, {8, 8, 7}, {0, 0, kEndFlag}},
        {23, kAny, {23}, {kEndFlag}},
        // A device that takes less than a piece gets the rest again; END goes
        // with every piece that reaches the message's end.
        {8, 5, {5, 5, 5, 5, 3}, {0, 0, 0, kEndFlag, kEndFlag}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxRecvSize);
        Vxi11Script script;
        script.maxRecvSize = c.maxRecvSize;
        script.writeTakes = c.writeTakes;
        FakeVxi11Server fake(script);
        OpenVxi11Transport(Local(), 1s, FastSettings())->Send(message);
        const auto writes = fake.Writes();
        std::string received;
        std::vector<std::size_t> taken;
        std::vector<long> flags;
        for (const auto& write : writes) {
            received += write.data;
            taken.push_back(write.data.size());
            flags.push_back(write.flags);
            EXPECT_LE(write.ioTimeout, 500u);
            EXPECT_GT(write.ioTimeout, 0u);
        }
        EXPECT_EQ(received, message + "\n");
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(flags, c.flags);
    }
}

TEST_F(Vxi11Transport, RepliesAreJoinedFromTheirPiecesUntilEnd) {
    struct Case {
        std::uint32_t readSize;
        std::size_t readPiece;
        std::string reply;
        std::string expected;
        std::size_t reads;
    };
    const Case cases[] = {
        {65536, kAny, "+1.00000000E+00\n", "+1.00000000E+00", 1},
        {4, kAny, "+1.00000000E+00\n", "+1.00000000E+00", 4},
        {65536, 5, "+1.00000000E+00\n", "+1.00000000E+00", 4},
        {6, 4, "ABCDEFGHIJ\r\n", "ABCDEFGHIJ", 3},
        {65536, kAny, "no line end", "no line end", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        Vxi11Script script;
        script.readPiece = c.readPiece;
        script.replies = {c.reply};
        FakeVxi11Server fake(script);
        Vxi11Settings settings = FastSettings();
        settings.readSize = c.readSize;
        EXPECT_EQ(OpenVxi11Transport(Local(), 1s, settings)->Receive(1s, "READ?"), c.expected);
        const auto sizes = fake.ReadRequestSizes();
        EXPECT_EQ(sizes.size(), c.reads);
        EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end(), [&](unsigned long size) { return size == c.readSize; }));
    }
}

TEST_F(Vxi11Transport, StatusByteClearDescriptionAndTheLinksEnd) {
    Vxi11Script script;
    script.statusByte = 0x50;
    FakeVxi11Server fake(script);
    {
        auto transport = OpenVxi11Transport(Local(), 1s, FastSettings());
        EXPECT_EQ(transport->ReadStatusByte(), std::optional<std::uint8_t>(0x50));
        transport->Clear();
        EXPECT_EQ(transport->Describe(), "TCPIP0::127.0.0.1::inst0::INSTR");
        const auto details = transport->Details();
        ASSERT_EQ(details.size(), 1u);
        EXPECT_EQ(details[0].first, "VXI-11 link");
        EXPECT_EQ(details[0].second, "device inst0 on core channel port " + std::to_string(fake.CorePort()) +
                                         ", up to 1024 bytes a write");
    }
    EXPECT_EQ(fake.Calls(),
              (std::vector<std::string>{"create_link inst0", "device_readstb", "device_clear", "destroy_link"}));
}

TEST_F(Vxi11Transport, ADeviceTimeoutCarriesTheDeadlineAndIsATimeout) {
    Vxi11Script script;
    script.readError = 15;
    FakeVxi11Server fake(script);
    auto transport = OpenVxi11Transport(Local(), 1s, FastSettings());
    const InstrumentFailure failure = FailureOf([&] { transport->Receive(300ms, "READ?"); });
    EXPECT_EQ(failure.Kind(), FailureKind::Timeout);
    ExpectPhrases(failure.what(), {"the meter at TCPIP0::127.0.0.1::inst0::INSTR did not answer READ? within 0.3 s",
                                   "check the meter and its LAN connection"});
    const auto timeouts = fake.ReadIoTimeouts();
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_LE(timeouts[0], 300u);
    EXPECT_GT(timeouts[0], 200u);
}

TEST_F(Vxi11Transport, ALinkThatFallsSilentIsUnreachableBeforeItsFirstReplyAndTimedOutAfter) {
    struct Case {
        int answeredCalls;   // create_link, then device_write and device_read per query
        FailureKind kind;
    };
    const Case cases[] = {
        {2, FailureKind::Unreachable},   // the first query's read gets no answer
        {4, FailureKind::Timeout},       // the first reply came, the second query's read gets none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answeredCalls);
        Vxi11Script script;
        script.answeredCalls = c.answeredCalls;
        script.replies = {"+1.0\n", "+2.0\n"};
        FakeVxi11Server fake(script);
        Instrument meter(OpenVxi11Transport(Local(), 1s, FastSettings()));
        if (c.kind == FailureKind::Timeout) {
            EXPECT_EQ(meter.Query("READ?", 300ms), "+1.0");
        }
        const auto start = Clock::now();
        const InstrumentFailure failure = FailureOf([&] { meter.Query("READ?", 300ms); });
        EXPECT_LT(Clock::now() - start, 300ms + 100ms + 300ms) << "the reply's timeout and the grace";
        EXPECT_EQ(failure.Kind(), c.kind) << failure.what();
        ExpectPhrases(failure.what(), {"did not answer READ? within 0.3 s"});
    }
}

TEST_F(Vxi11Transport, AReplyLongerThanAskedForIsGarbled) {
    Vxi11Script script;
    script.overlongReads = true;
    script.replies = {"+1.0\n"};
    FakeVxi11Server fake(script);
    Vxi11Settings settings = FastSettings();
    settings.readSize = 16;
    auto transport = OpenVxi11Transport(Local(), 1s, settings);
    const InstrumentFailure failure = FailureOf([&] { transport->Receive(300ms, "READ?"); });
    EXPECT_EQ(failure.Kind(), FailureKind::Garbled) << failure.what();
    ExpectPhrases(failure.what(), {"sent no VXI-11 reply to device_read after READ?"});
}

TEST_F(Vxi11Transport, EveryHostFormOfTheResourceReachesTheMeter) {
    for (const char* text : {"TCPIP0::127.0.0.1::INSTR", "TCPIP::[::1]::inst0::INSTR", "tcpip0::localhost::instr"}) {
        SCOPED_TRACE(text);
        Vxi11Script script;
        script.replies = {"Fake,VXI-11 DMM,1,1.0\n"};
        FakeVxi11Server fake(script);
        const auto resource = ParseInstrumentResource(text);
        ASSERT_TRUE(resource);
        Instrument meter(*resource, ConnectionOptions{}, 2s);
        EXPECT_EQ(meter.Query("*IDN?", 1s), "Fake,VXI-11 DMM,1,1.0");
        EXPECT_EQ(fake.Writes().at(0).data, "*IDN?\n");
    }
}

}  // namespace
}  // namespace tarnel::scpi::client

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tarnel::scpi::client::noPrivateNetwork = tarnel::scpi::client::testing::EnterPrivateNetwork();
    return RUN_ALL_TESTS();
}
