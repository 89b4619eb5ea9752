// The main window and the About dialog, driven through their widgets, with
// the program bound to the test double of the newer board-access library.
#include <cstdint>
#include <memory>
#include <vector>

#include <QtTest>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <tarnel/board_protocol.h>

#include "core/declare.h"
#include "core/main_sequence.h"
#include "core/program_end.h"
#include "double_control.h"
#include "link/board_library.h"
#include "link/comms_functions.h"
#include "link/newer_library_binding.h"
#include "modal_answerer.h"
#include "ui/about_form.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"
#include "ui/num_led.h"
#include "ui/twips.h"

using namespace tarnel;
using namespace tarnel::ui;
using tarnel::testing::ModalAnswerer;

namespace {

// Thrown by the program-end hook in place of the process end. Not a
// std::exception, so no handler of the program swallows it.
struct ProgramEnded {
    int exitCode;
};

[[noreturn]] void ThrowProgramEnded(int exitCode) { throw ProgramEnded{exitCode}; }

struct DacWrite {
    std::uint16_t value;
    std::uint16_t index;
};

const QString kAppTitle = QStringLiteral("Tarnel Evaluation Software");

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

public:
    MainFormTest() : double_(TARNEL_NEWER_DOUBLE), binding_(TARNEL_NEWER_DOUBLE) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startUpAcceptedOrRefused_data();
    void startUpAcceptedOrRefused();
    void windowLayout();
    void programDacTable_data();
    void programDacTable();
    void enterTwiceSendsTwice();
    void overflowInEncodingEmptiesField();
    void failedWriteWarns();
    void readVoltageTable_data();
    void readVoltageTable();
    void failedReadShowsDashes();
    void missingLibraryEndsProgramOnRead();
    void keyboardRouteThroughHiddenOptions();
    void optionChangeSendsNothing();
    void accessKeysRunCommands();
    void exitHandlersEndProgram();
    void aboutTexts();
    void aboutClosesAndReopens_data();
    void aboutClosesAndReopens();
    void mainWindowInertWhileAboutOpen();

private:
    void StartForm();
    std::vector<DacWrite> DacWrites();
    int ReadRequests();
    void SetReadBack(int code);
    void TypeIntoField(const QString& text);

    tarnel::testing::DoubleLibrary double_;
    link::NewerLibraryBinding binding_;
    std::unique_ptr<ModalAnswerer> answerer_;
    std::unique_ptr<MainForm> form_;
};

void MainFormTest::initTestCase() {
    ApplyApplicationIdentity(*qApp);
    SetProgramEndHook(&ThrowProgramEnded);
}

void MainFormTest::init() {
    Declare::ResetControlState();
    double_.Reset();
    link::SetActiveBoardLibrary(&binding_);
    answerer_ = std::make_unique<ModalAnswerer>();
    form_ = std::make_unique<MainForm>();
}

void MainFormTest::cleanup() {
    form_.reset();
    answerer_.reset();
}

void MainFormTest::StartForm() {
    Main(*form_);
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    double_.Reset();   // start-up calls are not part of the test
}

std::vector<DacWrite> MainFormTest::DacWrites() {
    std::vector<DacWrite> writes;
    for (const DoubleCall& call : double_.Calls()) {
        if (QByteArray(call.operation) == "Vendor_Request" && call.args[1] == protocol::kRequestDacWrite) {
            writes.push_back({static_cast<std::uint16_t>(call.args[2]), static_cast<std::uint16_t>(call.args[3])});
        }
    }
    return writes;
}

int MainFormTest::ReadRequests() {
    int reads = 0;
    for (const DoubleCall& call : double_.Calls()) {
        if (QByteArray(call.operation) == "Vendor_Request" && call.args[1] == protocol::kRequestConverterRead) ++reads;
    }
    return reads;
}

void MainFormTest::SetReadBack(int code) {
    // The program mirrors each byte; byte 0 is the high byte.
    double_.SetReadBytes(CommsFunctions::ReverseBits(static_cast<std::uint8_t>(code >> 8)),
                         CommsFunctions::ReverseBits(static_cast<std::uint8_t>(code & 0xFF)));
}

