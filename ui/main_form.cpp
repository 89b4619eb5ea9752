#include "ui/main_form.h"

#include <cstdio>

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

#include <tarnel/board_protocol.h>

#include "core/encode_and_send.h"
#include "core/read_voltage.h"
#include "link/board_startup.h"
#include "state/declare.h"
#include "state/program_end.h"
#include "state/run_time_error.h"
#include "ui/about_form.h"
#include "ui/application_identity.h"
#include "ui/control_font.h"
#include "ui/hex_entry.h"
#include "ui/message_box.h"
#include "ui/num_led.h"
#include "ui/run_modal.h"
#include "ui/run_time_error_report.h"
#include "ui/twips.h"

namespace tarnel::ui {

namespace {

constexpr int kClientWidthTwips = 5475;
constexpr int kClientHeightTwips = 3690;
constexpr int kDacTextMaxLength = 5;
constexpr std::int16_t kEnterKey = 13;

constexpr qreal kFramePoints = 9.75;
constexpr qreal kOptionPoints = 8.25;
constexpr qreal kDacTextPoints = 12.0;

const QColor kPureBlue(0, 0, 255);
const QColor kDarkBlue(0, 0, 192);

// Blue background and white text, as the client area, the frames, the label
// and the option buttons have them.
void PaintWhiteOnBlue(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, kPureBlue);
    palette.setColor(QPalette::WindowText, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Undoes the blue and white that a control inherits from its frame.
void KeepSystemColours(QWidget* widget) {
    const QPalette system = QApplication::palette(widget);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, system.color(QPalette::Window));
    palette.setColor(QPalette::WindowText, system.color(QPalette::WindowText));
    widget->setPalette(palette);
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, const QRect& geometry, qreal points) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    widget->setFont(ControlFont(points));
    return widget;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
    auto* frame = Place(new QGroupBox(caption, parent), name, geometry, kFramePoints);
    PaintWhiteOnBlue(frame);
    return frame;
}

QRadioButton* MakeOption(QGroupBox* frame, const char* name, const QString& caption, const QRect& geometry) {
    auto* option = Place(new QRadioButton(caption, frame), name, geometry, kOptionPoints);
    PaintWhiteOnBlue(option);
    return option;
}

QPushButton* MakeCommand(QGroupBox* frame, const char* name, const QString& caption, const QRect& geometry) {
    auto* command = Place(new QPushButton(caption, frame), name, geometry, kFramePoints);
    // Keeps the system colours, and is never the window's default button:
    // Enter programs the DAC only while the focus is in the data field.
    KeepSystemColours(command);
    command->setAutoDefault(false);
    command->setDefault(false);
    return command;
}

}  // namespace

MainForm::MainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(ApplicationTitle());
    setWindowIcon(ApplicationIcon());
    // Fixed single border: minimise and close, no maximise, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(TwipSize(kClientWidthTwips, kClientHeightTwips));
    PaintWhiteOnBlue(client);
    setCentralWidget(client);
    BuildControls(client);
    BuildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void MainForm::BuildControls(QWidget* client) {
    // The power-down frame starts below the client area's bottom edge: out of
    // sight, yet its options come first in the tab order and take the keyboard.
    Frame1 = MakeFrame(client, "Frame1", QStringLiteral("Choose Power Down Option"), TwipRect(1200, 4920, 3135, 1935));
    Option1 = MakeOption(Frame1, "Option1", QStringLiteral("Normal Operation"), TwipRect(240, 360, 1815, 255));
    Option2 = MakeOption(Frame1, "Option2", QStringLiteral("Power Down - 1K to Gnd"), TwipRect(240, 720, 2535, 255));
    Option3 = MakeOption(Frame1, "Option3", QStringLiteral("Power Down - 100 K to Gnd"), TwipRect(240, 1080, 2775, 255));
    Option4 = MakeOption(Frame1, "Option4", QStringLiteral("Power Down - Three State"), TwipRect(240, 1440, 2655, 255));

    Frame2 = MakeFrame(client, "Frame2", QStringLiteral("Enter Data Word"), TwipRect(120, 240, 5175, 1455));
    DacText = Place(new QLineEdit(QStringLiteral("00000"), Frame2), "DacText", TwipRect(360, 600, 1095, 375),
                    kDacTextPoints);
    DacText->setMaxLength(kDacTextMaxLength);
    KeepSystemColours(DacText);
    QPalette field = DacText->palette();
    field.setColor(QPalette::Text, kDarkBlue);
    DacText->setPalette(field);
    Label4 = Place(new QLabel(QStringLiteral("HEX"), Frame2), "Label4", TwipRect(1560, 720, 495, 255), kFramePoints);
    PaintWhiteOnBlue(Label4);
    Command2 = MakeCommand(Frame2, "Command2", QStringLiteral("&Program DAC"), TwipRect(3120, 480, 1695, 615));

    Frame3 = MakeFrame(client, "Frame3", QStringLiteral("Read Back Output Voltage"), TwipRect(120, 1920, 5175, 1575));
    NumLED1 = new NumLed(Frame3);
    NumLED1->setObjectName(QStringLiteral("NumLED1"));
    NumLED1->setGeometry(TwipRect(240, 480, 2775, 735));
    Command1 = MakeCommand(Frame3, "Command1", QStringLiteral("&Read Voltage"), TwipRect(3360, 600, 1695, 615));

    // Tab indexes: the options (1..4), DacText (5), Command2 (6), Command1 (7);
    // frames and the label take no focus.
    setTabOrder(Option1, Option2);
    setTabOrder(Option2, Option3);
    setTabOrder(Option3, Option4);
    setTabOrder(Option4, DacText);
    setTabOrder(DacText, Command2);
    setTabOrder(Command2, Command1);

    connect(Option1, &QRadioButton::toggled, this, [this](bool on) { if (on) Option1_Click(); });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) { if (on) Option2_Click(); });
    connect(Option3, &QRadioButton::toggled, this, [this](bool on) { if (on) Option3_Click(); });
    connect(Option4, &QRadioButton::toggled, this, [this](bool on) { if (on) Option4_Click(); });
    connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
    DacText->installEventFilter(this);
}

