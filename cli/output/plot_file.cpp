#include "output/plot_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "command_line/command_failure.h"

namespace tarnel::cli {

void CheckPlotPath(const std::string& path) {
    const auto refuse = [&](int error) {
        throw CommandFailure(ExitStatus::Failed, "cannot write the plot " + path + ": " + std::strerror(error) +
                                                     " — give a --plot path ending in .png in a folder you can write to");
    };
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) refuse(EISDIR);
        if (::access(path.c_str(), W_OK) != 0) refuse(errno);
        return;
    }
    // Made and removed again: the folder takes a new file of that name.
    const int probe = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (probe < 0) refuse(errno);
    ::close(probe);
    ::unlink(path.c_str());
}

}  // namespace tarnel::cli
