// The main window and the About dialog, driven through their widgets, with
// the program bound to the test double of the newer board-access library; and
// the field, voltage and version rules the widgets cannot reach.
#include <cstdint>
#include <functional>
#include <memory>

#include <QtTest>
#include <QtWidgets>

#include <tarnel/board_protocol.h>

#include "core/main_sequence.h"
#include "double_control.h"
#include "link/board_library.h"
#include "link/comms_functions.h"
#include "link/newer_library_binding.h"
#include "state/declare.h"
#include "state/program_end.h"
#include "state/run_time_error.h"
#include "ui/about_form.h"
#include "ui/application_identity.h"
#include "ui/hex_entry.h"
#include "ui/main_form.h"
#include "ui/num_led.h"
#include "ui/version_text.h"

using namespace tarnel;
using namespace tarnel::ui;

namespace {

// Thrown by the program-end hook in place of the process end. Not a
// std::exception, so no handler of the program swallows it.
struct ProgramEnded { int exitCode; };
[[noreturn]] void ThrowProgramEnded(int exitCode) { throw ProgramEnded{exitCode}; }

// The exit code the program ended with while running call; -1 if it went on.
template <typename Call>
int ExitCodeOf(Call call) {
    try {
        call();
    } catch (const ProgramEnded& ended) {
        return ended.exitCode;
    }
    return -1;
}

// A DAC write as the board receives it: the request's value and index.
QString WriteText(std::uint32_t inputWord) {
    const protocol::DacWriteFields fields = protocol::PackDacWrite(protocol::kDacRegisterLength, inputWord);
    return QStringLiteral("%1/%2").arg(fields.value, 0, 16).arg(fields.index, 0, 16);
}

QWidget* const kFocusWidget = nullptr;   // key clicks go to the widget with the keyboard focus

// Answers each modal window once it is active: records it, shows it to the
// inspector, then answers it, by default by closing it. One that has not taken
// the keyboard within five seconds fails the test and is answered all the
// same. Polls from the event loop, so it also runs inside exec().
struct ModalAnswerer {
    struct Seen {
        QString title, text;   // text, icon and buttons: a message box's
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    std::function<void(QWidget*)> inspector = [](QWidget*) {};
    std::function<void(QWidget*)> answer = [](QWidget* modal) { modal->close(); };
    std::vector<Seen> seen;

    ModalAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(kPollMs);
    }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == answered_) return;
        if (QApplication::activeWindow() != modal) {
            if (++waits_ < kPollsUntilActive) return;
            QTest::qFail("a modal window did not take the keyboard", __FILE__, __LINE__);
        }
        waits_ = 0;
        answered_ = modal;
        const auto* box = qobject_cast<QMessageBox*>(modal);
        seen.push_back({modal->windowTitle(), box ? box->text() : QString(), box ? box->icon() : QMessageBox::NoIcon,
                        box ? box->standardButtons() : QMessageBox::NoButton});
        inspector(modal);
        answer(modal);
    }
    static constexpr int kPollMs = 5;
    static constexpr int kPollsUntilActive = 5000 / kPollMs;
    QTimer timer_;
    QPointer<QWidget> answered_;
    int waits_ = 0;
};

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

    testing::DoubleLibrary double_{TARNEL_NEWER_DOUBLE};
    link::NewerLibraryBinding binding_{TARNEL_NEWER_DOUBLE};
    std::unique_ptr<ModalAnswerer> answerer_;
    std::unique_ptr<MainForm> form_;

    QStringList DacWrites() {
        QStringList writes;
        for (const DoubleCall& call : double_.Calls()) {
            if (QByteArray(call.operation) == "Vendor_Request" && call.args[1] == protocol::kRequestDacWrite) {
                writes << QStringLiteral("%1/%2").arg(call.args[2], 0, 16).arg(call.args[3], 0, 16);
            }
        }
        return writes;
    }

    void TypeIntoField(const QString& text) {
        form_->DacText->setFocus();
        form_->DacText->clear();
        QTest::keyClicks(form_->DacText, text);
    }

    // The one message box shown so far is the warning with this text.
    void CheckOneWarning(const QString& text) {
        QCOMPARE(answerer_->seen.size(), std::size_t{1});
        const ModalAnswerer::Seen& box = answerer_->seen.front();
        QCOMPARE(box.text, text);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.title, QStringLiteral("Tarnel Evaluation Software"));
    }