void MainForm::BuildMenus() {
    MnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    MnuFile->setObjectName(QStringLiteral("MnuFile"));
    MnuExit = MnuFile->addAction(QStringLiteral("E&xit"));
    MnuExit->setObjectName(QStringLiteral("MnuExit"));
    MnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    MnuHelp->setObjectName(QStringLiteral("MnuHelp"));
    MnuABout = MnuHelp->addAction(QStringLiteral("&About"));
    MnuABout->setObjectName(QStringLiteral("MnuABout"));
    connect(MnuExit, &QAction::triggered, this, &MainForm::MnuExit_Click);
    connect(MnuABout, &QAction::triggered, this, &MainForm::MnuABout_Click);
}

void MainForm::ShowModeless() {
    Form_Load();
    show();
    activateWindow();
}

void MainForm::Form_Load() {
    Declare::WordLength = protocol::kDacRegisterLength;
    Declare::Resolution = protocol::kDacResolutionBits;
    if (!link::RunBoardStartUp()) {
        ShowWarningBox(QStringLiteral("Error Downloading Firmware - Check USB connections"));
        EndProgram(kExitFirmwareLoadFailed);
    }
    Option1->setChecked(true);
    // The first control in the tab order holds the focus when the window shows.
    Option1->setFocus();
}

void MainForm::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void MainForm::Form_Unload() { EndProgram(kExitNormal); }

void MainForm::MnuExit_Click() { EndProgram(kExitNormal); }

void MainForm::MnuABout_Click() {
    try {
        frmAbout about;
        RunModal(about);
    } catch (const std::exception& error) {
        ReportRunTimeErrorAndEnd(error);
    }
}

void MainForm::Option1_Click() { Declare::PowerDownMode = 0; }
void MainForm::Option2_Click() { Declare::PowerDownMode = 1; }
void MainForm::Option3_Click() { Declare::PowerDownMode = 2; }
void MainForm::Option4_Click() { Declare::PowerDownMode = 3; }

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DacText && event->type() == QEvent::KeyPress) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (typed.size() == 1) {
            std::int16_t keyAscii = static_cast<std::int16_t>(typed.front().unicode());
            DacText_KeyPress(keyAscii);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::DacText_KeyPress(std::int16_t& keyAscii) {
    if (keyAscii == kEnterKey) Command2_Click();
}

void MainForm::Command2_Click() {
    try {
        ProgramDac();
    } catch (const RunTimeError& error) {
        // The command's one error handler: a bad entry, an overflow or a
        // failing board write leaves the field empty for a new entry. The
        // cause goes to stderr, so that a missing library is not lost.
        std::fprintf(stderr, "%s\n", error.what());
        DacText->setText(QString());
        DacText->setFocus();
    } catch (const std::exception& error) {
        ReportRunTimeErrorAndEnd(error);
    }
}

void MainForm::ProgramDac() {
    if (DacText->text().isEmpty()) DacText->setText(QStringLiteral("0000"));
    const DataWordEntry entry = DataWordFromField(DacText->text(), Declare::Resolution);
    DacText->setText(entry.text);
    Declare::DacWord = entry.value;
    if (EncodeAndSend() == WriteOutcome::Failed) {
        ShowWarningBox(QStringLiteral("Error Writing DAC - Check USB connections"));
    }
}

void MainForm::Command1_Click() {
    try {
        ReadVoltage();
    } catch (const std::exception& error) {
        ReportRunTimeErrorAndEnd(error);
    }
}

void MainForm::ReadVoltage() {
    if (!ReadOutputVoltage()) {
        // No measurement: AdcCode and OutputVoltage keep the last good reading.
        NumLED1->ShowDashes();
        ShowWarningBox(QStringLiteral("Error Reading Voltage - Check USB connections"));
        return;
    }
    NumLED1->SetValue(Declare::OutputVoltage);
}

}  // namespace tarnel::ui
