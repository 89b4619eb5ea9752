// The client's RS-232 and GPIB-adapter transports against the emulated meter
// on a serial line and behind an emulated adapter, in one process: a shared
// meter whose probes read a fixed voltage, the emulated front on a
// pseudo-terminal in this test's own folder, and the client transport.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scpi/client/byte_stream.h"
#include "scpi/client/gpib_adapter_transport.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/serial_transport.h"

#include "gpib_adapter_meter.h"
#include "pseudo_terminal.h"
#include "serial_line_meter.h"
#include "shared_meter.h"

namespace client = tarnel::scpi::client;
namespace emulator = tarnel::emulator;
using client::FailureKind;
using client::InstrumentFailure;
using namespace std::chrono_literals;

namespace {

constexpr double kVolts = 1.25;
constexpr double kSpeed = 1000;
constexpr unsigned kBaud = 115200;
constexpr unsigned kAddress = 22;

// A folder of this test's own under TMPDIR, removed at the end.
class TemporaryFolder {
public:
    TemporaryFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/serial-gpib-XXXXXX";
        path_ = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// What the call throws; a failure of the test when it throws nothing.
template <typename Call>
std::optional<InstrumentFailure> FailureOf(Call call) {
    try {
        call();
    } catch (const InstrumentFailure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no InstrumentFailure";
    return std::nullopt;
}

class MeterLink : public ::testing::Test {
protected:
    MeterLink() : meter_({[](const emulator::MeterModel::Aperture&) { return kVolts; }, kSpeed, 1}) {}

    ~MeterLink() override {
        meter_.Stop();
        if (line_) line_->Stop();
        if (adapter_) adapter_->Stop();
    }

    std::string StartLine() {
        line_.emplace(meter_, emulator::SerialLineOptions{folder_.Path("meter-tty"), kBaud}, kSpeed);
        EXPECT_EQ(line_->Start(), std::nullopt);
        return folder_.Path("meter-tty");
    }

    std::string StartAdapter() {
        adapter_.emplace(meter_, emulator::GpibAdapterOptions{folder_.Path("gpib"), kAddress}, kSpeed);
        EXPECT_EQ(adapter_->Start(), std::nullopt);
        return folder_.Path("gpib");
    }

    // Unplugs the line and the adapter while the test waits on them.
    void UnplugSoon() {
        unplug_ = std::async(std::launch::async, [this] {
            std::this_thread::sleep_for(300ms);
            meter_.Stop();
            if (line_) line_->Stop();
            if (adapter_) adapter_->Stop();
        });
    }

    static std::unique_ptr<client::Transport> OpenSerial(const std::string& path, client::SerialSettings settings = {kBaud},
                                                         client::LineEnd end = client::LineEnd::Lf) {
        return client::OpenSerialTransport(client::SerialResource{path}, settings, end, 2s);
    }

    static std::unique_ptr<client::Transport> OpenGpib(const std::string& path, unsigned address = kAddress) {
        return client::OpenGpibAdapterTransport(client::GpibResource{0, address}, client::SerialAdapter{path}, 2s);
    }

    static std::string Query(client::Transport& transport, const std::string& query,
                             std::chrono::milliseconds timeout = 10s) {
        transport.Send(query);
        return transport.Receive(timeout, query);
    }

    TemporaryFolder folder_;
    emulator::SharedMeter meter_;
    std::optional<emulator::SerialLineMeter> line_;
    std::optional<emulator::GpibAdapterMeter> adapter_;
    std::future<void> unplug_;
};

// Receives until the transport fails. A reading cut short by the meter's
// shutdown may come as not-a-number just before the line goes.
void ReceiveUntilFailure(client::Transport& transport) {
    for (int reply = 0; reply < 2; ++reply) EXPECT_EQ(transport.Receive(10s, "READ?"), "9.91E+37");
}

void ExpectReadingsOf(const std::string& reply, std::size_t count) {
    std::vector<double> readings;
    std::size_t at = 0;
    while (at <= reply.size()) {
        const std::size_t comma = std::min(reply.find(',', at), reply.size());
        readings.push_back(std::stod(reply.substr(at, comma - at)));
        at = comma + 1;
    }
    ASSERT_EQ(readings.size(), count) << reply.substr(0, 80);
    for (const double reading : readings) EXPECT_NEAR(reading, kVolts, 100e-6);
}

TEST_F(MeterLink, SerialLineAnswersQueriesWithEitherLineEnd) {
    const std::string path = StartLine();
    for (const client::LineEnd end : {client::LineEnd::Lf, client::LineEnd::CrLf}) {
        auto transport = OpenSerial(path, {kBaud}, end);
        EXPECT_EQ(transport->Describe(), "ASRL" + path + "::INSTR");
        EXPECT_EQ(transport->OpeningMessages(), std::vector<std::string>{"SYST:REM"});
        for (const std::string& opening : transport->OpeningMessages()) transport->Send(opening);
        EXPECT_TRUE(Query(*transport, "*IDN?").starts_with("Velorn,Tarnel Emulated DMM,0,"));
        ExpectReadingsOf(Query(*transport, "SAMP:COUN 3;:READ?"), 3);
        // The port is given back: the next round opens it again.
    }
}

TEST_F(MeterLink, SerialLineWithOtherSettingsThanTheMetersIsGarbled) {
    const std::string path = StartLine();
    const std::vector<client::SerialSettings> wrong = {
        {9600}, {57600}, {230400, 7, client::Parity::Odd, 2}};
    for (const client::SerialSettings& settings : wrong) {
        auto transport = OpenSerial(path, settings);
        const auto failure = FailureOf([&] { Query(*transport, "*IDN?", 1s); });
        ASSERT_TRUE(failure) << settings.Text();
        EXPECT_EQ(failure->Kind(), FailureKind::Garbled) << settings.Text() << ": " << failure->what();
        EXPECT_NE(std::string(failure->what()).find("garbage on the serial line " + path), std::string::npos);
        EXPECT_NE(std::string(failure->what()).find("--serial"), std::string::npos);
    }
    // The right settings work again on the same line.
    EXPECT_TRUE(Query(*OpenSerial(path), "*IDN?").starts_with("Velorn,"));
}

TEST_F(MeterLink, SerialPortsThatCannotServeAreRefusedAtOpening) {
    const std::string path = StartLine();
    struct Case {
        std::string path;
        client::SerialSettings settings;
        FailureKind kind;
        std::string named;
    };
    const std::string missing = folder_.Path("no-such-port");
    const std::vector<Case> cases = {
        {missing, {kBaud}, FailureKind::NotFound, "no serial port " + missing},
        {missing, {kBaud}, FailureKind::NotFound, "'tarnelctl meters' lists the serial ports"},
        {path, {kBaud, 8, client::Parity::None, 1, client::Handshake::DtrDsr}, FailureKind::Unreachable,
         "no modem lines for the DTR/DSR handshake"},
        {path, {kBaud, 8, client::Parity::None, 1, client::Handshake::DtrDsr}, FailureKind::Unreachable,
         "--serial 115200,8N1,rtscts, xonxoff or none"},
        {"/dev/null", {kBaud}, FailureKind::Unreachable, "/dev/null is no serial port"},
    };
    for (const Case& c : cases) {
        const auto failure = FailureOf([&] { OpenSerial(c.path, c.settings); });
        ASSERT_TRUE(failure) << c.named;
        EXPECT_EQ(failure->Kind(), c.kind) << failure->what();
        EXPECT_NE(std::string(failure->what()).find(c.named), std::string::npos) << failure->what();
    }
    // Held by one transport, the port is busy for a second; free again once the first is gone.
    auto holder = OpenSerial(path);
    const auto busy = FailureOf([&] { OpenSerial(path); });
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->Kind(), FailureKind::Busy) << busy->what();
    holder.reset();
    EXPECT_TRUE(Query(*OpenSerial(path), "*IDN?").starts_with("Velorn,"));
}

TEST_F(MeterLink, FrontsMakeTheirLinkOnlyWhereNothingElseIs) {
    const std::string path = folder_.Path("meter-tty");
    struct Case {
        bool regularFile;   // else a link left by an earlier run
        bool starts;
    };
    for (const Case c : {Case{false, true}, Case{true, false}}) {
        std::filesystem::remove(path);
        if (c.regularFile) {
            std::ofstream(path) << "keep me";
        } else {
            std::filesystem::create_symlink("/dev/pts/no-such-terminal", path);
        }
        emulator::SerialLineMeter line(meter_, {path, kBaud}, kSpeed);
        const std::optional<std::string> problem = line.Start();
        EXPECT_EQ(!problem, c.starts) << problem.value_or("");
        if (c.starts) {
            EXPECT_TRUE(std::filesystem::read_symlink(path).string().starts_with("/dev/pts/"));
            line.Stop();
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << "the link stays after Stop";
        } else {
            EXPECT_NE(problem->find(path + " exists and is not a symbolic link"), std::string::npos) << *problem;
            std::string kept;
            std::getline(std::ifstream(path), kept);
            EXPECT_EQ(kept, "keep me");
        }
    }
}

TEST_F(MeterLink, SerialLineUnpluggedDuringAReadingIsLost) {
    auto transport = OpenSerial(StartLine());
    // 1000 readings at 100 NPLC with autozero: 4 s at this speed.
    transport->Send("VOLT:NPLC 100;:SAMP:COUN 1000;:READ?");
    UnplugSoon();
    const auto started = std::chrono::steady_clock::now();
    const auto failure = FailureOf([&] { ReceiveUntilFailure(*transport); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Kind(), FailureKind::Lost) << failure->what();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST_F(MeterLink, ALineThatNeverEndsIsBoundedByTheDeadline) {
    // A device that sends reading after reading with no line end.
    emulator::PseudoTerminal device;
    const std::string path = folder_.Path("chatter");
    ASSERT_EQ(device.Open(path, kBaud), std::nullopt);
    std::thread chatter([&] {
        while (device.Write("+1.25000000E+00,") && device.Sleep(1ms)) {
        }
    });
    {
        auto transport = OpenSerial(path);
        const auto started = std::chrono::steady_clock::now();
        const auto failure = FailureOf([&] { transport->Receive(500ms, "READ?"); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->Kind(), FailureKind::Garbled) << failure->what();
        EXPECT_NE(std::string(failure->what()).find("without a line end in reply to READ? within 0.5 s"),
                  std::string::npos);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    }
    device.Wake();
    chatter.join();
}

TEST_F(MeterLink, AdapterReachesTheMeterAtItsAddress) {
    const std::string path = StartAdapter();
    auto transport = OpenGpib(path);
    EXPECT_EQ(transport->Describe(), "GPIB0::22::INSTR via " + path);
    ASSERT_EQ(transport->Details().size(), 1U);
    EXPECT_EQ(transport->Details()[0].first, "GPIB adapter");
    EXPECT_TRUE(transport->Details()[0].second.starts_with("GPIB adapter emulated by board-emulator, version "));
    EXPECT_TRUE(Query(*transport, "*IDN?").starts_with("Velorn,Tarnel Emulated DMM,0,"));
    ExpectReadingsOf(Query(*transport, "MEAS:VOLT:DC?"), 1);
    // 300 readings at 100 NPLC with autozero: 1.2 s here, over two of the adapter's read timeouts.
    ExpectReadingsOf(Query(*transport, "VOLT:NPLC 100;:SAMP:COUN 300;:READ?"), 300);
    // A cleared meter drops what it was going to say.
    transport->Send("*IDN?");
    std::this_thread::sleep_for(50ms);
    transport->Clear();
    EXPECT_EQ(Query(*transport, "*OPC?"), "1");
}

TEST_F(MeterLink, AdapterAtAnotherAddressTimesOutNamingAddressAndAdapter) {
    const std::string path = StartAdapter();
    auto transport = OpenGpib(path, 5);
    const auto failure = FailureOf([&] { Query(*transport, "*IDN?", 1500ms); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Kind(), FailureKind::Timeout);
    const std::string message = failure->what();
    EXPECT_NE(message.find("at GPIB address 5 through the adapter " + path), std::string::npos) << message;
    EXPECT_NE(message.find("check the meter's GPIB address"), std::string::npos) << message;
}

TEST_F(MeterLink, AdapterThatCannotServeIsRefusedAtOpening) {
    // A serial device that is no adapter: it never answers ++ver.
    emulator::PseudoTerminal silent;
    const std::string silentPath = folder_.Path("silent");
    ASSERT_EQ(silent.Open(silentPath, kBaud), std::nullopt);
    const std::string missing = folder_.Path("no-adapter");
    struct Case {
        std::string path;
        FailureKind kind;
        std::string named;
    };
    const std::vector<Case> cases = {
        {missing, FailureKind::NotFound, "no GPIB adapter " + missing},
        {silentPath, FailureKind::Unreachable, "the GPIB adapter " + silentPath + " did not answer ++ver within 2.0 s"},
    };
    for (const Case& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto failure = FailureOf([&] { OpenGpib(c.path); });
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->Kind(), c.kind) << failure->what();
        EXPECT_NE(std::string(failure->what()).find(c.named), std::string::npos) << failure->what();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    }
}

TEST_F(MeterLink, AdapterUnpluggedDuringAReadingIsLost) {
    auto transport = OpenGpib(StartAdapter());
    transport->Send("VOLT:NPLC 100;:SAMP:COUN 1000;:READ?");
    UnplugSoon();
    const auto failure = FailureOf([&] { ReceiveUntilFailure(*transport); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Kind(), FailureKind::Lost) << failure->what();
}

// The emulated adapter spoken to directly, as a script on pyserial would.
class RawAdapter {
public:
    explicit RawAdapter(const std::string& path)
        : stream_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), "the adapter", "") {}
    void Send(const std::string& line) { stream_.WriteAll(line + "\n", 1s); }
    // What came within the wait.
    std::string Heard(std::chrono::milliseconds wait) {
        std::string heard;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) heard += stream_.ReadSome(deadline);
        return heard;
    }

private:
    client::ByteStream stream_;
};

TEST_F(MeterLink, AdapterKeepsAReadingThatOutlastsItsReadTimeout) {
    RawAdapter adapter(StartAdapter());
    adapter.Send("++read_tmo_ms 100");
    // 50 readings at 100 NPLC with autozero: 200 ms here.
    adapter.Send("VOLT:NPLC 100;:SAMP:COUN 50;:READ?");
    adapter.Send("++read eoi");
    EXPECT_EQ(adapter.Heard(150ms), "");   // the adapter gave up after 100 ms
    std::this_thread::sleep_for(200ms);
    adapter.Send("++read eoi");
    const std::string reading = adapter.Heard(300ms);
    ASSERT_FALSE(reading.empty());
    EXPECT_EQ(reading.back(), '\n');
    ExpectReadingsOf(reading.substr(0, reading.size() - 1), 50);
}

TEST_F(MeterLink, AdapterReadsEndAsAskedAndOnlyTheMetersAddressAnswers) {
    RawAdapter adapter(StartAdapter());
    struct Case {
        std::vector<std::string> lines;
        std::string heard;   // what the adapter sent within 150 ms, or the start of it
        bool whole;
    };
    const std::vector<Case> cases = {
        {{"++read_tmo_ms 50", "*IDN?", "++read 44"}, "Velorn,", true},        // up to the character
        {{"++read eoi"}, "Tarnel Emulated DMM,0,", false},                     // the rest stays for the next read
        {{"*OPC?", "++eot_enable 1", "++eot_char 33", "++read eoi"}, "1\n!", true},
        {{"++eot_enable 0", "*OPC?", "++read"}, "1\n", true},
        {{"++addr 7", "*OPC?", "++read eoi", "++spoll"}, "", true},            // nobody at 7
        {{"++addr 22", "++spoll"}, "0\r\n", true},
        {{"*OPC?"}, "", true},
        {{"++spoll"}, "16\r\n", true},                                         // a reply waits
        {{"++clr", "++spoll"}, "0\r\n", true},
        {{"++auto 1", "*OPC?"}, "1\n", true},
        {{"++auto 0", "++eos 3", "++eoi 0", "*OPC?", "++read eoi"}, "", true},   // no end: the meter waits for it
        {{"\x1B\n", "++read eoi"}, "1\n", true},                                // an escaped LF ends the message
        {{"++eoi 1", "++mode 0", "*OPC?", "++read eoi"}, "", true},             // no controller, no bus
        {{"++mode 1", "++trg", "++read eoi"}, "", true},
        {{"SYST:ERR?", "++read eoi"}, "-211,", false},                         // the bus trigger reached the meter
    };
    for (const Case& c : cases) {
        for (const std::string& line : c.lines) adapter.Send(line);
        const std::string heard = adapter.Heard(150ms);
        EXPECT_EQ(c.whole ? heard : heard.substr(0, c.heard.size()), c.heard) << c.lines.back();
    }
}

}  // namespace
