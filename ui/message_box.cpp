#include "ui/message_box.h"

#include "ui/application_identity.h"

namespace tarnel::ui {

void ShowMessageBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, ApplicationTitle(), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void ShowWarningBox(const QString& text) { ShowMessageBox(QMessageBox::Warning, text); }

}  // namespace tarnel::ui
