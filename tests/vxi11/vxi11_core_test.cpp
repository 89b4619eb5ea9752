// The VXI-11 server in process through real sockets: libtirpc's client for
// the core and abort calls, raw sockets for what no client library sends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "rpc_bytes.h"
#include "test_instrument.h"
#include "scpi/served_instrument.h"
#include "vxi11/record_marking.h"
#include "vxi11/served_instrument_device.h"
#include "vxi11/vxi11_codes.h"
#include "vxi11/vxi11_server.h"
#include "vxi11_client.h"

namespace tarnel::vxi11 {
namespace {

using Clock = std::chrono::steady_clock;
using test::CoreClient;
using test::ReadResult;

constexpr long kNone = 0;
constexpr long E(DeviceError error) { return static_cast<long>(error); }

// An instrument whose every message fails in the device.
class FailingDevice : public Vxi11Device {
public:
    void Submit(scpi::InputLines::Line, const std::shared_ptr<scpi::ConnectionState>&, Done done) override {
        done({std::nullopt, true, 0});
    }
    std::uint8_t StatusByte(scpi::ConnectionState&, bool) override { return 0; }
};

// A message of a client of the instrument other than the links (a raw
// socket's): its reply, or nothing.
std::optional<std::string> ClientQuery(scpi::InstrumentClient& client, std::string text) {
    std::promise<std::optional<std::string>> reply;
    client.Submit({std::move(text), false}, [&reply](std::optional<std::string> line) { reply.set_value(std::move(line)); });
    return reply.get_future().get();
}

Vxi11Settings LoopbackSettings() {
    Vxi11Settings settings;
    settings.host = "127.0.0.1";
    return settings;
}

class Vxi11Core : public ::testing::Test {
protected:
    void SetUp() override { Start({}); }

    void Start(AdmissionCheck admit) {
        Vxi11Settings settings = LoopbackSettings();
        settings.admit = std::move(admit);
        settings.log = [this](const std::string& line) {
            const std::lock_guard lock(logMutex);
            log.push_back(line);
        };
        server = std::make_unique<Vxi11Server>(
            std::vector<Vxi11DeviceEntry>{{{"inst0", "1-1.2"}, &first}, {{"inst1"}, &second}, {{"broken"}, &failing}},
            settings);
        ASSERT_EQ(server->Listen(), std::nullopt);
    }
    long Link(CoreClient& client, const std::string& device = "inst0") {
        const auto link = client.CreateLink(device);
        EXPECT_EQ(link.error, kNone) << device;
        return link.lid;
    }
    std::uint16_t Port() const { return server->CorePort(); }
    std::vector<std::string> Log() {
        const std::lock_guard lock(logMutex);
        return log;
    }

