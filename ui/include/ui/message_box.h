// The program's message boxes: one text, one icon, one OK button, captioned
// with the application's title.
#pragma once

#include <QMessageBox>
#include <QString>

namespace tarnel::ui {

// Shows the box modally and returns when the operator has pressed OK.
void ShowMessageBox(QMessageBox::Icon icon, const QString& text);

// Exclamation icon, as for "Error Reading Voltage - Check USB connections".
void ShowWarningBox(const QString& text);

}  // namespace tarnel::ui
