#include "cli/library_messages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace tarnel::cli {

LibraryMessages::LibraryMessages() {
    // Without it the library's lines simply reach stderr as they come.
    keptLines_ = ::memfd_create("tarnel-library-messages", MFD_CLOEXEC);
}

LibraryMessages::~LibraryMessages() {
    if (keptLines_ >= 0) ::close(keptLines_);
}

LibraryMessages::Diversion::Diversion(LibraryMessages& messages) : keptLines_(messages.keptLines_) {
    if (keptLines_ < 0) return;
    std::fflush(stderr);
    stderr_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (stderr_ >= 0) ::dup2(keptLines_, STDERR_FILENO);
}

LibraryMessages::Diversion::~Diversion() {
    if (stderr_ < 0) return;
    std::fflush(stderr);
    ::dup2(stderr_, STDERR_FILENO);
    ::close(stderr_);
}

std::string LibraryMessages::Take() {
    if (keptLines_ < 0) return {};
    const off_t size = ::lseek(keptLines_, 0, SEEK_CUR);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::pread(keptLines_, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    // Emptied for the next call; if that fails the old lines are only read again.
    if (::ftruncate(keptLines_, 0) == 0) ::lseek(keptLines_, 0, SEEK_SET);

    std::string line = text.substr(0, text.find('\n'));
    const std::size_t speakerEnd = line.find(": ");
    if (speakerEnd != std::string::npos && line.compare(0, 3, "lib") == 0) line.erase(0, speakerEnd + 2);
    return line;
}

}  // namespace tarnel::cli
