// A seven-segment LED display showing one number to three decimals, or a row
// of dashes when there is no valid number to show.
#pragma once

#include <QLCDNumber>
#include <QString>

namespace tarnel::ui {

class NumLed : public QLCDNumber {
    Q_OBJECT
    // The number shown. A float assigned to it widens to double.
    Q_PROPERTY(double Value READ Value WRITE SetValue)

public:
    explicit NumLed(QWidget* parent = nullptr);

    double Value() const { return value_; }
    void SetValue(double value);

    // Shows dashes instead of a number until the next SetValue; Value keeps
    // the last number set.
    void ShowDashes();
    bool ShowsDashes() const;

    // The characters on the display, e.g. "2.465" or "-.---".
    QString DisplayedText() const { return displayed_; }

private:
    void Show(const QString& text);

    double value_ = 0.0;
    QString displayed_;
};

}  // namespace tarnel::ui