    test::TestInstrument firstState{"Tarnel,Test Instrument,0,1.0"};
    test::TestInstrument secondState{"Tarnel,Test Instrument,1,1.0"};
    scpi::ServedInstrument firstServed{test::TestInstrumentCommands(firstState), scpi::DispatchMode::OneAtATime};
    scpi::ServedInstrument secondServed{test::TestInstrumentCommands(secondState), scpi::DispatchMode::OneAtATime};
    ServedInstrumentDevice first{firstServed};
    ServedInstrumentDevice second{secondServed};
    FailingDevice failing;
    // Served by none until a test adds it.
    test::TestInstrument thirdState{"Tarnel,Test Instrument,2,1.0"};
    scpi::ServedInstrument thirdServed{test::TestInstrumentCommands(thirdState), scpi::DispatchMode::OneAtATime};
    ServedInstrumentDevice third{thirdServed};
    std::mutex logMutex;
    std::vector<std::string> log;
    std::unique_ptr<Vxi11Server> server;
};

TEST_F(Vxi11Core, CreateLinkReachesADeviceByAnyOfItsNames) {
    CoreClient client(Port());
    ASSERT_TRUE(client.Connected());
    struct Case {
        std::string name;
        long error;
        std::string identity;
    };
    const std::vector<Case> cases = {
        {"inst0", kNone, "Tarnel,Test Instrument,0,1.0\n"},
        {"1-1.2", kNone, "Tarnel,Test Instrument,0,1.0\n"},
        {"INST1", kNone, "Tarnel,Test Instrument,1,1.0\n"},
        {"inst2", E(DeviceError::NotAccessible), ""},
        {"", E(DeviceError::NotAccessible), ""},
    };
    std::vector<long> lids;
    for (const Case& c : cases) {
        const auto link = client.CreateLink(c.name);
        EXPECT_EQ(link.error, c.error) << c.name;
        if (link.error != kNone) continue;
        EXPECT_EQ(link.abortPort, server->AbortPort()) << c.name;
        EXPECT_EQ(link.maxRecvSize, CoreLimits{}.maxRecvSize) << c.name;
        EXPECT_EQ(client.Query(link.lid, "*IDN?"), c.identity) << c.name;
        for (const long other : lids) EXPECT_NE(other, link.lid) << c.name;
        lids.push_back(link.lid);
    }
}

TEST_F(Vxi11Core, ADeviceAddedWhileServingIsReachedAndTheOpenLinksStay) {
    CoreClient client(Port());
    ASSERT_TRUE(client.Connected());
    const long open = Link(client, "inst0");
    ASSERT_EQ(client.Write(open, "VAL 7", kFlagEnd).first, kNone);
    struct Case {
        std::vector<std::string> names;
        std::optional<std::string> refusal;
    };
    const std::vector<Case> cases = {
        {{"bench", "1-1.2"}, "VXI-11 device name 1-1.2 is served already"},
        {{"INST1"}, "VXI-11 device name INST1 is served already"},
        {{"inst2", "1-1.3"}, std::nullopt},
        {{"1-1.3"}, "VXI-11 device name 1-1.3 is served already"},
    };
    for (const Case& c : cases) EXPECT_EQ(server->AddDevice({c.names, &third}), c.refusal) << c.names.front();

    EXPECT_EQ(client.CreateLink("bench").error, E(DeviceError::NotAccessible)) << "a refused device was added";
    for (const std::string name : {"inst2", "1-1.3"}) {
        EXPECT_EQ(client.Query(Link(client, name), "*IDN?"), "Tarnel,Test Instrument,2,1.0\n") << name;
    }
    EXPECT_EQ(client.Query(Link(client, "1-1.2"), "*IDN?"), "Tarnel,Test Instrument,0,1.0\n");
    EXPECT_EQ(client.Query(open, "VAL?"), "7\n") << "the link open before the device came";
}

TEST_F(Vxi11Core, CallsAnswerInvalidLinkForALinkThatIsNoneAndNotSupportedForWhatIsNotServed) {
    CoreClient client(Port());
    const long destroyed = Link(client);
    ASSERT_EQ(client.OnLink(destroy_link, destroyed), kNone);
    const long live = Link(client);
    for (const long lid : {destroyed, 9999L, -1L}) {
        const std::vector<std::pair<const char*, long>> calls = {
            {"device_write", client.Write(lid, "*IDN?", kFlagEnd).first},
            {"device_read", client.Read(lid, 100).error},
            {"device_readstb", client.ReadStatusByte(lid).first},
            {"device_trigger", client.Generic(device_trigger, lid)},
            {"device_clear", client.Generic(device_clear, lid)},
            {"device_remote", client.Generic(device_remote, lid)},
            {"device_local", client.Generic(device_local, lid)},
            {"device_lock", client.Lock(lid, 0, 0)},
            {"device_unlock", client.OnLink(device_unlock, lid)},
            {"device_enable_srq", client.EnableSrq(lid)},
            {"device_docmd", client.Docmd(lid)},
            {"destroy_link", client.OnLink(destroy_link, lid)},
        };
        for (const auto& [call, error] : calls) EXPECT_EQ(error, E(DeviceError::InvalidLink)) << call << " on " << lid;
    }
    EXPECT_EQ(client.EnableSrq(live), E(DeviceError::NotSupported));
    EXPECT_EQ(client.Docmd(live), E(DeviceError::NotSupported));
    EXPECT_EQ(client.CreateInterruptChannel(), E(DeviceError::NotSupported));
    EXPECT_EQ(client.DestroyInterruptChannel(), E(DeviceError::NotSupported));
    EXPECT_EQ(client.Generic(device_remote, live), kNone);
    EXPECT_EQ(client.Generic(device_local, live), kNone);
    CoreClient abortChannel(server->AbortPort(), DEVICE_ASYNC);
    EXPECT_EQ(abortChannel.OnLink(device_abort, destroyed), E(DeviceError::InvalidLink));
    EXPECT_EQ(abortChannel.OnLink(device_abort, live), kNone);
}

TEST_F(Vxi11Core, WritesJoinUntilEndAndTheLimitIsKept) {
    CoreClient client(Port());
    const long lid = Link(client);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, long>> writes;
        std::string query;   // then, and its reply
        std::string reply;
    };
    const std::vector<Case> cases = {
        {"a query over two writes", {{"*ID", 0}, {"N?", kFlagEnd}}, "", "Tarnel,Test Instrument,0,1.0\n"},
        {"a setting over three writes", {{"VAL", 0}, {"ue 4", 0}, {"2", kFlagEnd}}, "VAL?", "42\n"},
        {"an END of its own", {{"VAL 7", 0}, {"", kFlagEnd}}, "VAL?", "7\n"},
        {"two messages in one write", {{"VAL 9\nVAL?\n", kFlagEnd}}, "", "9\n"},
    };
    for (const Case& c : cases) {
        for (const auto& [data, flags] : c.writes) {
            const auto [error, size] = client.Write(lid, data, flags);
            EXPECT_EQ(error, kNone) << c.what;
            EXPECT_EQ(size, data.size()) << c.what;
        }
        std::string reply;
        if (!c.query.empty()) {
            reply = client.Query(lid, c.query);
        } else {
            for (ReadResult piece; (piece.reason & kReasonEnd) == 0 && piece.error <= 0;) {
                piece = client.Read(lid, 1024);
                if (piece.error != kNone) break;
                reply += piece.data;
            }
        }
        EXPECT_EQ(reply, c.reply) << c.what;
    }
    const std::string tooMuch(CoreLimits{}.maxRecvSize + 1, 'x');
    EXPECT_EQ(client.Write(lid, tooMuch, kFlagEnd).first, E(DeviceError::Parameter));
    EXPECT_EQ(client.Query(lid, "SYST:ERR?"), "0,\"No error\"\n") << "the refused write reached the device";
}

TEST_F(Vxi11Core, SmallReadsReturnTheReplyInPiecesWithTheirReasons) {
    CoreClient client(Port());
    const long lid = Link(client);
    struct Case {
        unsigned long requestSize;
        long flags;
        char termChar;
        std::vector<std::pair<std::string, long>> pieces;
    };
    const long kReq = kReasonRequestCount, kChr = kReasonTermChar, kEnd = kReasonEnd;
    const std::vector<Case> cases = {
        {10, 0, 0, {{"Tarnel,Tes", kReq}, {"t Instrume", kReq}, {"nt,0,1.0\n", kEnd}}},
        {1024, kFlagTermCharSet, ',', {{"Tarnel,", kChr}, {"Test Instrument,", kChr}, {"0,", kChr}, {"1.0\n", kEnd}}},
        {1024, 0, ',', {{"Tarnel,Test Instrument,0,1.0\n", kEnd}}},   // the term char only counts with its flag
    };
    for (const Case& c : cases) {
        ASSERT_EQ(client.Write(lid, "*IDN?", kFlagEnd).first, kNone);
        for (const auto& [data, reason] : c.pieces) {
            const ReadResult piece = client.Read(lid, c.requestSize, c.flags, c.termChar);
            EXPECT_EQ(piece.error, kNone) << data;
            EXPECT_EQ(piece.data, data);
            EXPECT_EQ(piece.reason, reason) << data;
        }
    }
}

TEST_F(Vxi11Core, EachLinkHasItsOwnErrorQueueAndStatusByte) {
    CoreClient client(Port());
    const long mine = Link(client);
    const long other = Link(client);
    // A serial poll right after a write shows what its message did: the
    // error queue (bit 2), then a reply waiting (bit 4).
    ASSERT_EQ(client.Write(mine, "BOGUS", kFlagEnd).first, kNone);
    EXPECT_EQ(client.ReadStatusByte(mine), std::make_pair(kNone, 0x04));
    ASSERT_EQ(client.Write(mine, "*IDN?", kFlagEnd).first, kNone);
    EXPECT_EQ(client.ReadStatusByte(mine), std::make_pair(kNone, 0x14));
    EXPECT_EQ(client.ReadStatusByte(other), std::make_pair(kNone, 0));
    client.Generic(device_clear, mine);
    EXPECT_EQ(client.ReadStatusByte(mine), std::make_pair(kNone, 0x04)) << "the clear left the error queue alone";
    EXPECT_EQ(client.Query(other, "SYST:ERR?"), "0,\"No error\"\n");
    EXPECT_EQ(client.Query(mine, "SYST:ERR?").substr(0, 5), "-113,");
}

TEST_F(Vxi11Core, ClearDropsTheReplyWaitingAndTriggerReachesTheDevice) {
    CoreClient client(Port());
    const long lid = Link(client);
    ASSERT_EQ(client.Write(lid, "*IDN?", kFlagEnd).first, kNone);
    EXPECT_EQ(client.Generic(device_clear, lid), kNone);
    EXPECT_EQ(client.Read(lid, 100, 0, 0, 100).error, E(DeviceError::IoTimeout));
    EXPECT_EQ(client.Generic(device_trigger, lid), kNone);
    EXPECT_EQ(client.Generic(device_trigger, lid), kNone);
    EXPECT_EQ(client.Query(lid, "TRIG?"), "2\n");
}

TEST_F(Vxi11Core, LocksKeepOtherLinksOutUntilReleasedOrTimedOut) {
    CoreClient holderClient(Port());
    CoreClient otherClient(Port());
    const long holder = Link(holderClient);
    const long other = Link(otherClient);
    const long elsewhere = Link(otherClient, "inst1");
    ASSERT_EQ(holderClient.Lock(holder, 0, 0), kNone);
    EXPECT_EQ(holderClient.Query(holder, "*IDN?"), "Tarnel,Test Instrument,0,1.0\n") << "the holder is kept out";
    struct Case {
        const char* what;
        std::function<long()> call;
    };
    const std::vector<Case> refused = {
        {"device_write", [&] { return otherClient.Write(other, "VAL 1", kFlagEnd).first; }},
        {"device_read", [&] { return otherClient.Read(other, 100).error; }},
        {"device_readstb", [&] { return otherClient.ReadStatusByte(other).first; }},
        {"device_trigger", [&] { return otherClient.Generic(device_trigger, other); }},
        {"device_clear", [&] { return otherClient.Generic(device_clear, other); }},
        {"device_lock", [&] { return otherClient.Lock(other, 0, 0); }},
        {"create_link with lockDevice", [&] { return otherClient.CreateLink("inst0", true, 0).error; }},
    };
    for (const Case& c : refused) EXPECT_EQ(c.call(), E(DeviceError::LockedByAnotherLink)) << c.what;
    EXPECT_EQ(otherClient.OnLink(device_unlock, other), E(DeviceError::NoLockHeld));
    EXPECT_EQ(otherClient.Query(elsewhere, "VAL 5;VAL?"), "5\n") << "another device is not locked";

    // With the wait flag, a call waits lock_timeout for the lock: refused
    // when it stays held, let in when it is given up meanwhile.
    auto started = Clock::now();
    EXPECT_EQ(otherClient.Write(other, "VAL 1", kFlagEnd | kFlagWaitLock, 2000, 300).first, E(DeviceError::LockedByAnotherLink));
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(300));
    auto release = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return holderClient.OnLink(device_unlock, holder);
    });
    started = Clock::now();
    EXPECT_EQ(otherClient.Lock(other, kFlagWaitLock, 10000), kNone);
    EXPECT_EQ(release.get(), kNone);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(150));
    EXPECT_EQ(holderClient.Write(holder, "VAL 1", kFlagEnd).first, E(DeviceError::LockedByAnotherLink));
    // Destroying the holder's link gives the lock up.
    EXPECT_EQ(otherClient.OnLink(destroy_link, other), kNone);
    EXPECT_EQ(holderClient.Lock(holder, 0, 0), kNone);
}