void MainFormTest::TypeIntoField(const QString& text) {
    form_->DacText->setFocus();
    form_->DacText->clear();
    QTest::keyClicks(form_->DacText, text);
}

void MainFormTest::startUpAcceptedOrRefused_data() {
    QTest::addColumn<int>("loadStatus");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0 accepted") << 0 << true;
    QTest::newRow("1 refused") << 1 << false;
    QTest::newRow("-1 refused") << -1 << false;
}

void MainFormTest::startUpAcceptedOrRefused() {
    QFETCH(int, loadStatus);
    QFETCH(bool, accepted);
    double_.SetLoadStatus(static_cast<std::int16_t>(loadStatus));
    // Marks that tell whether Main's own assignments ran.
    Declare::DacWord = 77;
    Declare::PowerDownMode = 2;
    bool windowShownDuringWarning = true;
    answerer_->SetInspector([&](QWidget*) { windowShownDuringWarning = form_->isVisible(); });

    int exitCode = -1;
    try {
        Main(*form_);
    } catch (const ProgramEnded& ended) {
        exitCode = ended.exitCode;
    }

    QCOMPARE(Declare::WordLength, std::int16_t{24});
    QCOMPARE(Declare::Resolution, std::int16_t{18});
    QVERIFY(DacWrites().empty());
    if (accepted) {
        QCOMPARE(exitCode, -1);
        QVERIFY(answerer_->Seen().empty());
        QVERIFY(form_->isVisible());
        QVERIFY(form_->Option1->isChecked());
        QCOMPARE(Declare::PowerDownMode, std::int16_t{0});
        QCOMPARE(Declare::DacWord, 0);
        QCOMPARE(form_->DacText->text(), QStringLiteral("00000"));
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QCOMPARE(QApplication::focusWidget(), form_->Option1);
    } else {
        QCOMPARE(exitCode, int{kExitFirmwareLoadFailed});
        QCOMPARE(answerer_->Seen().size(), std::size_t{1});
        const auto& box = answerer_->Seen().front();
        QCOMPARE(box.text, QStringLiteral("Error Downloading Firmware - Check USB connections"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.title, kAppTitle);
        QVERIFY(!windowShownDuringWarning);
        QVERIFY(!form_->isVisible());
        QCOMPARE(Declare::DacWord, 77);
        QCOMPARE(Declare::PowerDownMode, std::int16_t{2});
    }
}

void MainFormTest::windowLayout() {
    StartForm();
    QCOMPARE(form_->windowTitle(), kAppTitle);
    QVERIFY(!form_->windowIcon().isNull());
    QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form_->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->centralWidget()->size(), TwipSize(5475, 3690));
    // The power-down frame lies wholly below the client area, yet is not hidden.
    QVERIFY(form_->Frame1->y() >= form_->centralWidget()->height());
    QVERIFY(form_->Option1->isVisible());
    QCOMPARE(form_->DacText->maxLength(), 5);
    QCOMPARE(form_->DacText->palette().color(QPalette::Text), QColor(0, 0, 192));
    QCOMPARE(form_->Frame2->palette().color(QPalette::Window), QColor(0, 0, 255));
    QCOMPARE(form_->Frame2->palette().color(QPalette::WindowText), QColor(Qt::white));
    QVERIFY(form_->Frame2->font().bold());
    QCOMPARE(form_->DacText->font().pointSizeF(), 12.0);
    QCOMPARE(form_->Option1->font().pointSizeF(), 8.25);
    QVERIFY(!form_->Command1->isDefault() && !form_->Command2->isDefault());
    QCOMPARE(form_->MnuFile->title(), QStringLiteral("&File"));
    QCOMPARE(form_->MnuExit->text(), QStringLiteral("E&xit"));
    QCOMPARE(form_->MnuHelp->title(), QStringLiteral("&Help"));
    QCOMPARE(form_->MnuABout->text(), QStringLiteral("&About"));
    QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("0.000"));
}

