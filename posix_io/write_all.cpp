#include "posix_io/write_all.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace tarnel::posix_io {

bool WriteAll(int fd, std::string_view text) {
    // send() with MSG_NOSIGNAL where fd is a socket; write() on anything else.
    bool socket = true;
    while (!text.empty()) {
        const ssize_t written = socket ? ::send(fd, text.data(), text.size(), MSG_NOSIGNAL)
                                       : ::write(fd, text.data(), text.size());
        if (written < 0 && socket && errno == ENOTSOCK) {
            socket = false;
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace tarnel::posix_io
