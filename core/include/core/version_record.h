// The running program's version record. Each program build supplies its own
// (generated from the build's version numbers).
#pragma once

#include <cstdint>

namespace tarnel {

struct VersionRecord {
    std::int16_t major;
    std::int16_t minor;
    std::int16_t revision;
    const char* fileVersion;   // e.g. "1.00.0008"
    const char* programName;   // e.g. "Tarnel(version2)"
};

const VersionRecord& ProgramVersion();

}  // namespace tarnel
