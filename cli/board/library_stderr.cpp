#include "board/library_stderr.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "posix_io/write_all.h"

namespace tarnel::cli {

namespace {

// How the two board-access libraries begin their lines.
constexpr std::array<std::string_view, 2> kLibrarySpeakers{"libKTV_CYUSB_USB4: ", "libToveri: "};

// Longest line sorted whole: a longer run without a line end is passed on in
// pieces of this size, so that the memory held stays bounded.
constexpr std::size_t kLongestLine = 4096;

std::mutex diversions;   // held while stderr is diverted

void CloseIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

LibraryStderr::LibraryStderr() {
    int lines[2];
    int wake[2];
    if (::pipe2(lines, O_CLOEXEC) != 0) return;
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(lines[0]);
        ::close(lines[1]);
        return;
    }
    readEnd_ = lines[0];
    writeEnd_ = lines[1];
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    // The reader and the end of each call both read; neither may block on an empty pipe.
    ::fcntl(readEnd_, F_SETFL, O_NONBLOCK);
    try {
        reader_ = std::thread([this] { ReadLoop(); });
    } catch (const std::system_error&) {
        CloseIfOpen(readEnd_);   // without a reader the lines are not diverted
        CloseIfOpen(writeEnd_);
        CloseIfOpen(wakeRead_);
        CloseIfOpen(wakeWrite_);
    }
}

LibraryStderr::~LibraryStderr() {
    if (reader_.joinable()) {
        posix_io::WriteAll(wakeWrite_, "x");
        reader_.join();
    }
    CloseIfOpen(readEnd_);
    CloseIfOpen(writeEnd_);
    CloseIfOpen(wakeRead_);
    CloseIfOpen(wakeWrite_);
}

void LibraryStderr::ReadLoop() {
    std::array<pollfd, 2> watched{{{readEnd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) return;
        if (watched[1].revents != 0) return;
        if (watched[0].revents != 0) {
            const std::lock_guard lock(sorting_);
            Drain();
        }
    }
}

void LibraryStderr::Drain() {
    std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t got = ::read(readEnd_, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        partial_.append(buffer.data(), static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start)) {
            Sort(partial_.substr(start, end + 1 - start));
            start = end + 1;
        }
        partial_.erase(0, start);
        while (partial_.size() >= kLongestLine) {
            Sort(partial_.substr(0, kLongestLine));
            partial_.erase(0, kLongestLine);
        }
    }
}

void LibraryStderr::Sort(const std::string& line) {
    for (const std::string_view speaker : kLibrarySpeakers) {
        if (line.starts_with(speaker)) {
            if (kept_.size() == kMostKeptLines) return;   // the first lines name the cause
            kept_.push_back(line.substr(speaker.size()));
            if (kept_.back().ends_with('\n')) kept_.back().pop_back();
            return;
        }
    }
    // Not the library's: on to stderr as it is, during the call or after it.
    posix_io::WriteAll(realStderr_ >= 0 ? realStderr_ : STDERR_FILENO, line);
}

LibraryStderr::Diversion::Diversion(LibraryStderr& messages) : held_(diversions), messages_(messages) {
    if (messages_.writeEnd_ < 0) return;
    std::fflush(stderr);
    const std::lock_guard lock(messages_.sorting_);
    messages_.realStderr_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (messages_.realStderr_ < 0) return;
    diverted_ = ::dup2(messages_.writeEnd_, STDERR_FILENO) >= 0;
    if (!diverted_) CloseIfOpen(messages_.realStderr_);
}

LibraryStderr::Diversion::~Diversion() {
    if (!diverted_) return;
    std::fflush(stderr);
    const std::lock_guard lock(messages_.sorting_);
    ::dup2(messages_.realStderr_, STDERR_FILENO);
    // Every line the call wrote is in the pipe now: sort them before Take.
    messages_.Drain();
    if (!messages_.partial_.empty()) {
        messages_.Sort(messages_.partial_);
        messages_.partial_.clear();
    }
    CloseIfOpen(messages_.realStderr_);
}

std::string LibraryStderr::Take() {
    const std::lock_guard lock(sorting_);
    std::string first = kept_.empty() ? std::string() : kept_.front();
    kept_.clear();
    return first;
}

}  // namespace tarnel::cli
