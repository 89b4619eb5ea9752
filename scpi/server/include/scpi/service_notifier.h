// Tells the service manager how the server is doing, when it runs as a
// Type=notify service: READY=1 once it listens, WATCHDOG=1 at half the
// watchdog interval from the server's own loop (a loop that hangs stops the
// pings, and the manager restarts the service), STOPPING=1 when it stops. The manager gives the datagram socket in NOTIFY_SOCKET (a
// path, or an abstract name after '@') and the interval in WATCHDOG_USEC,
// for the process in WATCHDOG_PID; without NOTIFY_SOCKET nothing is sent.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::scpi {

class ServiceNotifier {
public:
    // Reads the environment. `log` gets a line when the manager cannot be told.
    explicit ServiceNotifier(std::function<void(const std::string&)> log = {});
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // READY=1 with the status line.
    void Ready(const std::string& status);
    // WATCHDOG=1, between Ready and Stopping and with a watchdog only; the
    // server's loop calls it every PingInterval.
    void Ping();
    // STOPPING=1 (once, after Ready), and no more pings.
    void Stopping();

    // Half of WATCHDOG_USEC for this process; none without a watchdog.
    std::optional<std::chrono::milliseconds> PingInterval() const { return pingInterval_; }

private:
    void Send(std::string_view message);

    std::function<void(const std::string&)> log_;
    int socket_ = -1;
    sockaddr_un address_{};
    socklen_t addressLength_ = 0;
    std::optional<std::chrono::milliseconds> pingInterval_;
    bool ready_ = false;
    bool failureLogged_ = false;
};

}  // namespace tarnel::scpi
