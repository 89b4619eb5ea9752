#include "output/stderr_lines.h"

#include <unistd.h>

#include <cerrno>

namespace tarnel::cli {

void PrintStderrLine(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace tarnel::cli
