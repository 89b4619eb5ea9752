#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "scpi/client/line_speeds.h"

namespace tarnel::emulator {

namespace {

speed_t SpeedOf(unsigned baud) { return scpi::client::TermiosSpeed(baud).value_or(B9600); }

unsigned BaudOf(speed_t speed) { return scpi::client::BaudOf(speed).value_or(0); }

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

PseudoTerminal::~PseudoTerminal() { Close(); }

std::optional<std::string> PseudoTerminal::Open(const std::string& link, unsigned baud) {
    emulatorSide_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (emulatorSide_ < 0) return SystemError("cannot open a pseudo-terminal");
    char name[PATH_MAX];
    if (::grantpt(emulatorSide_) != 0 || ::unlockpt(emulatorSide_) != 0 ||
        ::ptsname_r(emulatorSide_, name, sizeof name) != 0) {
        return SystemError("cannot set up a pseudo-terminal");
    }
    clientPath_ = name;
    clientSide_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (clientSide_ < 0) return SystemError("cannot open " + clientPath_);
    ::fcntl(emulatorSide_, F_SETFL, ::fcntl(emulatorSide_, F_GETFL) | O_NONBLOCK);
    termios line{};
    ::tcgetattr(clientSide_, &line);
    ::cfmakeraw(&line);
    ::cfsetispeed(&line, SpeedOf(baud));
    ::cfsetospeed(&line, SpeedOf(baud));
    line.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(clientSide_, TCSANOW, &line);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return SystemError("cannot make an eventfd");

    struct stat existing {};
    if (::lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            return link + " exists and is not a symbolic link — give a path that is free or a link of an earlier run";
        }
        if (::unlink(link.c_str()) != 0) return SystemError("cannot replace the old link " + link);
    }
    if (::symlink(clientPath_.c_str(), link.c_str()) != 0) {
        return SystemError("cannot make the link " + link) + " — give a path in a folder you may write to";
    }
    link_ = link;
    return std::nullopt;
}

void PseudoTerminal::Close() {
    if (!link_.empty()) {
        // Only our own link: another run may have put its own there since.
        char target[PATH_MAX];
        const ssize_t length = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == clientPath_) ::unlink(link_.c_str());
        link_.clear();
    }
    for (int* fd : {&emulatorSide_, &clientSide_, &wake_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void PseudoTerminal::Wake() {
    const std::uint64_t one = 1;
    // Never read: every wait is woken from now on.
    if (wake_ >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
}

bool PseudoTerminal::Await(int fd, short events, std::optional<std::chrono::steady_clock::time_point> deadline) {
    pollfd watched[2] = {{fd, events, 0}, {wake_, POLLIN, 0}};
    while (true) {
        int timeout = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
        }
        const int ready = ::poll(fd >= 0 ? watched : watched + 1, fd >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || watched[1].revents != 0) return false;
        if (ready > 0 || (deadline && std::chrono::steady_clock::now() >= *deadline)) return true;
    }
}

bool PseudoTerminal::Read(std::string& into) {
    char chunk[4096];
    while (Await(emulatorSide_, POLLIN, std::nullopt)) {
        const ssize_t got = ::read(emulatorSide_, chunk, sizeof chunk);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
            return true;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            // The client side is ours too, so the line never ends before Close; wait for the next client.
            if (!Sleep(std::chrono::milliseconds(10))) return false;
        }
    }
    return false;
}

bool PseudoTerminal::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(emulatorSide_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!Await(emulatorSide_, POLLOUT, std::nullopt)) {
            return false;   // woken while the client does not read
        }
    }
    return true;
}

bool PseudoTerminal::WritePaced(std::string_view bytes, std::chrono::nanoseconds byteTime) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const std::size_t due = byteTime.count() <= 0
                                    ? bytes.size()
                                    : std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(elapsed / byteTime) + 1);
        if (due > sent) {
            if (!Write(bytes.substr(sent, due - sent))) return false;
            sent = due;
        } else if (!Sleep(std::max<std::chrono::nanoseconds>(byteTime * static_cast<long>(due) - elapsed,
                                                              std::chrono::milliseconds(1)))) {
            return false;
        }
    }
    return true;
}

bool PseudoTerminal::Sleep(std::chrono::nanoseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!Await(-1, 0, deadline)) return false;
    }
    return true;
}

LineFrame PseudoTerminal::ClientFrame() const {
    termios line{};
    if (::tcgetattr(clientSide_, &line) != 0) return {};
    LineFrame frame;
    frame.baud = BaudOf(::cfgetospeed(&line));
    switch (line.c_cflag & CSIZE) {
    case CS5: frame.dataBits = 5; break;
    case CS6: frame.dataBits = 6; break;
    case CS7: frame.dataBits = 7; break;
    default: frame.dataBits = 8; break;
    }
    frame.parity = (line.c_cflag & PARENB) == 0 ? 'N' : (line.c_cflag & PARODD) != 0 ? 'O' : 'E';
    frame.stopBits = (line.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return frame;
}

}  // namespace tarnel::emulator