TEST_F(Vxi11Core, ClosingAConnectionDestroysItsLinksAndGivesUpTheirLock) {
    long gone = 0;
    {
        CoreClient client(Port());
        const auto link = client.CreateLink("inst0", true, 0);
        ASSERT_EQ(link.error, kNone);
        gone = link.lid;
    }
    CoreClient client(Port());
    // The server sees the close a moment after the client closes.
    long error = -1;
    for (int attempt = 0; attempt < 100 && error != kNone; ++attempt) {
        error = client.CreateLink("inst0", true, 0).error;
        if (error != kNone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(error, kNone);
    EXPECT_EQ(client.OnLink(destroy_link, gone), E(DeviceError::InvalidLink));
}

TEST_F(Vxi11Core, IoTimeoutAndAbortEndAReadWaitingForASlowReply) {
    CoreClient client(Port());
    CoreClient abortChannel(server->AbortPort(), DEVICE_ASYNC);
    const long lid = Link(client);
    ASSERT_EQ(client.Write(lid, "SLOW? 1500", kFlagEnd).first, kNone);
    auto started = Clock::now();
    EXPECT_EQ(client.Read(lid, 100, 0, 0, 100).error, E(DeviceError::IoTimeout));
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1000));

    auto aborter = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return abortChannel.OnLink(device_abort, lid);
    });
    started = Clock::now();
    EXPECT_EQ(client.Read(lid, 100, 0, 0, 10000).error, E(DeviceError::Aborted));
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_EQ(aborter.get(), kNone);
    // The reply still comes for a read after the abort.
    const ReadResult late = client.Read(lid, 100, 0, 0, 10000);
    EXPECT_EQ(late.error, kNone);
    EXPECT_EQ(late.data, "DONE\n");
    EXPECT_EQ(client.Read(lid, 100, 0, 0, 100).error, E(DeviceError::IoTimeout)) << "nothing was asked";
}

