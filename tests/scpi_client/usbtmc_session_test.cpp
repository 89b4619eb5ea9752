// The USBTMC exchange against a scripted device: the bytes of every bulk
// transfer, the tags, replies however the device cuts them, the checks that
// turn a broken reply into Garbled, and the requests that follow a timeout.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "scpi/client/instrument_failure.h"
#include "scpi/client/usbtmc_reply.h"
#include "scpi/client/usbtmc_session.h"
#include "scripted_usb_device.h"

namespace tarnel::scpi::client::usbtmc {
namespace {

using testing::ScriptedDevice;
using testing::ScriptedReply;
using namespace std::chrono_literals;
using Log = std::vector<std::string>;

constexpr char kResource[] = "USB0::0x1209::0xB212::EMU0001::INSTR";

SessionSettings FastSettings() {
    SessionSettings settings;
    settings.readSize = 256;
    settings.mostOutBytes = 64;
    settings.requestTimeout = 20ms;
    settings.cleanupTime = 200ms;
    settings.pollInterval = 1ms;
    return settings;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

ScriptedReply Reply(std::string payload, bool endOfMessage = true) {
    ScriptedReply reply;
    reply.payload = std::move(payload);
    reply.endOfMessage = endOfMessage;
    return reply;
}

ScriptedReply AfterStrayZeroLengthPacket(std::string payload) {
    ScriptedReply reply = Reply(std::move(payload));
    reply.strayZeroLengthPacketFirst = true;
    return reply;
}

const auto kSuccess = static_cast<int>(Status::Success);
const auto kPending = static_cast<int>(Status::Pending);
const auto kFailed = static_cast<int>(Status::Failed);
const auto kNotInProgress = static_cast<int>(Status::TransferNotInProgress);

struct Fixture {
    explicit Fixture(SessionSettings settings = FastSettings(), std::size_t packetSize = 64, bool usb488 = true,
                     bool interruptIn = false) {
        auto owned = std::make_unique<ScriptedDevice>(packetSize, usb488, interruptIn);
        device = owned.get();
        session = std::make_unique<Session>(std::move(owned), kResource, settings);
    }
    ScriptedDevice* device;
    std::unique_ptr<Session> session;
};

// The failure `action` throws; fails the test when it throws none.
InstrumentFailure FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const InstrumentFailure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no failure";
    return InstrumentFailure(FailureKind::Unreachable, "none");
}

TEST(UsbtmcSend, TransfersCarryTheMessageWithItsLineEndAndEomOnTheLast) {
    struct Case {
        std::string message;
        std::size_t mostOutBytes;
        std::vector<std::string> pieces;   // the message bytes of each transfer
    };
    const Case cases[] = {
        {"*IDN?", 64, {"*IDN?\n"}},
        {"", 64, {"\n"}},
        {"VOLT 1.25", 4, {"VOLT", " 1.2", "5\n"}},
        {"ABC", 4, {"ABC\n"}},
        {"ABCD", 4, {"ABCD", "\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + " in pieces of " + std::to_string(c.mostOutBytes));
        SessionSettings settings = FastSettings();
        settings.mostOutBytes = c.mostOutBytes;
        Fixture f(settings);
        f.session->Send(c.message);
        ASSERT_EQ(f.device->bulkOut.size(), c.pieces.size());
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const auto& transfer = f.device->bulkOut[i];
            const std::uint8_t tag = static_cast<std::uint8_t>(i + 1);
            const bool last = i + 1 == c.pieces.size();
            ASSERT_EQ(transfer.size(), kHeaderSize + Padded(c.pieces[i].size()));
            const std::vector<std::uint8_t> header(transfer.begin(), transfer.begin() + kHeaderSize);
            const std::uint32_t size = static_cast<std::uint32_t>(c.pieces[i].size());
            EXPECT_EQ(header, Bytes({1, tag, static_cast<std::uint8_t>(~tag), 0, static_cast<int>(size & 0xFF),
                                     static_cast<int>(size >> 8), 0, 0, last ? 1 : 0, 0, 0, 0}));
            EXPECT_EQ(std::string(transfer.begin() + kHeaderSize, transfer.begin() + kHeaderSize + size), c.pieces[i]);
            EXPECT_TRUE(std::all_of(transfer.begin() + kHeaderSize + size, transfer.end(), [](auto b) { return b == 0; }))
                << "alignment bytes are zero";
        }
        EXPECT_TRUE(f.device->faults.empty());
    }
}

TEST(UsbtmcSend, TagsRunFrom1To255AndWrapTo1NeverUsing0) {
    Fixture f;
    std::uint8_t previous = 0;
    for (int i = 0; i < 600; ++i) {
        f.session->Send("X");
        const std::uint8_t tag = f.device->bulkOut.back()[1];
        ASSERT_NE(tag, 0);
        ASSERT_EQ(tag, previous == 255 ? 1 : previous + 1) << "transfer " << i;
        previous = tag;
    }
}

TEST(UsbtmcReceive, RepliesAreJoinedHoweverTheDeviceCutsThem) {
    struct Case {
        const char* name;
        std::vector<ScriptedReply> transfers;
        std::string expected;
        std::size_t requests;   // REQUEST_DEV_DEP_MSG_IN sent
    };
    const std::string exactRead(256 - kHeaderSize, 'e');   // header and payload fill one read
    const std::string exactPacket(64 - kHeaderSize, 'p');  // one full packet, then a zero-length one
    Case cases[] = {
        {"one packet", {Reply("+1.234E-3\n")}, "+1.234E-3", 1},
        {"CR LF", {Reply("1.5\r\n")}, "1.5", 1},
        {"one line end only", {Reply("A\n\n")}, "A\n", 1},
        {"no line end, EOM alone ends it", {Reply("ABC")}, "ABC", 1},
        {"empty", {Reply("")}, "", 1},
        {"spans packets", {Reply(std::string(200, 'a') + "\n")}, std::string(200, 'a'), 1},
        {"a full transfer, then the rest", {Reply(exactRead, false), Reply("g\n")}, exactRead + "g", 2},
        {"exactly one packet, ended by a zero-length packet", {Reply(exactPacket)}, exactPacket, 1},
        {"exactly one read", {Reply(exactRead)}, exactRead, 1},
        {"several transfers until EOM", {Reply("ABC", false), Reply("DEF", false), Reply("GHI\n")}, "ABCDEFGHI", 3},
        {"a stray zero-length packet before a transfer", {Reply("1", false), AfterStrayZeroLengthPacket("2\n")},
         "12", 2},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        for (ScriptedReply& reply : c.transfers) f.device->QueueReply(reply);
        EXPECT_EQ(f.session->Receive(1s, "MEAS?"), c.expected);
        EXPECT_EQ(std::count_if(f.device->log.begin(), f.device->log.end(),
                                [](const std::string& e) { return e.rfind("out request", 0) == 0; }),
                  static_cast<long>(c.requests));
        EXPECT_TRUE(f.device->faults.empty()) << f.device->faults.front();
    }
}

// A transfer cut into bulk-IN reads anywhere, the header too, comes out whole.
TEST(UsbtmcInTransfer, TakesATransferCutIntoReadsAnywhere) {
    const std::string payload = "+1.00000E+00,+2.00000E+00";
    const auto header = EncodeHeader({MsgId::DevDepMsgIn, 7, static_cast<std::uint32_t>(payload.size()), kEom, 0});
    std::vector<std::uint8_t> transfer(header.begin(), header.end());
    transfer.insert(transfer.end(), payload.begin(), payload.end());
    transfer.resize(Padded(transfer.size()), 0);
    const std::vector<std::vector<std::size_t>> cuts = {{}, {5}, {12}, {13}, {11, 12, 36}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}};
    for (const auto& cut : cuts) {
        InTransfer in(7, 100);
        std::size_t from = 0;
        for (const std::size_t to : cut) {
            ASSERT_EQ(in.Take(std::span(transfer).subspan(from, to - from), false), InTransfer::State::Reading);
            from = to;
        }
        EXPECT_EQ(in.Take(std::span(transfer).subspan(from), true), InTransfer::State::Complete) << in.Problem();
        EXPECT_EQ(in.Payload(), payload);
        EXPECT_TRUE(in.EndOfMessage());
    }
}

TEST(UsbtmcReceive, TheRequestAsksForOneReadLessTheHeaderWithItsOwnTag) {
    Fixture f;
    f.session->Send("*IDN?");
    f.device->QueueReply(Reply("X\n"));
    f.session->Receive(1s, "*IDN?");
    const auto& request = f.device->bulkOut.back();
    EXPECT_EQ(std::vector<std::uint8_t>(request.begin(), request.end()),
              Bytes({2, 2, 0xFD, 0, 256 - 12, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(UsbtmcReceive, BrokenTransfersAreGarbledAndNameTheirFault) {
    struct Case {
        const char* name;
        ScriptedReply reply;
        const char* said;
    };
    ScriptedReply badTag = Reply("1\n");
    badTag.tag = 9;
    ScriptedReply badMsgId = Reply("1\n");
    badMsgId.msgId = 127;
    ScriptedReply badInverse = Reply("1\n");
    badInverse.brokenTagInverse = true;
    ScriptedReply sizeOverSent = Reply("1\n");
    sizeOverSent.transferSize = 40;
    ScriptedReply sizeOverAsked = Reply("1\n");
    sizeOverAsked.transferSize = 100000;
    ScriptedReply bytesPastSize = Reply("1\n");
    bytesPastSize.extraBytes = 8;
    ScriptedReply cutHeader = Reply("1\n");
    cutHeader.headerBytes = 8;
    const Case cases[] = {
        {"bTag", badTag, "its header's bTag is 9, not the 1 it was asked with"},
        {"MsgID", badMsgId, "its header's MsgID is 127, not DEV_DEP_MSG_IN (2)"},
        {"bTagInverse", badInverse, "bTagInverse is not the inverse of its bTag"},
        {"TransferSize over the bytes sent", sizeOverSent, "the transfer ended after 4 of the 40 bytes"},
        {"TransferSize over the bytes asked", sizeOverAsked, "TransferSize of 100000 bytes is over the 244 asked for"},
        {"bytes past TransferSize", bytesPastSize, "carried 10 bytes past its TransferSize of 2"},
        {"transfer inside its header", cutHeader, "ended after 8 bytes, inside its 12-byte header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.device->QueueReply(c.reply);
        f.device->Answer(Request::InitiateAbortBulkIn, Bytes({kFailed, 1}));
        const InstrumentFailure failure = FailureOf([&] { f.session->Receive(1s, "MEAS?"); });
        EXPECT_EQ(failure.Kind(), FailureKind::Garbled);
        EXPECT_NE(std::string(failure.what()).find(c.said), std::string::npos) << failure.what();
        EXPECT_EQ(std::string(failure.what()).rfind(std::string("the meter at ") + kResource + " sent a broken reply to MEAS?", 0),
                  0u)
            << failure.what();
    }
}

TEST(UsbtmcReceive, AReplyOver1MiBWithoutEomIsGarbled) {
    SessionSettings settings = FastSettings();
    settings.readSize = 4096;
    Fixture f(settings);
    const std::string piece(4096 - kHeaderSize, 'z');
    for (std::size_t sent = 0; sent <= kLongestReply; sent += piece.size()) f.device->QueueReply(Reply(piece, false));
    f.device->Answer(Request::InitiateClear, Bytes({kSuccess}));
    f.device->Answer(Request::CheckClearStatus, Bytes({kSuccess, 0}));
    const InstrumentFailure failure = FailureOf([&] { f.session->Receive(10s, "FETC?"); });
    EXPECT_EQ(failure.Kind(), FailureKind::Garbled);
    EXPECT_NE(std::string(failure.what()).find("over 1 MiB without ending its reply to FETC?"), std::string::npos);
    EXPECT_EQ(f.device->log.back(), "halt out") << "the device is cleared for the next exchange";
}

// After a timeout: the requests sent, in order, from the timed-out transfer on.
TEST(UsbtmcTimeout, AbortsTheTransferThenFallsBackToAClear) {
    struct Case {
        const char* name;
        std::function<void(ScriptedDevice&)> script;
        Log requests;            // the log from the first abort request on
        const char* said;        // in the failure's message
        bool clean;              // the message does not say the meter stayed unclean
    };
    const Case cases[] = {
        {"bulk-IN abort, its data read off while PENDING",
         [](ScriptedDevice& d) {
             d.Answer(Request::InitiateAbortBulkIn, Bytes({kSuccess, 1}));
             d.Answer(Request::CheckAbortBulkInStatus, Bytes({kPending, 1, 0, 0, 0, 0, 0, 0}));
             d.Answer(Request::CheckAbortBulkInStatus, Bytes({kPending, 0, 0, 0, 0, 0, 0, 0}));
             d.Answer(Request::CheckAbortBulkInStatus, Bytes({kSuccess, 0, 0, 0, 0, 0, 0, 0}));
         },
         {"abort-in tag=1", "in", "check-abort-in", "in", "check-abort-in", "check-abort-in"},
         "did not answer MEAS? within 0.5 s",
         true},
        {"nothing in progress: FAILED ends it",
         [](ScriptedDevice& d) { d.Answer(Request::InitiateAbortBulkIn, Bytes({kFailed, 1})); },
         {"abort-in tag=1"},
         "did not answer MEAS?",
         true},
        {"tag not in progress: a clear instead",
         [](ScriptedDevice& d) {
             d.Answer(Request::InitiateAbortBulkIn, Bytes({kNotInProgress, 1}));
             d.Answer(Request::InitiateClear, Bytes({kSuccess}));
             d.Answer(Request::CheckClearStatus, Bytes({kPending, 0}));
             d.Answer(Request::CheckClearStatus, Bytes({kSuccess, 0}));
         },
         {"abort-in tag=1", "clear", "check-clear", "check-clear", "halt out"},
         "did not answer MEAS?",
         true},
        {"abort status FAILED: a clear instead",
         [](ScriptedDevice& d) {
             d.Answer(Request::InitiateAbortBulkIn, Bytes({kSuccess, 1}));
             d.Answer(Request::CheckAbortBulkInStatus, Bytes({kFailed, 0, 0, 0, 0, 0, 0, 0}));
             d.Answer(Request::InitiateClear, Bytes({kSuccess}));
             d.Answer(Request::CheckClearStatus, Bytes({kSuccess, 0}));
         },
         {"abort-in tag=1", "in", "check-abort-in", "clear", "check-clear", "halt out"},
         "did not answer MEAS?",
         true},
        {"PENDING for ever: bounded, then a clear",
         [](ScriptedDevice& d) {
             d.Answer(Request::InitiateAbortBulkIn, Bytes({kSuccess, 1}));
             d.Answer(Request::CheckAbortBulkInStatus, Bytes({kPending, 0, 0, 0, 0, 0, 0, 0}), 100000);
         },
         {},
         "it did not answer INITIATE_CLEAR",
         false},
        {"no class request answered",
         [](ScriptedDevice&) {},
         {"abort-in tag=1", "clear"},
         "did not answer MEAS? within 0.5 s; it did not answer INITIATE_CLEAR",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.script(*f.device);
        const InstrumentFailure failure = FailureOf([&] { f.session->Receive(500ms, "MEAS?"); });
        EXPECT_EQ(failure.Kind(), FailureKind::Timeout);
        const std::string message = failure.what();
        EXPECT_NE(message.find(c.said), std::string::npos) << message;
        EXPECT_EQ(message.find("INITIATE_CLEAR") == std::string::npos, c.clean) << message;
        const Log& log = f.device->log;
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(Log(log.begin(), log.begin() + 2), (Log{"out request tag=1", "in"}));
        if (!c.requests.empty()) {
            EXPECT_EQ(Log(log.begin() + 2, log.end()), c.requests);
        }
        EXPECT_TRUE(f.device->faults.empty()) << f.device->faults.front();
    }
}

TEST(UsbtmcTimeout, TheNextExchangeAfterAnAbortIsClean) {
    Fixture f;
    f.device->Answer(Request::InitiateAbortBulkIn, Bytes({kSuccess, 1}));
    f.device->Answer(Request::CheckAbortBulkInStatus, Bytes({kSuccess, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_THROW(f.session->Receive(100ms, "MEAS?"), InstrumentFailure);
    f.device->QueueReply(Reply("+2.5\n"));
    EXPECT_EQ(f.session->Receive(1s, "MEAS?"), "+2.5");
    EXPECT_EQ(f.device->log.back(), "in");
}

TEST(UsbtmcTimeout, ASendTheDeviceDoesNotTakeIsAbortedOnBulkOut) {
    struct Case {
        const char* name;
        std::function<void(Session&)> exchange;
        const char* said;
        Log log;
    };
    const Case cases[] = {
        {"a message", [](Session& s) { s.Send("VOLT 1"); }, "took no bytes of 'VOLT 1' for 5.0 s",
         {"out msg tag=1 eom", "abort-out tag=1", "check-abort-out", "check-abort-out", "halt out"}},
        {"the request for a reply", [](Session& s) { s.Receive(1s, "MEAS?"); }, "did not answer MEAS? within 1.0 s",
         {"out request tag=1", "abort-out tag=1", "check-abort-out", "check-abort-out", "halt out"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionSettings settings = FastSettings();
        settings.sendTimeout = 5s;
        Fixture f(settings);
        f.device->FailNextBulkOut(PipeStatus::TimedOut);
        f.device->Answer(Request::InitiateAbortBulkOut, Bytes({kSuccess, 1}));
        f.device->Answer(Request::CheckAbortBulkOutStatus, Bytes({kPending, 0, 0, 0, 4, 0, 0, 0}));
        f.device->Answer(Request::CheckAbortBulkOutStatus, Bytes({kSuccess, 0, 0, 0, 4, 0, 0, 0}));
        const InstrumentFailure failure = FailureOf([&] { c.exchange(*f.session); });
        EXPECT_EQ(failure.Kind(), FailureKind::Timeout);
        EXPECT_NE(std::string(failure.what()).find(c.said), std::string::npos) << failure.what();
        EXPECT_EQ(f.device->log, c.log);
        EXPECT_TRUE(f.device->faults.empty()) << f.device->faults.front();
    }
}

TEST(UsbtmcClear, ClearsReadsOffQueuedDataAndClearsTheBulkOutHalt) {
    Fixture f;
    f.device->QueueBulkIn(std::vector<std::uint8_t>(100, 0x55));
    f.device->Answer(Request::InitiateClear, Bytes({kSuccess}));
    f.device->Answer(Request::CheckClearStatus, Bytes({kPending, 1}));
    f.device->Answer(Request::CheckClearStatus, Bytes({kSuccess, 0}));
    f.session->Clear();
    EXPECT_EQ(f.device->log, (Log{"clear", "check-clear", "in", "check-clear", "halt out"}));
    EXPECT_TRUE(f.device->faults.empty()) << f.device->faults.front();

    f.device->Answer(Request::InitiateClear, Bytes({kFailed}));
    const InstrumentFailure failure = FailureOf([&] { f.session->Clear(); });
    EXPECT_EQ(failure.Kind(), FailureKind::Garbled);
    EXPECT_NE(std::string(failure.what()).find("could not be cleared: it answered INITIATE_CLEAR with status 0x80 — "),
              std::string::npos)
        << failure.what();
}

TEST(UsbtmcStart, AsksForCapabilitiesAndAssertsRemoteWhenOffered) {
    struct Case {
        const char* name;
        bool usb488;
        int usb488InterfaceCapabilities;
        Log log;
    };
    const Case cases[] = {
        {"USB488 with REN_CONTROL", true, 0x06, {"capabilities", "ren value=1"}},
        {"USB488 without it", true, 0x04, {"capabilities"}},
        {"plain USBTMC", false, 0x06, {"capabilities"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(FastSettings(), 64, c.usb488);
        std::vector<std::uint8_t> capabilities(0x18, 0);
        capabilities[0] = kSuccess;
        capabilities[2] = 0x00;
        capabilities[3] = 0x01;
        capabilities[14] = static_cast<std::uint8_t>(c.usb488InterfaceCapabilities);
        f.device->Answer(Request::GetCapabilities, capabilities);
        f.device->Answer(Request::RenControl, Bytes({kSuccess}));
        f.session->Start(1s);
        EXPECT_EQ(f.device->log, c.log);
        EXPECT_TRUE(f.device->faults.empty()) << f.device->faults.front();
        EXPECT_EQ(f.session->Details().front().second.rfind("USBTMC 1.00", 0), 0u) << f.session->Details().front().second;
    }
    Fixture silent;
    const InstrumentFailure failure = FailureOf([&] { silent.session->Start(1s); });
    EXPECT_EQ(failure.Kind(), FailureKind::Unreachable);
    EXPECT_NE(std::string(failure.what()).find("did not answer GET_CAPABILITIES — "), std::string::npos);
}

TEST(UsbtmcStatusByte, ComesInTheAnswerOrOnTheInterruptEndpoint) {
    Fixture plain(FastSettings(), 64, true, false);
    plain.device->Answer(Request::ReadStatusByte, Bytes({kSuccess, 2, 0x50}));
    EXPECT_EQ(plain.session->ReadStatusByte(), std::optional<std::uint8_t>(0x50));

    Fixture interrupt(FastSettings(), 64, true, true);
    interrupt.device->Answer(Request::ReadStatusByte, Bytes({kSuccess, 2, 0}));
    interrupt.device->QueueNotification(Bytes({0x81, 0x40}));   // a service request, passed over
    interrupt.device->QueueNotification(Bytes({0x82, 0x10}));
    EXPECT_EQ(interrupt.session->ReadStatusByte(), std::optional<std::uint8_t>(0x10));
    EXPECT_EQ(interrupt.device->log, (Log{"status-byte tag=2", "interrupt", "interrupt"}));
    interrupt.device->Answer(Request::ReadStatusByte, Bytes({kSuccess, 3, 0}));
    EXPECT_EQ(FailureOf([&] { interrupt.session->ReadStatusByte(); }).Kind(), FailureKind::Timeout);

    Fixture usbtmcOnly(FastSettings(), 64, false);
    EXPECT_EQ(usbtmcOnly.session->ReadStatusByte(), std::nullopt);
    EXPECT_TRUE(usbtmcOnly.device->log.empty());
}

TEST(UsbtmcStatusByte, TagsRunFrom2To127) {
    Fixture f;
    for (int i = 0; i < 300; ++i) {
        const int tag = 2 + i % 126;
        f.device->Answer(Request::ReadStatusByte, Bytes({kSuccess, tag, 0}));
        f.session->ReadStatusByte();
        ASSERT_EQ(f.device->log.back(), "status-byte tag=" + std::to_string(tag));
    }
    f.device->Answer(Request::ReadStatusByte, Bytes({kSuccess, 99, 0}));
    EXPECT_EQ(FailureOf([&] { f.session->ReadStatusByte(); }).Kind(), FailureKind::Garbled) << "a wrong bTag";
}

TEST(UsbtmcLost, AnUnpluggedDeviceIsLost) {
    const std::function<void(Session&)> exchanges[] = {
        [](Session& s) { s.Send("*RST"); },
        [](Session& s) { s.Receive(1s, "MEAS?"); },
        [](Session& s) { s.Clear(); },
        [](Session& s) { s.ReadStatusByte(); },
    };
    for (const auto& exchange : exchanges) {
        Fixture f;
        f.device->Unplug();
        const InstrumentFailure failure = FailureOf([&] { exchange(*f.session); });
        EXPECT_EQ(failure.Kind(), FailureKind::Lost);
        EXPECT_EQ(std::string(failure.what()),
                  std::string("the meter at ") + kResource + " was unplugged — check the meter and its USB cable, then run again");
    }
}

}  // namespace
}  // namespace tarnel::scpi::client::usbtmc
