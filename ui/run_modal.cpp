#include "ui/run_modal.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>

namespace tarnel::ui {

void RunModal(QDialog& dialog) {
    const QPointer<QWidget> window = QApplication::activeWindow();
    dialog.exec();
    if (window != nullptr && window->isVisible()) window->activateWindow();
}

}  // namespace tarnel::ui
