#include "ui/num_led.h"

#include <QPalette>

namespace tarnel::ui {

namespace {

constexpr int kDigitCells = 6;   // up to 999.999 with the decimal point between cells
constexpr int kDecimals = 3;
const QString kDashes = QStringLiteral("-.---");

}  // namespace

NumLed::NumLed(QWidget* parent) : QLCDNumber(kDigitCells, parent) {
    setSmallDecimalPoint(true);
    setSegmentStyle(QLCDNumber::Filled);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette led = palette();
    led.setColor(QPalette::Window, Qt::black);
    led.setColor(QPalette::WindowText, QColor(255, 40, 40));
    led.setColor(QPalette::Light, QColor(255, 40, 40));
    led.setColor(QPalette::Dark, QColor(90, 0, 0));
    setPalette(led);
    setAutoFillBackground(true);
    SetValue(0.0);
}

void NumLed::SetValue(double value) {
    value_ = value;
    Show(QString::number(value, 'f', kDecimals));
}

void NumLed::ShowDashes() { Show(kDashes); }

bool NumLed::ShowsDashes() const { return displayed_ == kDashes; }

void NumLed::Show(const QString& text) {
    displayed_ = text;
    display(text);
}

}  // namespace tarnel::ui
