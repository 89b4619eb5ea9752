#include "output/plot_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "command_line/command_failure.h"

namespace tarnel::cli {

namespace {

// SVG needs Qt SVG beside Qt Charts; PNG and PDF need Qt Charts alone.
#ifdef TARNEL_PLOT_SVG
constexpr bool kWritesSvg = true;
#else
constexpr bool kWritesSvg = false;
#endif

// Throws CommandFailure(Failed), naming the file as what, when path cannot be written: a missing
// folder, no permission, a folder of that name.
void CheckWritable(const std::string& option, const std::string& what, const std::string& path) {
    const auto refuse = [&](int error) {
        throw CommandFailure(ExitStatus::Failed, "cannot write the " + what + " " + path + ": " + std::strerror(error) +
                                                     " — give a " + option + " path in a folder you can write to");
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

}  // namespace

PlotFormat PlotFormatOf(const std::string& path) {
    const auto dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return PlotFormat::Unknown;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "png") return PlotFormat::Png;
    if (extension == "svg") return PlotFormat::Svg;
    if (extension == "pdf") return PlotFormat::Pdf;
    return PlotFormat::Unknown;
}

void CheckPlotPath(const std::string& path) {
    const PlotFormat format = PlotFormatOf(path);
    if (format == PlotFormat::Unknown) {
        throw CommandFailure(ExitStatus::Usage, "--plot " + path +
                                                    ": the file's extension names no picture format — "
                                                    "end it in .png, .svg or .pdf");
    }
    if (format == PlotFormat::Svg && !kWritesSvg) {
        throw CommandFailure(ExitStatus::Failed,
                             "this tarnelctl was built without Qt SVG and cannot write --plot " + path +
                                 " — rebuild it with the package qt6-svg-dev installed, or end the path in .png or .pdf");
    }
    CheckWritable("--plot", "plot", path);
}

void CheckPdfPath(const std::string& option, const std::string& path) {
    if (PlotFormatOf(path) != PlotFormat::Pdf) {
        throw CommandFailure(ExitStatus::Usage, option + " " + path + ": the file is written as PDF — end its name in .pdf");
    }
    CheckWritable(option, "report", path);
}

}  // namespace tarnel::cli
