#include "process_usage.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace tarnel::bench {

std::optional<ProcessUsage> SampleUsage(pid_t pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream status(base + "/status");
    ProcessUsage usage;
    bool found = false;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            usage.rssKiB = std::stol(line.substr(6));
            found = true;
        }
    }
    if (!found) return std::nullopt;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(base + "/fd", error), end; !error && entry != end;
         entry.increment(error)) {
        ++usage.openFds;
    }
    if (error) return std::nullopt;
    return usage;
}

std::optional<pid_t> FirstChild(pid_t parent) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    long child = 0;
    if (children >> child) return static_cast<pid_t>(child);
    return std::nullopt;
}

}  // namespace tarnel::bench