TEST_F(Vxi11Core, AReadWaitingForASlowReplyHoldsUpNoOtherLink) {
    CoreClient slowClient(Port());
    CoreClient otherClient(Port());
    const long slow = Link(slowClient);
    const long sameDevice = Link(otherClient);
    const long otherDevice = Link(otherClient, "inst1");
    ASSERT_EQ(slowClient.Write(slow, "SLOW? 1500", kFlagEnd).first, kNone);
    std::atomic<bool> slowDone{false};
    auto slowRead = std::async(std::launch::async, [&] {
        const ReadResult reply = slowClient.Read(slow, 100, 0, 0, 10000);
        slowDone = true;
        return reply.data;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(otherClient.Query(otherDevice, "*IDN?"), "Tarnel,Test Instrument,1,1.0\n");
    EXPECT_EQ(otherClient.ReadStatusByte(sameDevice), std::make_pair(kNone, 0)) << "a serial poll of the busy device";
    EXPECT_EQ(otherClient.Write(sameDevice, "VAL 3", kFlagEnd).first, kNone);
    EXPECT_FALSE(slowDone) << "the other links' calls waited for the slow reply";
    EXPECT_EQ(slowRead.get(), "DONE\n");
    EXPECT_EQ(otherClient.Query(sameDevice, "VAL?"), "3\n");
}

TEST(Vxi11Dispatch, ASlowReadingHoldsUpNoOtherLinkAndNoAbortInEitherMode) {
    using std::chrono::milliseconds;
    struct Case {
        scpi::DispatchMode mode;
        bool fastReplyWaits;   // the other link's reply waits for the slow one (1.5 s)
    };
    const std::vector<Case> cases = {{scpi::DispatchMode::OneAtATime, true}, {scpi::DispatchMode::EachClientItsOwn, false}};
    for (const Case& c : cases) {
        const bool own = c.mode == scpi::DispatchMode::EachClientItsOwn;
        test::TestInstrument state{"Tarnel,Test Instrument,0,1.0"};
        scpi::ServedInstrument served(test::TestInstrumentCommands(state), c.mode);
        ServedInstrumentDevice device(served);
        Vxi11Server server({{{"inst0"}, &device}}, LoopbackSettings());
        ASSERT_EQ(server.Listen(), std::nullopt);
        CoreClient slowClient(server.CorePort());
        CoreClient fastClient(server.CorePort());
        CoreClient abortChannel(server.AbortPort(), DEVICE_ASYNC);
        const long slow = slowClient.CreateLink("inst0").lid;
        const long fast = fastClient.CreateLink("inst0").lid;
        ASSERT_EQ(slowClient.Write(slow, "SLOW? 1500", kFlagEnd).first, kNone);
        const auto start = Clock::now();
        auto slowRead = std::async(std::launch::async, [&] {
            const ReadResult reply = slowClient.Read(slow, 100, 0, 0, 10000);
            return std::make_pair(reply.data, Clock::now());
        });
        EXPECT_EQ(fastClient.ReadStatusByte(fast), std::make_pair(kNone, 0)) << own;
        EXPECT_EQ(fastClient.Generic(device_clear, fast), kNone) << own;
        EXPECT_EQ(fastClient.Write(fast, "*IDN?", kFlagEnd).first, kNone) << own;
        EXPECT_EQ(abortChannel.OnLink(device_abort, fast), kNone) << own;
        EXPECT_LT(Clock::now() - start, milliseconds(700)) << own << ": calls of another link waited for the reading";
        const ReadResult fastReply = fastClient.Read(fast, 100, 0, 0, 10000);
        const auto fastDone = Clock::now();
        EXPECT_EQ(fastReply.data, "Tarnel,Test Instrument,0,1.0\n") << own;
        const auto [slowReply, slowDone] = slowRead.get();
        EXPECT_EQ(slowReply, "DONE\n") << own;
        // On one worker the fast reply runs right after the slow one, so the
        // two reads may return in either order; what tells is how long it took.
        EXPECT_EQ(fastDone - start > milliseconds(1000), c.fastReplyWaits) << own;
        if (!c.fastReplyWaits) {
            EXPECT_LT(fastDone, slowDone) << own;
        }
    }
}

TEST_F(Vxi11Core, ALinkHoldingTheLockHoldsTheInstrumentsLockUntilItLetsGo) {
    const std::unique_ptr<scpi::InstrumentClient> raw = firstServed.Connect();
    struct Case {
        const char* letGo;
        std::function<void(CoreClient&, long)> release;
    };
    const std::vector<Case> cases = {
        {"device_unlock", [](CoreClient& client, long lid) { EXPECT_EQ(client.OnLink(device_unlock, lid), kNone); }},
        {"destroy_link", [](CoreClient& client, long lid) { EXPECT_EQ(client.OnLink(destroy_link, lid), kNone); }},
        {"the connection closed", [](CoreClient&, long) {}},
    };
    for (const Case& c : cases) {
        {
            CoreClient client(Port());
            const long lid = Link(client);
            ASSERT_EQ(client.Lock(lid, 0, 0), kNone) << c.letGo;
            EXPECT_EQ(ClientQuery(*raw, "VAL 2;VAL?"), std::nullopt) << c.letGo << ": a raw client ran while locked";
            EXPECT_EQ(client.Query(lid, "VAL 6;VAL?"), "6\n") << c.letGo;
            c.release(client, lid);
        }
        // The server sees a connection's close a moment after the client.
        std::optional<std::string> value;
        for (int attempt = 0; attempt < 100 && !value; ++attempt) {
            if (!(value = ClientQuery(*raw, "VAL?"))) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(value, "6") << c.letGo;
        EXPECT_EQ(ClientQuery(*raw, "SYST:ERR?").value_or("").substr(0, 5), "-203,") << c.letGo;
        ClientQuery(*raw, "*CLS");
    }
    // A lock the instrument's other front holds refuses the link's.
    ASSERT_TRUE(firstServed.Lock().Acquire(*raw->State(), std::chrono::milliseconds(0)));
    CoreClient client(Port());
    EXPECT_EQ(client.Lock(Link(client), 0, 0), E(DeviceError::LockedByAnotherLink));
    firstServed.Lock().Release(*raw->State());
}

TEST_F(Vxi11Core, ADeviceThatFailsAnswersIoError) {
    CoreClient client(Port());
    const long lid = Link(client, "broken");
    ASSERT_EQ(client.Write(lid, "*IDN?", kFlagEnd).first, kNone);
    EXPECT_EQ(client.Read(lid, 100).error, E(DeviceError::Io));
}

std::pair<bool, std::string> SendRaw(std::uint16_t port, const std::string& bytes) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {false, "no connection"};
    ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    const timeval wait{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string reply(4096, '\0');
    const ssize_t received = ::recv(socket, reply.data(), reply.size(), 0);
    ::close(socket);
    // Closed: recv saw the end of the stream.
    return {received == 0, received > 0 ? reply.substr(0, static_cast<std::size_t>(received)) : ""};
}

TEST_F(Vxi11Core, AMalformedOrOversizedRecordClosesOnlyItsConnection) {
    CoreClient bystander(Port());
    const long lid = Link(bystander);
    using test::Words;
    struct Case {
        const char* what;
        std::string bytes;
        bool closed;
    };
    const std::vector<Case> cases = {
        {"a record announced beyond the limit", Words({0x80000000u | 0x7FFFFFF0u}), true},
        {"a reply instead of a call", test::Words({0x80000008u, 5, 1}), true},
        {"a header cut short", Words({0x80000004u, 7}), true},
        {"a call of another program", RecordOf(test::CallMessage(9, 0x20000000, 1, 0, "")), false},
    };
    for (const Case& c : cases) {
        const auto [closed, reply] = SendRaw(Port(), c.bytes);
        EXPECT_EQ(closed, c.closed) << c.what;
        if (!c.closed) {
            EXPECT_EQ(test::WordAt(reply, 4 + test::kAcceptState), 1u) << c.what;
        }
    }
    EXPECT_EQ(bystander.Query(lid, "*IDN?"), "Tarnel,Test Instrument,0,1.0\n");
}

TEST_F(Vxi11Core, TheAdmissionCheckRefusesAClientWithALogLine) {
    server.reset();
    Start([](const sockaddr_storage&) { return std::optional<std::string>("not on the lab's network"); });
    CoreClient client(Port());
    EXPECT_NE(client.CreateLink("inst0").error, kNone);
    bool logged = false;
    for (const std::string& line : Log()) logged = logged || line.find("refused: not on the lab's network") != std::string::npos;
    EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace tarnel::vxi11