void MainFormTest::programDacTable_data() {
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("fieldAfter");
    QTest::addColumn<int>("dataWord");   // -1: nothing sent
    struct Row {
        const char* name;
        const char* typed;
        const char* after;
        int word;
    };
    const Row rows[] = {
        {"empty", "", "00000", 0},
        {"0", "0", "00000", 0},
        {"7", "7", "00007", 7},
        {"abc", "abc", "00ABC", 0xABC},
        {"1234", "1234", "01234", 0x1234},
        {"20000", "20000", "20000", 0x20000},
        {"3FFFF", "3FFFF", "3FFFF", 0x3FFFF},
        {"3fffe", "3fffe", "3FFFE", 0x3FFFE},
        {"40000", "40000", "3FFFF", 0x3FFFF},
        {"FFFFF", "FFFFF", "3FFFF", 0x3FFFF},
        {"12G", "12G", "", -1},
        {"1 2", "1 2", "", -1},
        {"spaces", "   ", "", -1},
        {"six typed, five kept", "123456", "12345", 0x12345},
    };
    for (const bool byEnter : {true, false}) {
        for (const Row& row : rows) {
            QTest::addRow("%s by %s", row.name, byEnter ? "Enter" : "click")
                << byEnter << QString::fromLatin1(row.typed) << QString::fromLatin1(row.after) << row.word;
        }
    }
}

void MainFormTest::programDacTable() {
    QFETCH(bool, byEnter);
    QFETCH(QString, typed);
    QFETCH(QString, fieldAfter);
    QFETCH(int, dataWord);
    StartForm();
    Declare::DacWord = 4242;   // a rejected entry leaves it as it was
    TypeIntoField(typed);
    if (byEnter) {
        QTest::keyClick(form_->DacText, Qt::Key_Return);
    } else {
        QTest::mouseClick(form_->Command2, Qt::LeftButton);
    }

    QCOMPARE(form_->DacText->text(), fieldAfter);
    QVERIFY(answerer_->Seen().empty());
    const std::vector<DacWrite> writes = DacWrites();
    if (dataWord < 0) {
        QVERIFY(writes.empty());
        QCOMPARE(Declare::DacWord, 4242);
        QCOMPARE(QApplication::focusWidget(), form_->DacText);
    } else {
        const auto inputWord = static_cast<std::uint32_t>(dataWord) << protocol::kDataShift;
        QCOMPARE(writes.size(), std::size_t{1});
        QCOMPARE(writes[0].value, protocol::DacValueFor(inputWord));
        QCOMPARE(writes[0].index, protocol::DacIndexFor(inputWord));
        QCOMPARE(Declare::DacWord, static_cast<std::int32_t>(inputWord));
    }
}

void MainFormTest::enterTwiceSendsTwice() {
    StartForm();
    TypeIntoField(QStringLiteral("3FFFF"));
    QTest::keyClick(form_->DacText, Qt::Key_Return);
    QTest::keyClick(form_->DacText, Qt::Key_Enter);   // the keypad's Enter too
    const std::vector<DacWrite> writes = DacWrites();
    QCOMPARE(writes.size(), std::size_t{2});
    QCOMPARE(writes[0].value, writes[1].value);
    QCOMPARE(writes[0].index, writes[1].index);
    QCOMPARE(Declare::DacWord, 0x0FFFFC);
}

void MainFormTest::overflowInEncodingEmptiesField() {
    StartForm();
    // A power-down code no option sets: the input word leaves the 32-bit range.
    Declare::PowerDownMode = 2048;
    TypeIntoField(QStringLiteral("1"));
    form_->Command2_Click();
    QCOMPARE(form_->DacText->text(), QString());
    QCOMPARE(QApplication::focusWidget(), form_->DacText);
    QVERIFY(DacWrites().empty());
    QVERIFY(answerer_->Seen().empty());
}