private slots:
    void initTestCase() {
        ApplyApplicationIdentity(*qApp);
        SetProgramEndHook(&ThrowProgramEnded);
    }

    void init() {
        Declare::ResetControlState();
        double_.Reset();
        link::SetActiveBoardLibrary(&binding_);
        answerer_ = std::make_unique<ModalAnswerer>();
        form_ = std::make_unique<MainForm>();
        if (QTest::currentTestFunction() == QByteArrayView("startUp")) return;   // it starts the form itself
        Main(*form_);
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        double_.Reset();   // start-up calls are not part of the test
    }

    void cleanup() {
        form_.reset();
        answerer_.reset();
    }

    void startUp_data() {
        QTest::addColumn<int>("loadStatus");
        QTest::newRow("0 accepted") << 0;
        QTest::newRow("1 refused") << 1;
        QTest::newRow("-1 refused") << -1;
    }

    void startUp() {
        QFETCH(int, loadStatus);
        double_.SetLoadStatus(static_cast<std::int16_t>(loadStatus));
        Declare::DacWord = 77;   // marks that tell whether Main's own assignments ran
        Declare::PowerDownMode = 2;
        bool shownDuringWarning = false;
        answerer_->inspector = [&](QWidget*) { shownDuringWarning = form_->isVisible(); };
        const int exitCode = ExitCodeOf([&] { Main(*form_); });

        const bool accepted = loadStatus == 0;
        QCOMPARE(exitCode, accepted ? -1 : int{kExitFirmwareLoadFailed});
        QCOMPARE(Declare::WordLength, std::int16_t{24});
        QCOMPARE(Declare::Resolution, std::int16_t{18});
        QCOMPARE(Declare::DacWord, accepted ? 0 : 77);
        QCOMPARE(Declare::PowerDownMode, std::int16_t(accepted ? 0 : 2));
        QCOMPARE(form_->isVisible(), accepted);
        QVERIFY(!shownDuringWarning && DacWrites().isEmpty());
        if (accepted) {
            QVERIFY(answerer_->seen.empty());
        } else {
            CheckOneWarning(QStringLiteral("Error Downloading Firmware - Check USB connections"));
        }
    }

    void programDac_data() {
        QTest::addColumn<int>("key");   // 0: a click on Program DAC
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fieldAfter");
        QTest::addColumn<int>("dataWord");   // -1: nothing sent
        QTest::newRow("empty") << 0 << "" << "00000" << 0;
        QTest::newRow("7") << 0 << "7" << "00007" << 7;
        QTest::newRow("abc") << 0 << "abc" << "00ABC" << 0xABC;
        QTest::newRow("20000") << 0 << "20000" << "20000" << 0x20000;
        QTest::newRow("3FFFF") << 0 << "3FFFF" << "3FFFF" << 0x3FFFF;
        QTest::newRow("3fffe") << 0 << "3fffe" << "3FFFE" << 0x3FFFE;
        QTest::newRow("40000 limited") << 0 << "40000" << "3FFFF" << 0x3FFFF;
        QTest::newRow("FFFFF limited") << 0 << "FFFFF" << "3FFFF" << 0x3FFFF;
        QTest::newRow("six typed, five kept") << 0 << "123456" << "12345" << 0x12345;
        QTest::newRow("12G") << 0 << "12G" << "" << -1;
        QTest::newRow("1 2") << 0 << "1 2" << "" << -1;
        QTest::newRow("spaces") << 0 << "   " << "" << -1;
        QTest::newRow("-1") << 0 << "-1" << "" << -1;
        QTest::newRow("&H12") << 0 << "&H12" << "" << -1;
        QTest::newRow("1234 by Enter") << int{Qt::Key_Return} << "1234" << "01234" << 0x1234;
        QTest::newRow("1234 by keypad Enter") << int{Qt::Key_Enter} << "1234" << "01234" << 0x1234;
        QTest::newRow("12G by Enter") << int{Qt::Key_Return} << "12G" << "" << -1;
    }

    void programDac() {
        QFETCH(int, key);
        QFETCH(QString, typed);
        QFETCH(QString, fieldAfter);
        QFETCH(int, dataWord);
        TypeIntoField(typed);
        if (key == 0) {
            QTest::mouseClick(form_->Command2, Qt::LeftButton);
        } else {
            QTest::keyClick(form_->DacText, static_cast<Qt::Key>(key));
        }
        QCOMPARE(form_->DacText->text(), fieldAfter);
        QVERIFY(answerer_->seen.empty());
        if (dataWord < 0) {
            QVERIFY(DacWrites().isEmpty());
            QCOMPARE(QApplication::focusWidget(), form_->DacText);
        } else {
            QCOMPARE(DacWrites(), QStringList{WriteText(static_cast<std::uint32_t>(dataWord) << protocol::kDataShift)});
        }
    }

    void failedWriteWarnsAndKeepsWord() {
        double_.SetRequestStatus(-1);
        TypeIntoField(QStringLiteral("1234"));
        QTest::mouseClick(form_->Command2, Qt::LeftButton);
        QCOMPARE(form_->DacText->text(), QStringLiteral("01234"));
        double_.SetRequestStatus(0);
        QTest::mouseClick(form_->Command2, Qt::LeftButton);   // the program goes on; this write succeeds
        CheckOneWarning(QStringLiteral("Error Writing DAC - Check USB connections"));
        QCOMPARE(DacWrites().size(), 2);
    }

    void readVoltage_data() {
        QTest::addColumn<int>("readBack");
        QTest::addColumn<QString>("shown");
        const std::pair<int, const char*> rows[] = {{0x0000, "0.000"}, {0x0001, "0.001"}, {0x0064, "0.120"},
                                                    {0x0400, "1.233"}, {0x0C00, "3.698"}, {0x0FFF, "4.929"},
                                                    {0x1000, "0.000"}, {0xF800, "2.465"}, {0xFFFF, "4.929"}};
        for (const auto& [readBack, shown] : rows) QTest::addRow("0x%04X", readBack) << readBack << QString(shown);
    }

    void readVoltage() {
        QFETCH(int, readBack);
        QFETCH(QString, shown);
        double_.SetReadBack(static_cast<std::uint16_t>(readBack));
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        QCOMPARE(double_.Operations(), std::vector<std::string>{"Vendor_Request"});
        QCOMPARE(form_->NumLED1->DisplayedText(), shown);
        QCOMPARE(Declare::OutputVoltage, shown.toFloat());
        QCOMPARE(form_->NumLED1->property("Value").toDouble(), double{shown.toFloat()});
        QVERIFY(answerer_->seen.empty());
    }

    void failedReadShowsDashesAndKeepsReading() {
        double_.SetReadBack(0x0800);
        form_->Command1_Click();
        double_.SetRequestStatus(-1);
        double_.SetReadBack(0x0FFF);   // bytes a failed request must not pass off as a reading
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        CheckOneWarning(QStringLiteral("Error Reading Voltage - Check USB connections"));
        QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("-.---"));
        QCOMPARE(Declare::AdcCode, 2048);
        QCOMPARE(Declare::OutputVoltage, 2.465f);
        double_.SetRequestStatus(0);
        double_.SetReadBack(0x0400);
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("1.233"));
    }

    void missingLibraryEndsProgramOnRead() {
        link::NewerLibraryBinding missing("/nonexistent/libmissing_board_library.so");
        link::SetActiveBoardLibrary(&missing);
        const int exitCode = ExitCodeOf([&] { form_->Command1_Click(); });
        link::SetActiveBoardLibrary(&binding_);
        QCOMPARE(exitCode, int{kExitRunTimeError});
        QCOMPARE(answerer_->seen.size(), std::size_t{1});
        QCOMPARE(answerer_->seen.front().icon, QMessageBox::Critical);
        QVERIFY2(answerer_->seen.front().text.contains("/nonexistent/libmissing_board_library.so"),
                 qPrintable(answerer_->seen.front().text));
    }

    // Once a box the window opened has closed, the keyboard is the window's
    // again: Alt+R reads the voltage with no click on the window first.
    void keyboardBackAfterEachBox_data() {
        QTest::addColumn<int>("accessKey");   // the key that opens the box, with Alt
        QTest::addColumn<int>("requestStatus");
        QTest::newRow("Error Writing DAC") << int{Qt::Key_P} << -1;
        QTest::newRow("Error Reading Voltage") << int{Qt::Key_R} << -1;
        QTest::newRow("About") << int{Qt::Key_H} << 0;
    }

    void keyboardBackAfterEachBox() {
        QFETCH(int, accessKey);
        QFETCH(int, requestStatus);
        double_.SetRequestStatus(static_cast<std::int16_t>(requestStatus));
        QTest::keyClick(kFocusWidget, static_cast<Qt::Key>(accessKey), Qt::AltModifier);
        if (accessKey == Qt::Key_H) QTest::keyClick(form_->MnuHelp, Qt::Key_A);
        QTRY_COMPARE(answerer_->seen.size(), std::size_t{1});
        QTRY_COMPARE(QApplication::activeWindow(), form_.get());
        double_.SetRequestStatus(0);
        double_.SetReadBack(0x0800);
        QTest::keyClick(kFocusWidget, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("2.465"));
    }

    void keyboardOnly() {
        // The hidden options take the arrow keys; Enter there sends nothing (no default button).
        const std::pair<Qt::Key, QRadioButton*> steps[] = {
            {Qt::Key_Down, form_->Option2}, {Qt::Key_Down, form_->Option3}, {Qt::Key_Down, form_->Option4},
            {Qt::Key_Up, form_->Option3}};
        for (const auto& [key, option] : steps) {
            QTest::keyClick(kFocusWidget, key);
            QVERIFY(option->isChecked());
        }
        QCOMPARE(Declare::PowerDownMode, std::int16_t{2});
        QTest::keyClick(kFocusWidget, Qt::Key_Return);
        QVERIFY(double_.Calls().empty());

        QTest::keyClick(kFocusWidget, Qt::Key_Tab);
        QTest::keyClicks(kFocusWidget, QStringLiteral("20000"));   // Tab selected "00000"
        QTest::keyClick(kFocusWidget, Qt::Key_Return);
        QTest::keyClick(kFocusWidget, Qt::Key_P, Qt::AltModifier);
        const std::uint32_t inputWord = (2u << protocol::kPowerDownShift) | (0x20000u << protocol::kDataShift);
        QTRY_COMPARE(DacWrites(), QStringList(2, WriteText(inputWord)));

        double_.SetReadBack(0x0ABC);
        QTest::keyClick(kFocusWidget, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("3.308"));
        QTest::keyClick(kFocusWidget, Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() == form_->MnuHelp);
        QTest::keyClick(kFocusWidget, Qt::Key_A);
        QTRY_COMPARE(answerer_->seen.size(), std::size_t{1});
        QCOMPARE(answerer_->seen.front().title, QStringLiteral("About Tarnel Evaluation Software"));
    }

    // Each route closes the dialog and destroys it; every opening shows the
    // same texts (the version line is rebuilt, not appended to).
    void aboutClosesAndReopensAlike_data() {
        QTest::addColumn<QString>("route");
        QTest::newRow("Enter") << "Enter";
        QTest::newRow("Esc") << "Esc";
        QTest::newRow("click OK") << "click";
        QTest::newRow("close box") << "close";
    }

    void aboutClosesAndReopensAlike() {
        QFETCH(QString, route);
        QList<QStringList> openings;
        QList<QPointer<QWidget>> dialogs;
        answerer_->answer = [&](QWidget* modal) {
            auto* about = qobject_cast<frmAbout*>(modal);
            openings << QStringList{about->windowTitle(), about->lblTitle->text(), about->lblVersion->text(),
                                    about->lblDescription->text(), about->Label1->text()};
            dialogs << modal;
            if (route == "Enter") QTest::keyClick(kFocusWidget, Qt::Key_Return);
            if (route == "Esc") QTest::keyClick(kFocusWidget, Qt::Key_Escape);
            if (route == "click") QTest::mouseClick(about->cmdOK, Qt::LeftButton);
            if (route == "close") about->close();
        };
        for (int opening = 0; opening < 3; ++opening) form_->MnuABout_Click();

        QCOMPARE(openings.size(), 3);
        QCOMPARE(openings.count(openings.front()), 3);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        for (const auto& dialog : dialogs) QVERIFY(dialog.isNull());   // destroyed on each close
    }

    void mainWindowInertWhileAboutOpen() {
        TypeIntoField(QStringLiteral("5"));
        double_.SetReadBack(0x0800);
        QWindow* window = form_->windowHandle();
        const QPoint program = form_->Command2->mapTo(form_.get(), form_->Command2->rect().center());
        const QPoint read = form_->Command1->mapTo(form_.get(), form_->Command1->rect().center());
        answerer_->inspector = [&](QWidget*) {
            QTest::mouseClick(window, Qt::LeftButton, {}, program);
            QTest::mouseClick(window, Qt::LeftButton, {}, read);
            QTest::keyClick(window, Qt::Key_Return);
        };
        form_->MnuABout_Click();
        QVERIFY(double_.Calls().empty());
        QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("0.000"));
        // The same clicks reach the window once the dialog has closed.
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QTest::mouseClick(window, Qt::LeftButton, {}, program);
        QTest::mouseClick(window, Qt::LeftButton, {}, read);
        QTRY_COMPARE(DacWrites().size(), 1);
        QTRY_COMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("2.465"));
    }

    // The rules the field cannot be made to reach: more than five characters,
    // characters no key types, an empty text; other builds.
    void dataWordFromField_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");   // or the start of the error's message
        QTest::addColumn<int>("value");
        QTest::newRow("7FFFFFFF limited") << "7FFFFFFF" << "3FFFF" << 0x3FFFF;
        QTest::newRow("FFFFFFFF is -1, limited to 0") << "FFFFFFFF" << "00000" << 0;
        QTest::newRow("80000000 is negative") << "80000000" << "00000" << 0;
        QTest::newRow("leading zeros do not count") << "0000000012" << "00012" << 0x12;
        QTest::newRow("eight significant of nine") << "0FFFFFFFF" << "00000" << 0;
        QTest::newRow("nine significant") << "100000000" << "Overflow" << -1;
        QTest::newRow("empty") << "" << "Not a hexadecimal number" << -1;
        QTest::newRow("fullwidth digit") << QString::fromUtf8("\xEF\xBC\x91") << "Not a hexadecimal number" << -1;
    }

    void dataWordFromField() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(int, value);
        try {
            const DataWordEntry entry = DataWordFromField(field, 18);
            QCOMPARE(entry.text, text);
            QCOMPARE(entry.value, value);
        } catch (const RunTimeError& error) {
            QVERIFY2(value < 0 && QString::fromUtf8(error.what()).startsWith(text), error.what());
        }
    }

    void versionTextOfOtherBuilds() {
        const std::pair<std::int16_t, const char*> cases[] = {{12, "Version 1.0.12"}, {0, "Version 1.0.0"}};
        for (const auto& [revision, text] : cases) QCOMPARE(VersionText({1, 0, revision, "", ""}), QString(text));
    }
};

QTEST_MAIN(MainFormTest)
#include "ui_main_form_tests.moc"
