// characterize's command line: the meter and its connection options, the code
// sets, the limits, the code list file, the report's path, and what is refused
// as usage (exit 2).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "characterize/characterize_csv.h"
#include "characterize/code_list_file.h"
#include "characterize/linearity_limits.h"
#include "characterize/repeat_statistics.h"
#include "command_line/command_failure.h"
#include "command_line/command_line.h"
#include "output/plot_file.h"

namespace tarnel::cli {
namespace {

CharacterizeCommand Parse(const std::string& line) {
    std::istringstream stream("characterize " + line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    return std::get<CharacterizeCommand>(std::get<Invocation>(ParseCommandLine(words)).command);
}

ExitStatus StatusOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const CommandFailure& failure) {
        return failure.Status();
    }
    return ExitStatus::Done;
}

TEST(CharacterizeOptions, DefaultsAndEveryOption) {
    const CharacterizeCommand plain = Parse("--meter 127.0.0.1:5025");
    EXPECT_EQ(plain.codes.kind, CodeSetKind::Bits);
    EXPECT_EQ(plain.nplc, 10);
    EXPECT_EQ(plain.settleMs, 10);
    EXPECT_EQ(plain.averaged, 1u);
    EXPECT_EQ(plain.park, 0u);
    EXPECT_FALSE(plain.limits.Any());

    const CharacterizeCommand full = Parse(
        "--meter TCPIP0::dmm::5025::SOCKET --codes grid:1025 --nplc 0.2 --settle 2.5 --avg 16 --csv c.csv "
        "--plot p.png --report r.pdf --limits inl=0.5,gain_pct=0.05 --park 20000");
    EXPECT_EQ(full.meter.resource.Text(), "TCPIP0::dmm::5025::SOCKET");
    EXPECT_EQ(full.codes.kind, CodeSetKind::Grid);
    EXPECT_EQ(full.codes.gridPoints, 1025u);
    EXPECT_EQ(full.nplc, 0.2);
    EXPECT_EQ(full.settleMs, 2.5);
    EXPECT_EQ(full.averaged, 16u);
    EXPECT_EQ(full.output.rows, OutputChoice::Rows::CsvFile);
    EXPECT_EQ(full.output.csvFile, "c.csv");
    EXPECT_EQ(full.output.plotFile, "p.png");
    EXPECT_EQ(full.reportFile, "r.pdf");
    EXPECT_FALSE(plain.reportFile);
    EXPECT_EQ(full.limits.inlLsb, 0.5);
    EXPECT_EQ(full.limits.gainPercent, 0.05);
    EXPECT_FALSE(full.limits.dnlLsb);
    EXPECT_EQ(full.park, 0x20000u);

    const CharacterizeCommand all = Parse("--meter h:1 --codes all --from 100 --to 0");
    EXPECT_EQ(all.codes.kind, CodeSetKind::All);
    EXPECT_EQ(all.codes.from, 0x100u);
    EXPECT_EQ(all.codes.to, 0u);
    EXPECT_EQ(Parse("--meter h:1 --codes carries").codes.kind, CodeSetKind::Carries);
    const CharacterizeCommand file = Parse("--meter h:1 --codes my-codes.txt");
    EXPECT_EQ(file.codes.kind, CodeSetKind::File);
    EXPECT_EQ(file.codes.file, "my-codes.txt");
}

TEST(CharacterizeOptions, SettleDriftAndRepeat) {
    const CharacterizeCommand plain = Parse("--meter h:1");
    EXPECT_FALSE(plain.settle.automatic);
    EXPECT_FALSE(plain.drift.Any());
    EXPECT_EQ(plain.repeats, 1u);
    const struct {
        const char* line;
        bool automatic;
        double settleMs, maxMs;
        std::uint64_t driftEvery, low, high;
        unsigned repeats;
    } cases[] = {
        {"--settle 25", false, 25, 2000, 0, 0x1000, 0x3EFFF, 1},
        {"--settle auto --avg 4", true, 0, 2000, 0, 0x1000, 0x3EFFF, 1},
        {"--settle auto:500 --avg 2 --drift 16", true, 0, 500, 16, 0x1000, 0x3EFFF, 1},
        {"--drift 8 --drift-codes 100,3FF00 --repeat 3", false, 10, 2000, 8, 0x100, 0x3FF00, 3},
    };
    for (const auto& one : cases) {
        const CharacterizeCommand command = Parse(std::string("--meter h:1 ") + one.line);
        EXPECT_EQ(command.settle.automatic, one.automatic) << one.line;
        EXPECT_EQ(command.settleMs, one.settleMs) << one.line;
        EXPECT_EQ(command.settle.maxMs, one.maxMs) << one.line;
        EXPECT_EQ(command.drift.every, one.driftEvery) << one.line;
        EXPECT_EQ(command.drift.lowCode, one.low) << one.line;
        EXPECT_EQ(command.drift.highCode, one.high) << one.line;
        EXPECT_EQ(command.repeats, one.repeats) << one.line;
    }
    for (const char* line : {"--settle auto", "--settle auto --avg 1", "--settle auto: --avg 4",
                             "--settle auto:0 --avg 4", "--settle autox --avg 4", "--settle auto:x --avg 4",
                             "--drift 0", "--drift x", "--drift-codes 1,2", "--drift 4 --drift-codes 100",
                             "--drift 4 --drift-codes 200,100", "--drift 4 --drift-codes 100,100",
                             "--drift 4 --drift-codes 100,40000x", "--repeat 0", "--repeat 1001"}) {
        EXPECT_EQ(StatusOf([&] { Parse(std::string("--meter h:1 ") + line); }), ExitStatus::Usage) << line;
    }
}

TEST(CharacterizeOptions, EachConnectionWithTheOptionsThatFitIt) {
    using namespace scpi::client;
    const CharacterizeCommand serial = Parse("--meter ASRL/dev/ttyUSB0::INSTR --serial 115200,7E2,dtrdsr --eol crlf");
    EXPECT_EQ(std::get<SerialResource>(serial.meter.resource.where).path, "/dev/ttyUSB0");
    EXPECT_EQ(serial.meter.connection.serial.Text(), "115200,7E2,dtrdsr");
    EXPECT_EQ(serial.meter.connection.lineEnd, LineEnd::CrLf);
    const CharacterizeCommand plainSerial = Parse("--meter /dev/ttyS1");
    EXPECT_EQ(plainSerial.meter.connection.serial.Text(), "9600,8N1,none");
    EXPECT_EQ(plainSerial.meter.connection.lineEnd, LineEnd::Lf);

    const CharacterizeCommand gpib = Parse("--meter GPIB0::22::INSTR --gpib-adapter /dev/ttyUSB1");
    EXPECT_EQ(std::get<GpibResource>(gpib.meter.resource.where).address, 22u);
    ASSERT_TRUE(gpib.meter.connection.gpibAdapter);
    EXPECT_EQ(GpibAdapterText(*gpib.meter.connection.gpibAdapter), "/dev/ttyUSB1");
    const CharacterizeCommand lan = Parse("--meter gpib::9::instr --gpib-adapter gpib-box.lab");
    EXPECT_EQ(GpibAdapterText(*lan.meter.connection.gpibAdapter), "gpib-box.lab:1234");

    const CharacterizeCommand usb = Parse("--meter USB0::0x2A8D::0x0318::MY123::INSTR");
    EXPECT_EQ(std::get<UsbResource>(usb.meter.resource.where).serial, "MY123");

    for (const char* line : {"--meter GPIB0::22::INSTR", "--meter h:1 --serial 9600", "--meter h:1 --eol lf",
                             "--meter /dev/ttyS0 --serial 9601", "--meter /dev/ttyS0 --serial 9600,9N1",
                             "--meter /dev/ttyS0 --serial 9600,none,8N1", "--meter /dev/ttyS0 --eol cr",
                             "--meter USB0::1::2::S::INSTR --gpib-adapter /dev/ttyUSB1",
                             "--meter GPIB0::22::INSTR --gpib-adapter host:0", "--meter USB0::1::2::INSTR"}) {
        EXPECT_EQ(StatusOf([&] { Parse(line); }), ExitStatus::Usage) << line;
    }
}

TEST(CharacterizeOptions, MalformedValuesAreUsageErrors) {
    for (const char* line : {
             "", "--meter", "--meter 5025", "--meter h:1 --codes grid:1", "--meter h:1 --codes grid:262145",
             "--meter h:1 --codes grid:x", "--meter h:1 --codes all --from 0", "--meter h:1 --from 0 --to 1",
             "--meter h:1 --nplc 0.01", "--meter h:1 --nplc 101", "--meter h:1 --nplc -1", "--meter h:1 --avg 0",
             "--meter h:1 --avg 1025", "--meter h:1 --settle x", "--meter h:1 --limits inl", "--meter h:1 --limits x=1",
             "--meter h:1 --limits inl=-1", "--meter h:1 --limits inl=1,inl=2", "--meter h:1 --limits inl=1,",
             "--meter h:1 --park 12G", "--meter h:1 --mode hiz", "--meter h:1 stray"}) {
        EXPECT_EQ(StatusOf([&] { Parse(line); }), ExitStatus::Usage) << line;
    }
}

TEST(CharacterizeOptions, LimitsPassFailAndWhatWasNotMeasured) {
    const LinearityLimits limits = *ParseLinearityLimits("inl=0.5,dnl=0.5,offset_mv=1,gain_pct=0.05");
    const struct {
        LimitedFigures figures;
        std::vector<std::string> failed;
    } cases[] = {
        {{0.49, -0.5, 0.999, -0.05}, {}},
        {{-0.62, 0.1, 1.2, 0.01}, {"inl 0.62 LSB > 0.5 LSB", "offset_mv 1.2 mV > 1 mV"}},
        {{0.1, -1.0, 0.0, 0.051}, {"dnl 1 LSB > 0.5 LSB", "gain_pct 0.051 % > 0.05 %"}},
        {{0.1, std::nullopt, std::nullopt, 0.0}, {"dnl not measured", "offset_mv not measured"}},
    };
    for (const auto& one : cases) EXPECT_EQ(FailedLimits(limits, one.figures), one.failed);
    EXPECT_TRUE(FailedLimits(LinearityLimits{}, LimitedFigures{}).empty()) << "no limits, nothing fails";
}

TEST(CharacterizeOptions, GuardBandsOfTwiceTheUncertainty) {
    const LinearityLimits limits = *ParseLinearityLimits("inl=0.5");
    using V = LimitVerdict;
    const struct {
        double inl;
        std::optional<double> u;
        V verdict;
        const char* text;
    } cases[] = {
        {0.3, 0.05, V::Pass, "inl 0.3 LSB <= 0.5 LSB (u 0.05 LSB)"},        // 0.3 + 0.1 inside
        {-0.39, 0.05, V::Pass, "inl 0.39 LSB <= 0.5 LSB (u 0.05 LSB)"},
        {0.41, 0.05, V::TooClose, "inl 0.41 LSB too close to call against 0.5 LSB (u 0.05 LSB)"},
        {0.5, 0.05, V::TooClose, "inl 0.5 LSB too close to call against 0.5 LSB (u 0.05 LSB)"},
        {-0.59, 0.05, V::TooClose, "inl 0.59 LSB too close to call against 0.5 LSB (u 0.05 LSB)"},
        {0.61, 0.05, V::Fail, "inl 0.61 LSB > 0.5 LSB (u 0.05 LSB)"},
        {0.5, std::nullopt, V::Pass, "inl 0.5 LSB <= 0.5 LSB"},   // without u: the plain comparison
        {0.51, std::nullopt, V::Fail, "inl 0.51 LSB > 0.5 LSB"},
        {0.49, 0.0, V::Pass, "inl 0.49 LSB <= 0.5 LSB (u 0 LSB)"},
    };
    for (const auto& one : cases) {
        LimitedFigures figures;
        figures.inlLsb = one.inl;
        figures.inlLsbU = one.u;
        const auto judged = JudgeLimits(limits, figures);
        ASSERT_EQ(judged.size(), 1u);
        EXPECT_EQ(judged[0].verdict, one.verdict) << one.inl;
        EXPECT_EQ(judged[0].text, one.text);
        // Too close counts against the run as a failure does.
        EXPECT_EQ(FailedLimits(limits, figures).empty(), one.verdict == V::Pass) << one.inl;
    }
}

TEST(CharacterizeOptions, RepeatStatisticsOverThePasses) {
    const auto pass = [](std::optional<double> offset, double inl) {
        CharacterizeFigures figures;
        figures.offsetUv = offset;
        figures.inlEndPointLsb = WorstAtCode{inl, 5};
        return figures;
    };
    const struct {
        const char* what;
        std::vector<CharacterizeFigures> passes;
        std::size_t offsetPasses;
        double offsetMean, offsetSd, inlMean, inlSd;
    } cases[] = {
        {"three passes", {pass(10, 0.5), pass(12, -0.5), pass(14, 0.3)}, 3, 12, 2, 0.1, std::sqrt(0.28)},
        {"one pass: no spread", {pass(3, 0.2)}, 1, 3, 0, 0.2, 0},
        {"an offset missing from one pass", {pass(1, 1), pass(std::nullopt, 1), pass(3, 1)}, 2, 2, std::sqrt(2.0), 1, 0},
    };
    for (const auto& one : cases) {
        const std::vector<RepeatedFigure> figures = RepeatStatistics(one.passes);
        ASSERT_EQ(figures.size(), 2u) << one.what << ": offset and INL end-point, nothing else measured";
        EXPECT_EQ(figures[0].name, "offset_uv");
        EXPECT_EQ(figures[0].passes, one.offsetPasses) << one.what;
        EXPECT_NEAR(figures[0].mean, one.offsetMean, 1e-12) << one.what;
        EXPECT_NEAR(figures[0].spread, one.offsetSd, 1e-12) << one.what;
        EXPECT_EQ(figures[1].name, "inl_ep_lsb");
        EXPECT_NEAR(figures[1].mean, one.inlMean, 1e-12) << one.what;
        EXPECT_NEAR(figures[1].spread, one.inlSd, 1e-12) << one.what;
    }
    EXPECT_TRUE(RepeatStatistics({}).empty());
}

TEST(CharacterizeOptions, CodeListFiles) {
    EXPECT_EQ(ParseCodeList("# codes\n0 0x1, 3FFFF # ends\n\t20000\r\n", "f"),
              (std::vector<std::uint32_t>{0, 1, 0x3FFFF, 0x20000}));
    const struct {
        const char* text;
        ExitStatus status;
        const char* says;
    } refused[] = {
        {"0\n1\nxyz\n", ExitStatus::Usage, "f line 3: 'xyz'"},
        {"# nothing\n\n", ExitStatus::Usage, "holds no codes"},
        {"0\n40000\n", ExitStatus::OutOfRange, "f line 2: 40000 is above"},
    };
    for (const auto& one : refused) {
        try {
            ParseCodeList(one.text, "f");
            ADD_FAILURE() << one.text;
        } catch (const CommandFailure& failure) {
            EXPECT_EQ(failure.Status(), one.status) << one.text;
            EXPECT_NE(std::string(failure.what()).find(one.says), std::string::npos) << failure.what();
        }
    }
    EXPECT_EQ(StatusOf([] { ReadCodeListFile("/nonexistent/codes.txt"); }), ExitStatus::Usage);
}

TEST(CharacterizeOptions, ReportPathCheckedBeforeTheRun) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("report_path_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "taken.pdf");
    const struct {
        std::string path;
        ExitStatus status;
    } cases[] = {
        {(folder / "r.pdf").string(), ExitStatus::Done},
        {(folder / "R.PDF").string(), ExitStatus::Done},
        {(folder / "r.png").string(), ExitStatus::Usage},
        {(folder / "r.pdf.txt").string(), ExitStatus::Usage},
        {(folder / "pdf").string(), ExitStatus::Usage},
        {(folder / "missing" / "r.pdf").string(), ExitStatus::Failed},
        {(folder / "taken.pdf").string(), ExitStatus::Failed},
    };
    for (const auto& one : cases) {
        EXPECT_EQ(StatusOf([&] { CheckPdfPath("--report", one.path); }), one.status) << one.path;
    }
    // The check leaves no file behind.
    EXPECT_FALSE(std::filesystem::exists(folder / "r.pdf"));
    std::filesystem::remove_all(folder);
}

TEST(CharacterizeOptions, CsvRowsLeaveMissingValuesEmpty) {
    CharacterizePoint point{0x20000, 0x080000, 2.465, 2.465001234, std::nullopt, 1, 2048, 0.25};
    EXPECT_EQ(CharacterizeCsvRow(point, PointFigures{}),
              "131072,0x080000,2.465000000,2.465001234,,1,,,,2048,0.250000,0.0,,,,,1");
    point.meterStdUv = 0.61;
    point.readings = 16;
    point.settleMs = 412.25;
    point.settled = false;
    point.repeat = 2;
    EXPECT_EQ(CharacterizeCsvRow(point, PointFigures{0.12345, -0.5, 1.0, -3.21, 0.0123, 0.02, 0.01}),
              "131072,0x080000,2.465000000,2.465001234,0.610,16,0.1235,-0.5000,1.0000,2048,0.250000,412.2,0,-3.210,"
              "0.0123,0.0200,3");
}

}  // namespace
}  // namespace tarnel::cli