void MainFormTest::failedWriteWarns() {
    StartForm();
    double_.SetRequestStatus(-1);
    TypeIntoField(QStringLiteral("1234"));
    QTest::mouseClick(form_->Command2, Qt::LeftButton);

    QCOMPARE(answerer_->Seen().size(), std::size_t{1});
    const auto& box = answerer_->Seen().front();
    QCOMPARE(box.text, QStringLiteral("Error Writing DAC - Check USB connections"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.title, kAppTitle);
    QCOMPARE(form_->DacText->text(), QStringLiteral("01234"));
    QCOMPARE(DacWrites().size(), std::size_t{1});

    // The program goes on: the next write succeeds silently.
    double_.SetRequestStatus(0);
    QTest::mouseClick(form_->Command2, Qt::LeftButton);
    QCOMPARE(answerer_->Seen().size(), std::size_t{1});
    QCOMPARE(DacWrites().size(), std::size_t{2});
}

void MainFormTest::readVoltageTable_data() {
    QTest::addColumn<int>("readBack");
    QTest::addColumn<int>("adcCode");
    QTest::addColumn<float>("volts");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0x0000") << 0x0000 << 0 << 0.0f << "0.000";
    QTest::newRow("0x0001") << 0x0001 << 1 << 0.001f << "0.001";
    QTest::newRow("0x0064") << 0x0064 << 100 << 0.12f << "0.120";
    QTest::newRow("0x0400") << 0x0400 << 1024 << 1.233f << "1.233";
    QTest::newRow("0x0800") << 0x0800 << 2048 << 2.465f << "2.465";
    QTest::newRow("0x0ABC") << 0x0ABC << 2748 << 3.308f << "3.308";
    QTest::newRow("0x0C00") << 0x0C00 << 3072 << 3.698f << "3.698";
    QTest::newRow("0x0FFF") << 0x0FFF << 4095 << 4.929f << "4.929";
    QTest::newRow("0x1000") << 0x1000 << 0 << 0.0f << "0.000";
    QTest::newRow("0xF800") << 0xF800 << 2048 << 2.465f << "2.465";
    QTest::newRow("0xFFFF") << 0xFFFF << 4095 << 4.929f << "4.929";
}

void MainFormTest::readVoltageTable() {
    QFETCH(int, readBack);
    QFETCH(int, adcCode);
    QFETCH(float, volts);
    QFETCH(QString, shown);
    StartForm();
    SetReadBack(readBack);
    QTest::mouseClick(form_->Command1, Qt::LeftButton);

    QCOMPARE(ReadRequests(), 1);
    QCOMPARE(Declare::AdcCode, adcCode);
    QCOMPARE(Declare::OutputVoltage, volts);
    QCOMPARE(form_->NumLED1->Value(), static_cast<double>(volts));
    QCOMPARE(form_->NumLED1->property("Value").toDouble(), static_cast<double>(volts));
    QCOMPARE(form_->NumLED1->DisplayedText(), shown);
    QVERIFY(answerer_->Seen().empty());
    QVERIFY(DacWrites().empty());
}

void MainFormTest::failedReadShowsDashes() {
    StartForm();
    SetReadBack(0x0800);
    form_->Command1_Click();
    QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("2.465"));

    double_.SetRequestStatus(-1);
    SetReadBack(0x0FFF);   // bytes a failed request must not pass off as a reading
    QTest::mouseClick(form_->Command1, Qt::LeftButton);
    QCOMPARE(answerer_->Seen().size(), std::size_t{1});
    QCOMPARE(answerer_->Seen().front().text, QStringLiteral("Error Reading Voltage - Check USB connections"));
    QCOMPARE(answerer_->Seen().front().icon, QMessageBox::Warning);
    QVERIFY(form_->NumLED1->ShowsDashes());
    QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("-.---"));
    QCOMPARE(Declare::AdcCode, 2048);
    QCOMPARE(Declare::OutputVoltage, 2.465f);

    double_.SetRequestStatus(0);
    SetReadBack(0x0400);
    QTest::mouseClick(form_->Command1, Qt::LeftButton);
    QVERIFY(!form_->NumLED1->ShowsDashes());
    QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("1.233"));
    QCOMPARE(answerer_->Seen().size(), std::size_t{1});
}

