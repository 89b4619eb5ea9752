#include "ui/message_box.h"

#include "ui/application_identity.h"
#include "ui/run_modal.h"

namespace tarnel::ui {

void ShowMessageBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, ApplicationTitle(), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("MessageBox"));
    RunModal(box);
}

void ShowWarningBox(const QString& text) { ShowMessageBox(QMessageBox::Warning, text); }

}  // namespace tarnel::ui
