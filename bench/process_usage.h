// What a running process holds, from /proc: resident memory and open file
// descriptors.
#pragma once

#include <sys/types.h>

#include <optional>

namespace tarnel::bench {

struct ProcessUsage {
    long rssKiB = 0;
    long openFds = 0;
};

// Empty once the process is gone.
std::optional<ProcessUsage> SampleUsage(pid_t pid);

// The first child of `parent`, when it has one.
std::optional<pid_t> FirstChild(pid_t parent);

}  // namespace tarnel::bench
