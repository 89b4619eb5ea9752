// The operator interface's pure rules: the data word read from the field, the
// read-back voltage rounding, the version line and the twip conversion.
#include <cstdint>
#include <limits>

#include <QtTest>

#include "core/run_time_error.h"
#include "ui/hex_entry.h"
#include "ui/twips.h"
#include "ui/version_text.h"
#include "ui/voltage_format.h"

using namespace tarnel;
using namespace tarnel::ui;

class UiPureTest : public QObject {
    Q_OBJECT

private slots:
    void dataWordFromField_data();
    void dataWordFromField();
    void rejectedField_data();
    void rejectedField();
    void hexLiteralValue_data();
    void hexLiteralValue();
    void roundedToThousandths_data();
    void roundedToThousandths();
    void versionText_data();
    void versionText();
    void twipsWithoutScreen();
};

void UiPureTest::dataWordFromField_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("0000") << "0000" << 18 << "00000" << 0;
    QTest::newRow("0") << "0" << 18 << "00000" << 0;
    QTest::newRow("7") << "7" << 18 << "00007" << 7;
    QTest::newRow("abc") << "abc" << 18 << "00ABC" << 0xABC;
    QTest::newRow("1234") << "1234" << 18 << "01234" << 0x1234;
    QTest::newRow("20000") << "20000" << 18 << "20000" << 0x20000;
    QTest::newRow("3FFFF unchanged") << "3FFFF" << 18 << "3FFFF" << 0x3FFFF;
    QTest::newRow("3fffe upper case") << "3fffe" << 18 << "3FFFE" << 0x3FFFE;
    QTest::newRow("40000 limited") << "40000" << 18 << "3FFFF" << 0x3FFFF;
    QTest::newRow("FFFFF limited") << "FFFFF" << 18 << "3FFFF" << 0x3FFFF;
    QTest::newRow("7FFFFFFF limited") << "7FFFFFFF" << 18 << "3FFFF" << 0x3FFFF;
    QTest::newRow("FFFFFFFF negative to 0") << "FFFFFFFF" << 18 << "00000" << 0;
    QTest::newRow("80000000 negative to 0") << "80000000" << 18 << "00000" << 0;
    QTest::newRow("leading zeros beyond 8") << "0000000012" << 18 << "00012" << 0x12;
    QTest::newRow("wider resolution keeps 6 digits") << "123456" << 24 << "123456" << 0x123456;
    QTest::newRow("resolution 31 no limit") << "7FFFFFFF" << 31 << "7FFFFFFF" << 0x7FFFFFFF;
    QTest::newRow("resolution 0 limit 0") << "5" << 0 << "00000" << 0;
}

void UiPureTest::dataWordFromField() {
    QFETCH(QString, field);
    QFETCH(int, resolution);
    QFETCH(QString, text);
    QFETCH(int, value);
    const DataWordEntry entry = DataWordFromField(field, static_cast<std::int16_t>(resolution));
    QCOMPARE(entry.text, text);
    QCOMPARE(entry.value, value);
}

void UiPureTest::rejectedField_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("cause");
    QTest::newRow("empty") << "" << "Not a hexadecimal number";
    QTest::newRow("12G") << "12G" << "Not a hexadecimal number";
    QTest::newRow("space between digits") << "1 2" << "Not a hexadecimal number";
    QTest::newRow("spaces only") << "   " << "Not a hexadecimal number";
    QTest::newRow("leading space") << " 12" << "Not a hexadecimal number";
    QTest::newRow("trailing space") << "12 " << "Not a hexadecimal number";
    QTest::newRow("minus sign") << "-1" << "Not a hexadecimal number";
    QTest::newRow("plus sign") << "+1" << "Not a hexadecimal number";
    QTest::newRow("literal prefix") << "&H12" << "Not a hexadecimal number";
    QTest::newRow("long suffix") << "12&" << "Not a hexadecimal number";
    QTest::newRow("fullwidth digit") << QString::fromUtf8("\xEF\xBC\x91") << "Not a hexadecimal number";
    QTest::newRow("nine significant digits") << "100000000" << "Overflow";
    QTest::newRow("ten F") << "FFFFFFFFFF" << "Overflow";
}

void UiPureTest::rejectedField() {
    QFETCH(QString, field);
    QFETCH(QString, cause);
    try {
        (void)DataWordFromField(field, 18);
        QFAIL("the field was accepted");
    } catch (const RunTimeError& error) {
        QVERIFY2(QString::fromUtf8(error.what()).startsWith(cause), error.what());
    }
}

void UiPureTest::hexLiteralValue_data() {
    QTest::addColumn<QString>("digits");
    QTest::addColumn<int>("value");
    QTest::newRow("FFFFFFFF") << "FFFFFFFF" << -1;
    QTest::newRow("80000000") << "80000000" << std::numeric_limits<std::int32_t>::min();
    QTest::newRow("7fffffff") << "7fffffff" << std::numeric_limits<std::int32_t>::max();
    QTest::newRow("0FFFFFFFF") << "0FFFFFFFF" << -1;
    QTest::newRow("aBc") << "aBc" << 0xABC;
}

void UiPureTest::hexLiteralValue() {
    QFETCH(QString, digits);
    QFETCH(int, value);
    QCOMPARE(HexLiteralValue(digits), value);
}

void UiPureTest::roundedToThousandths_data() {
    QTest::addColumn<double>("volts");
    QTest::addColumn<float>("rounded");
    QTest::newRow("just below half at 17 digits") << 1.2324999999999999 << 1.233f;
    QTest::newRow("below half at 15 digits") << 0.00049999999999 << 0.0f;
    QTest::newRow("exact half") << 0.0005 << 0.001f;
    QTest::newRow("negative half away from zero") << -1.2325 << -1.233f;
    QTest::newRow("tiny") << 1e-300 << 0.0f;
    QTest::newRow("large, no fraction left") << 123456789012345.6 << 123456789012346.0f;
    QTest::newRow("ten thousand") << 9999.9995 << 10000.0f;
}

void UiPureTest::roundedToThousandths() {
    QFETCH(double, volts);
    QFETCH(float, rounded);
    QCOMPARE(RoundedToThousandths(volts), rounded);
}

void UiPureTest::versionText_data() {
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");
    QTest::newRow("newer build") << 8 << "Version 1.0.8";
    QTest::newRow("older build") << 5 << "Version 1.0.5";
    QTest::newRow("two digits") << 12 << "Version 1.0.12";
    QTest::newRow("zero") << 0 << "Version 1.0.0";
}

void UiPureTest::versionText() {
    QFETCH(int, revision);
    QFETCH(QString, text);
    const VersionRecord record{1, 0, static_cast<std::int16_t>(revision), "1.00.0000", "Tarnel"};
    QCOMPARE(VersionText(record), text);
}

void UiPureTest::twipsWithoutScreen() {
    // No application, no screen: 96 DPI, 15 twips per pixel.
    QCOMPARE(TwipSize(5475, 3690), QSize(365, 246));
    QCOMPARE(TwipRect(1200, 4920, 3135, 1935), QRect(80, 328, 209, 129));
    QCOMPARE(TwipsToPixelsX(7), 0);
    QCOMPARE(TwipsToPixelsY(8), 1);
}

QTEST_APPLESS_MAIN(UiPureTest)
#include "ui_pure_tests.moc"
