#include "ui/application_identity.h"

#include <QApplication>

#include "core/version_record.h"

// The icon lives in a resource compiled into this static library; a static
// library's resources are registered explicitly, once.
static void RegisterUiResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(tarnel_ui);
        return true;
    }();
    (void)registered;
}

namespace tarnel::ui {

QString ApplicationTitle() { return QStringLiteral("Tarnel Evaluation Software"); }

QIcon ApplicationIcon() {
    RegisterUiResources();
    return QIcon(QStringLiteral(":/tarnel/tarnel.png"));
}

void ApplyApplicationIdentity(QApplication& application) {
    const VersionRecord& version = ProgramVersion();
    QApplication::setApplicationName(QString::fromUtf8(version.programName));
    QApplication::setApplicationVersion(QString::fromUtf8(version.fileVersion));
    QApplication::setApplicationDisplayName(ApplicationTitle());
    application.setWindowIcon(ApplicationIcon());
}

}  // namespace tarnel::ui
