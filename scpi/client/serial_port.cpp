#include "serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "scpi/client/instrument_failure.h"
#include "scpi/client/line_speeds.h"

namespace tarnel::scpi::client {

namespace {

tcflag_t DataBitsFlag(unsigned bits) {
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

[[noreturn]] void FailOpening(int fd, FailureKind kind, const std::string& message) {
    if (fd >= 0) ::close(fd);
    throw InstrumentFailure(kind, message);
}

}  // namespace

int OpenSerialPort(const std::string& path, const SerialSettings& settings, const std::string& device) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENODEV || error == ENXIO || error == ENOTDIR) {
            FailOpening(-1, FailureKind::NotFound,
                        "no " + device + " " + path + " — check the cable and the port's name ('tarnelctl meters' "
                        "lists the serial ports)");
        }
        if (error == EACCES || error == EPERM) {
            FailOpening(-1, FailureKind::NoPermission,
                        "no permission to open the " + device + " " + path +
                            " — add yourself to the dialout group (sudo adduser $USER dialout), then log in again");
        }
        if (error == EBUSY) {
            FailOpening(-1, FailureKind::Busy,
                        "the " + device + " " + path + " is held by another program — close that program, then run again");
        }
        FailOpening(-1, FailureKind::Unreachable,
                    "cannot open the " + device + " " + path + ": " + std::strerror(error) + " — check the port");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            FailOpening(fd, FailureKind::Busy,
                        "the " + device + " " + path + " is held by another program — close that program, then run again");
        }
    }
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        FailOpening(fd, FailureKind::Unreachable,
                    path + " is no serial port (" + std::strerror(errno) + ") — give the meter's serial device, such as "
                    "/dev/ttyUSB0");
    }
    ::cfmakeraw(&line);
    const std::optional<speed_t> speed = TermiosSpeed(settings.baud);
    if (!speed) {
        FailOpening(fd, FailureKind::Unreachable,
                    "the " + device + " " + path + " cannot run at " + std::to_string(settings.baud) +
                        " baud — choose a standard rate such as 9600 or 115200");
    }
    ::cfsetispeed(&line, *speed);
    ::cfsetospeed(&line, *speed);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= DataBitsFlag(settings.dataBits) | CLOCAL | CREAD;
    if (settings.parity != Parity::None) line.c_cflag |= PARENB;
    if (settings.parity == Parity::Odd) line.c_cflag |= PARODD;
    if (settings.stopBits == 2) line.c_cflag |= CSTOPB;
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (settings.handshake == Handshake::RtsCts) line.c_cflag |= CRTSCTS;
    if (settings.handshake == Handshake::XonXoff) line.c_iflag |= IXON | IXOFF;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &line) != 0) {
        const int error = errno;
        FailOpening(fd, FailureKind::Unreachable,
                    "the " + device + " " + path + " refuses the line settings " + settings.Text() + ": " +
                        std::strerror(error) + " — choose settings the port takes");
    }
    // Exclusive for programs that take no lock; root is not kept out by it, the lock above covers that.
    ::ioctl(fd, TIOCEXCL);
    // What an earlier program left unread is no reply to us.
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

void EndExclusiveUse(int fd) { ::ioctl(fd, TIOCNXCL); }

std::optional<int> ModemLines(int fd) {
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0) return std::nullopt;
    return lines;
}

bool SetModemLine(int fd, int line, bool raised) {
    return ::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

}  // namespace tarnel::scpi::client
