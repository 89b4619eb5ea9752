#include "cli/stderr_lines.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace tarnel::cli {

namespace {

std::mutex diversion;          // held while stderr is diverted
std::mutex waitingLines;       // guards waiting
std::vector<std::string> waiting;

void Write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

// With diversion held: the lines that waited, oldest first.
void WriteWaiting() {
    for (const std::string& text : waiting) Write(text);
    waiting.clear();
}

}  // namespace

void PrintStderrLine(const std::string& line) {
    {
        const std::lock_guard lock(waitingLines);
        waiting.push_back(line + "\n");
    }
    // Whoever holds stderr writes the waiting lines before letting go of it,
    // and lets go only while it holds the waiting lines: so either it sees
    // this line, or it has let go and the line is written here.
    if (!diversion.try_lock()) return;
    const std::lock_guard lock(waitingLines);
    WriteWaiting();
    diversion.unlock();
}

StderrDiversionLock::StderrDiversionLock() { diversion.lock(); }

StderrDiversionLock::~StderrDiversionLock() {
    const std::lock_guard lock(waitingLines);
    WriteWaiting();
    diversion.unlock();
}

}  // namespace tarnel::cli