void MainFormTest::missingLibraryEndsProgramOnRead() {
    StartForm();
    link::NewerLibraryBinding missing("/nonexistent/libmissing_board_library.so");
    link::SetActiveBoardLibrary(&missing);
    int exitCode = -1;
    try {
        form_->Command1_Click();
    } catch (const ProgramEnded& ended) {
        exitCode = ended.exitCode;
    }
    link::SetActiveBoardLibrary(&binding_);
    QCOMPARE(exitCode, int{kExitRunTimeError});
    QCOMPARE(answerer_->Seen().size(), std::size_t{1});
    QCOMPARE(answerer_->Seen().front().icon, QMessageBox::Critical);
    QVERIFY2(answerer_->Seen().front().text.contains("/nonexistent/libmissing_board_library.so"),
             qPrintable(answerer_->Seen().front().text));
}

void MainFormTest::keyboardRouteThroughHiddenOptions() {
    StartForm();
    QCOMPARE(QApplication::focusWidget(), form_->Option1);
    struct Step {
        Qt::Key key;
        QRadioButton* option;
        std::int16_t mode;
    };
    const Step steps[] = {{Qt::Key_Down, form_->Option2, 1},
                          {Qt::Key_Down, form_->Option3, 2},
                          {Qt::Key_Down, form_->Option4, 3},
                          {Qt::Key_Up, form_->Option3, 2}};
    for (const Step& step : steps) {
        QTest::keyClick(static_cast<QWidget*>(nullptr), step.key);
        QVERIFY(step.option->isChecked());
        QCOMPARE(Declare::PowerDownMode, step.mode);
    }
    QVERIFY(DacWrites().empty());

    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form_->DacText);
    QTest::keyClicks(static_cast<QWidget*>(nullptr), QStringLiteral("20000"));   // Tab selected "00000"
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return);

    const std::uint32_t inputWord = (2u << protocol::kPowerDownShift) | (0x20000u << protocol::kDataShift);
    const std::vector<DacWrite> writes = DacWrites();
    QCOMPARE(writes.size(), std::size_t{1});
    QCOMPARE(writes[0].value, protocol::DacValueFor(inputWord));
    QCOMPARE(writes[0].index, protocol::DacIndexFor(inputWord));
}

void MainFormTest::optionChangeSendsNothing() {
    StartForm();
    form_->Option3->setChecked(true);
    QCOMPARE(Declare::PowerDownMode, std::int16_t{2});
    form_->Option1->setChecked(true);
    QCOMPARE(Declare::PowerDownMode, std::int16_t{0});
    QVERIFY(double_.Calls().empty());
}

void MainFormTest::accessKeysRunCommands() {
    StartForm();
    TypeIntoField(QStringLiteral("123"));
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(DacWrites().size(), std::size_t{1});
    QCOMPARE(form_->DacText->text(), QStringLiteral("00123"));

    SetReadBack(0x0ABC);
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("3.308"));

    answerer_->SetAnswer([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() == form_->MnuHelp);
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_A);
    QTRY_COMPARE(answerer_->Seen().size(), std::size_t{1});
    QCOMPARE(answerer_->Seen().front().objectName, QStringLiteral("frmAbout"));
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));

    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() == form_->MnuFile);
    QVERIFY(form_->MnuFile->actions().contains(form_->MnuExit));
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);   // E&xit itself ends the process
}

void MainFormTest::exitHandlersEndProgram() {
    StartForm();
    using Handler = void (MainForm::*)();
    for (const Handler handler : {&MainForm::MnuExit_Click, &MainForm::Form_Unload}) {
        int exitCode = -1;
        try {
            (form_.get()->*handler)();
        } catch (const ProgramEnded& ended) {
            exitCode = ended.exitCode;
        }
        QCOMPARE(exitCode, int{kExitNormal});
    }
    QVERIFY(double_.Calls().empty());
}

