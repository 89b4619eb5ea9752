#include "reap_signal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tarnel::emulator {

namespace {

constexpr int kPipeBytes = 4096;   // one page, the smallest pipe Linux allows

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw std::runtime_error("emulated board: cannot " + what + " " + path + ": " + std::strerror(errno) +
                             " — check that TMPDIR is a writable local folder");
}

}  // namespace

ReapSignal::ReapSignal(std::string nodePath) : path_(std::move(nodePath)) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
    if (error) {
        errno = error.value();
        Fail("create the folder of", path_);
    }
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) Fail("remove", path_);
    if (::mkfifo(path_.c_str(), 0666) != 0) Fail("create FIFO", path_);
    fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) Fail("open FIFO", path_);
    if (::fcntl(fd_, F_SETPIPE_SZ, kPipeBytes) < 0) {
        const int saved = errno;
        ::close(fd_);
        errno = saved;
        Fail("shrink FIFO", path_);
    }
    Fill();
}

ReapSignal::~ReapSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void ReapSignal::SetReapable(bool reapable) {
    if (reapable == reapable_) return;
    reapable_ = reapable;
    if (reapable) {
        Drain();
    } else {
        Fill();
    }
}

void ReapSignal::RemoveNode() {
    ::unlink(path_.c_str());
}

void ReapSignal::Fill() {
    static const std::array<char, kPipeBytes> kPage{};
    while (::write(fd_, kPage.data(), kPage.size()) > 0) {
    }
}

void ReapSignal::Drain() {
    std::array<char, kPipeBytes> sink;
    while (::read(fd_, sink.data(), sink.size()) > 0) {
    }
}

}  // namespace tarnel::emulator
