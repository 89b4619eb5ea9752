// What tarnelctl prints and keeps: the JSON objects carry every key the help
// documents, the library's lines are held and given back without its name,
// and the CSV file is refused with exit 1 where it cannot be written.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <string>

#include "board/library_stderr.h"
#include "command_line/command_failure.h"
#include "command_line/help_text.h"
#include "output/report_json.h"
#include "sweep/sweep_csv.h"
#include "sweep/sweep_report.h"

namespace tarnel::cli {
namespace {

void ExpectDocumentedKeys(const QJsonObject& object, const char* what) {
    for (const QString& key : object.keys()) {
        EXPECT_NE(HelpText().find("\"" + key.toStdString() + "\""), std::string::npos)
            << what << " key " << key.toStdString() << " is not in the help";
    }
}

TEST(ReportJsonTest, EveryKeyIsDocumentedAndMissingFiguresAreNull) {
    ScanResult scan;
    scan.boards.push_back({0, "1-2", false, false, "permission denied"});
    ExpectDocumentedKeys(ScanJson(scan)[0].toObject(), "scan");
    EXPECT_EQ(ScanJson(scan)[0].toObject()["problem"].toString(), "permission denied");

    const QJsonObject written = WrittenJson(0x20000, 0x280000, protocol::PowerDown::HundredKToGround);
    ExpectDocumentedKeys(written, "code");
    EXPECT_EQ(written["word"].toString(), "20000");
    EXPECT_EQ(written["input_word"].toString(), "0x280000");
    EXPECT_EQ(written["mode"].toString(), "100k");
    EXPECT_EQ(written["set_volts"].toDouble(), 0.0) << "powered down";

    const QJsonObject reading = ReadingJson(Reading{1024, 0.5, 1023, 1025, 3});
    ExpectDocumentedKeys(reading, "read");
    EXPECT_EQ(reading["volts"].toDouble(), 1.233) << "the decimal the window shows, not the float's digits";

    SweepOutcome parked;
    parked.parked = true;
    const QJsonObject sweep = SweepJson(5, parked, OutputChoice{}, 0x20000, LinearityReport{});
    ExpectDocumentedKeys(sweep, "sweep");
    EXPECT_EQ(sweep["parked"].toString(), "20000");
    EXPECT_TRUE(sweep["csv"].isNull()) << "rows on stdout";

    QStringList columns = QString(kSweepCsvHeader).split(',');
    columns.sort();
    EXPECT_EQ(PointJson(SweepPoint{}).keys(), columns) << "sweep rows: the CSV columns as keys";
    LinearityReport withoutLine;
    withoutLine.points = 1;
    const QJsonObject linearity = LinearityJson(withoutLine);
    ExpectDocumentedKeys(linearity, "linearity");
    for (const char* key : {"line_codes", "offset_error_mv", "gain_error_percent", "max_deviation_lsb"}) {
        EXPECT_TRUE(linearity[key].isNull()) << key;
    }
}

TEST(LibraryMessagesTest, HoldsTheLibrarysLineAndGivesStderrBack) {
    LibraryStderr messages;
    testing::internal::CaptureStderr();
    const int status = messages.Hold([] {
        std::fputs("libToveri: no board 0x1209:0xB211 found — check the USB cable\n", stderr);
        std::fputs("libToveri: a second line\n", stderr);
        return -2;
    });
    std::fputs("after\n", stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "after\n") << "held lines never reach stderr";
    EXPECT_EQ(status, -2);
    EXPECT_EQ(messages.Take(), "no board 0x1209:0xB211 found — check the USB cable");
    EXPECT_EQ(messages.Take(), "") << "taken once";
    messages.Hold([] { std::fputs("libKTV_CYUSB_USB4: request 0xDA failed\n", stderr); });
    EXPECT_EQ(messages.Take(), "request 0xDA failed");
}

TEST(SweepCsvTest, RowsAreInTheFileAtOnceAndAnUnwritablePathFails) {
    const std::string path = testing::TempDir() + "sweep_csv_test.csv";
    SweepCsv csv(path);
    csv.Append(SweepPoint{});
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    char text[256] = {};
    const std::size_t got = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    EXPECT_EQ(std::string(text, got), std::string(kSweepCsvHeader) + "\n0,0x000000,0.000000,0,0,0.000,0.000000,0.000,0,0\n");

    try {
        SweepCsv unwritable("/nonexistent-folder/sweep.csv");
        ADD_FAILURE() << "an unwritable path was accepted";
    } catch (const CommandFailure& failure) {
        EXPECT_EQ(failure.Status(), ExitStatus::Failed);
        EXPECT_NE(std::string(failure.what()).find("/nonexistent-folder/sweep.csv"), std::string::npos);
    }
}

}  // namespace
}  // namespace tarnel::cli
