// The program's one working window: the data-word field with Program DAC, the
// read-back display with Read Voltage, the power-down options (laid out below
// the visible client area, reachable only from the keyboard) and the File and
// Help menus.
#pragma once

#include <cstdint>

#include <QMainWindow>

#include "core/main_sequence.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace tarnel::ui {

class NumLed;

class MainForm final : public QMainWindow, public MainWindowShell {
    Q_OBJECT

public:
    explicit MainForm(QWidget* parent = nullptr);

    // Runs the load handler to its end, then shows the window. A refused board
    // start-up ends the program inside this call.
    void ShowModeless() override;

    // Window events.
    void Form_Load();
    void Form_Unload();

    // Menus.
    void MnuExit_Click();
    void MnuABout_Click();

    // Power-down options.
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();

    // Program DAC.
    void Command2_Click();
    void DacText_KeyPress(std::int16_t& keyAscii);

    // Read Voltage.
    void Command1_Click();

    QGroupBox* Frame1;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QRadioButton* Option3;
    QRadioButton* Option4;
    QGroupBox* Frame2;
    QLineEdit* DacText;
    QLabel* Label4;
    QPushButton* Command2;
    QGroupBox* Frame3;
    NumLed* NumLED1;
    QPushButton* Command1;
    QMenu* MnuFile;
    QAction* MnuExit;
    QMenu* MnuHelp;
    QAction* MnuABout;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls(QWidget* client);
    void BuildMenus();
    void ProgramDac();
    void ReadVoltage();
};

}  // namespace tarnel::ui