void MainFormTest::aboutTexts() {
    StartForm();
    QStringList texts;
    answerer_->SetInspector([&](QWidget* modal) {
        auto* about = qobject_cast<frmAbout*>(modal);
        QVERIFY(about != nullptr);
        texts << about->windowTitle() << about->lblTitle->text() << about->lblVersion->text()
              << about->lblDescription->text() << about->Label1->text();
        QVERIFY(about->cmdOK->isDefault());
        QCOMPARE(QApplication::focusWidget(), about->cmdOK);
        QCOMPARE(about->size(), TwipSize(5730, 3090));
        QCOMPARE(about->minimumSize(), about->maximumSize());
        QVERIFY(!(about->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
        QVERIFY(!about->windowIcon().isNull());
        QVERIFY(!about->picIcon->pixmap().isNull());
        QCOMPARE(about->findChildren<QWidget*>(QStringLiteral("Line1")).size(), 2);
        QVERIFY(about->isModal());
    });
    form_->MnuABout_Click();
    QCOMPARE(texts, QStringList({QStringLiteral("About Tarnel Evaluation Software"),
                                 QStringLiteral("Tarnel Evaluation Board Control Software"),
                                 QStringLiteral("Version 1.0.8"),
                                 QStringLiteral("Hardware and Software  Developed by the  Ostrel group"),
                                 QStringLiteral("The latest version of all Velorn software is available from our "
                                                "website https://www.velorn.example")}));
}

void MainFormTest::aboutClosesAndReopens_data() {
    QTest::addColumn<QString>("route");
    QTest::newRow("Enter") << "Enter";
    QTest::newRow("Esc") << "Esc";
    QTest::newRow("click OK") << "click";
    QTest::newRow("close box") << "close";
}

void MainFormTest::aboutClosesAndReopens() {
    QFETCH(QString, route);
    StartForm();
    QStringList versions;
    std::vector<QPointer<QWidget>> dialogs;
    answerer_->SetInspector([&](QWidget* modal) {
        dialogs.emplace_back(modal);
        versions << qobject_cast<frmAbout*>(modal)->lblVersion->text();
    });
    answerer_->SetAnswer([route](QWidget* modal) {
        auto* about = qobject_cast<frmAbout*>(modal);
        if (route == "Enter") QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return);
        if (route == "Esc") QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);
        if (route == "click") QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        if (route == "close") about->close();
    });
    for (int opening = 0; opening < 3; ++opening) {
        form_->MnuABout_Click();
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }
    QCOMPARE(versions, QStringList(3, QStringLiteral("Version 1.0.8")));
    for (const auto& dialog : dialogs) QVERIFY(dialog.isNull());   // destroyed on each close
}

void MainFormTest::mainWindowInertWhileAboutOpen() {
    StartForm();
    TypeIntoField(QStringLiteral("5"));
    form_->Option2->setChecked(true);
    SetReadBack(0x0800);
    QWindow* window = form_->windowHandle();
    const QPoint program = form_->Command2->mapTo(form_.get(), form_->Command2->rect().center());
    const QPoint read = form_->Command1->mapTo(form_.get(), form_->Command1->rect().center());

    answerer_->SetInspector([&](QWidget*) {
        QTest::mouseClick(window, Qt::LeftButton, {}, program);
        QTest::mouseClick(window, Qt::LeftButton, {}, read);
        QTest::keyClick(window, Qt::Key_Up);
        QTest::keyClick(window, Qt::Key_Return);
        QTest::keyClick(window, Qt::Key_X, Qt::AltModifier);
    });
    form_->MnuABout_Click();
    QVERIFY(double_.Calls().empty());
    QCOMPARE(form_->DacText->text(), QStringLiteral("5"));
    QCOMPARE(Declare::PowerDownMode, std::int16_t{1});
    QCOMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("0.000"));

    // The same clicks reach the window once the dialog has closed.
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTest::mouseClick(window, Qt::LeftButton, {}, program);
    QTest::mouseClick(window, Qt::LeftButton, {}, read);
    QTRY_COMPARE(DacWrites().size(), std::size_t{1});
    QTRY_COMPARE(form_->NumLED1->DisplayedText(), QStringLiteral("2.465"));
}

QTEST_MAIN(MainFormTest)
#include "ui_main_form_tests.moc"
