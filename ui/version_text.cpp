#include "ui/version_text.h"

namespace tarnel::ui {

QString VersionText(const VersionRecord& version) {
    return QStringLiteral("Version %1.%2.%3").arg(version.major).arg(version.minor).arg(version.revision);
}

}  // namespace tarnel::ui
