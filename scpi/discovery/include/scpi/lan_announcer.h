// The served boards announced on the LAN by mDNS/DNS-SD, through the
// host's avahi-daemon, so that a lab's instrument browser lists them: each
// board as a _scpi-raw._tcp service on its raw port, and the host as a
// _vxi-11._tcp service on the port mapper's port 111, with the *IDN?
// fields as TXT records.
//
// Without a daemon (or without the system bus) the announcer says so in one
// informational line and waits for it: the boards go out when the daemon
// starts, and again after it restarts. Every avahi call runs on the
// announcer's own thread; the public calls only record what is wanted and
// wake that thread, so they never wait on D-Bus, from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scpi/service_records.h"

namespace tarnel::scpi {

enum class LanLogLevel { Info, Warning };
// Gets each line the announcer has to say. Called on the announcer's
// thread, or on the caller's for an argument refused; it may call back
// into the announcer, but must not destroy it.
using LanLog = std::function<void(LanLogLevel level, const std::string& line)>;

struct LanHostFacts {
    // The host in the instance names; empty: the name avahi-daemon gives the
    // host on the LAN.
    std::string hostName;
    // TXT records of the host's VXI-11 service.
    InstrumentFacts vxi11Host;
};

class LanAnnouncer {
public:
    LanAnnouncer(LanLog log, LanHostFacts host);
    // Withdraws everything and stops the thread; waits at most for the
    // D-Bus call in progress (libdbus bounds each).
    ~LanAnnouncer();
    LanAnnouncer(const LanAnnouncer&) = delete;
    LanAnnouncer& operator=(const LanAnnouncer&) = delete;

    // Announces the board at USB port path `usbPath` (e.g. "1-1.2") on its raw
    // SCPI port. Again for the same path: the announcement is replaced.
    void AnnounceBoard(const std::string& usbPath, std::uint16_t rawPort, const InstrumentFacts& facts);
    // The board left: its service goes. A path not announced is ignored.
    void WithdrawBoard(const std::string& usbPath);
    // Announces the host as a VXI-11 server (port 111), once.
    void AnnounceVxi11Host();
    void WithdrawVxi11Host();

private:
    class Thread;
    std::unique_ptr<Thread> thread_;
    const std::vector<std::string> vxi11HostTxt_;
};

}  // namespace tarnel::scpi
