// The version line of the About dialog.
#pragma once

#include <QString>

#include "core/version_record.h"

namespace tarnel::ui {

// "Version " + major + "." + minor + "." + revision, decimal, no leading zeros.
QString VersionText(const VersionRecord& version);

}  // namespace tarnel::ui
