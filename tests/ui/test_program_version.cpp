// The version record of the test executables: the newer build's numbers.
#include "core/version_record.h"

namespace tarnel {

const VersionRecord& ProgramVersion() {
    static const VersionRecord version{1, 0, 8, "1.00.0008", "Tarnel(version2)"};
    return version;
}

}  // namespace tarnel
