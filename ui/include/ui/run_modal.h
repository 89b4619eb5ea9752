// Every box and dialog the program opens runs through here, so that the
// window the operator was using gets the keyboard back when it closes.
#pragma once

class QDialog;

namespace tarnel::ui {

// Shows the dialog modally and returns once it has closed, after activating
// the window that was active when the dialog opened. Without a window manager
// nobody else hands the keyboard back, and Alt+R or Alt+F would go nowhere
// until the window is clicked.
void RunModal(QDialog& dialog);

}  // namespace tarnel::ui
