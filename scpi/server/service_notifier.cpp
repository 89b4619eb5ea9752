#include "scpi/service_notifier.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tarnel::scpi {

namespace {

std::optional<unsigned long long> EnvironmentNumber(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return value;
}

// The watchdog applies to this process when WATCHDOG_PID is unset or names it.
std::optional<std::chrono::milliseconds> WatchdogPingInterval() {
    const auto microseconds = EnvironmentNumber("WATCHDOG_USEC");
    if (!microseconds || *microseconds == 0) return std::nullopt;
    const auto pid = EnvironmentNumber("WATCHDOG_PID");
    if (pid && *pid != static_cast<unsigned long long>(::getpid())) return std::nullopt;
    const auto half = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(*microseconds / 2));
    return std::max(half, std::chrono::milliseconds(1));
}

}  // namespace

ServiceNotifier::ServiceNotifier(std::function<void(const std::string&)> log) : log_(std::move(log)) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || *path == '\0') return;
    const std::size_t length = std::strlen(path);
    const bool abstract = path[0] == '@';
    if ((path[0] != '/' && !abstract) || length > sizeof address_.sun_path - (abstract ? 0 : 1)) {
        if (log_) log_("NOTIFY_SOCKET '" + std::string(path) + "' is not a socket path; the service manager is not told");
        return;
    }
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, path, length);
    if (abstract) address_.sun_path[0] = '\0';
    addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (abstract ? 0 : 1));
    pingInterval_ = WatchdogPingInterval();
}

ServiceNotifier::~ServiceNotifier() {
    if (socket_ >= 0) ::close(socket_);
}

void ServiceNotifier::Ready(const std::string& status) {
    if (addressLength_ == 0 || ready_) return;
    ready_ = true;
    Send("READY=1\nSTATUS=" + status);
}

void ServiceNotifier::Ping() {
    if (ready_ && pingInterval_) Send("WATCHDOG=1");
}

void ServiceNotifier::Stopping() {
    if (!ready_) return;
    ready_ = false;
    Send("STOPPING=1");
}

void ServiceNotifier::Send(std::string_view message) {
    if (socket_ < 0) socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const ssize_t sent = socket_ < 0 ? -1
                                     : ::sendto(socket_, message.data(), message.size(), MSG_NOSIGNAL,
                                                reinterpret_cast<const sockaddr*>(&address_), addressLength_);
    if (sent >= 0 || failureLogged_) return;
    failureLogged_ = true;   // once: a manager that is gone would fill the log with pings
    if (log_) {
        log_(std::string("cannot notify the service manager: ") + std::strerror(errno) +
             " — check NOTIFY_SOCKET and the unit's NotifyAccess");
    }
}

}  // namespace tarnel::scpi
