// The announcer's thread: avahi's threaded poll with the one avahi client,
// kept connected to avahi-daemon, and the services announced through it
// kept equal to the services wanted. Other threads only change what is
// wanted (under a mutex of its own) and wake the thread through an eventfd,
// so they never wait for avahi's lock, which the thread holds through its
// D-Bus calls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/watch.h>

#include "announced_service.h"
#include "scpi/lan_announcer.h"

namespace tarnel::scpi {

// A service as the caller wants it; its name is made on the thread, where
// the daemon's host name is known.
struct WantedService {
    enum class Kind { Board, Vxi11Host } kind = Kind::Board;
    std::string usbPath;
    std::uint16_t port = 0;
    std::vector<std::string> txt;
};

class LanAnnouncer::Thread {
public:
    // Starts the thread; without it (no memory, no threads left) the line
    // says so and nothing is announced.
    Thread(LanLog log, std::string hostName);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Keyed by the caller's own key: the same key again replaces.
    void Want(const std::string& key, WantedService service);
    void Unwant(const std::string& key);

    const LanLog& Log() const { return log_; }

private:
    static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
    static void OnWake(AvahiWatch* watch, int fd, AvahiWatchEvent event, void* self);
    static void OnReconnect(AvahiTimeout* timeout, void* self);

    void Wake();
    void Connect();
    void Disconnect();
    void ScheduleConnect(unsigned delayMs);
    void Absent(const std::string& line);
    void Sync();
    ServiceRecord RecordOf(const WantedService& wanted) const;

    const LanLog log_;
    const std::string hostName_;

    std::mutex wantedMutex_;
    std::map<std::string, WantedService> wanted_;

    int wakeFd_ = -1;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiWatch* wakeWatch_ = nullptr;
    AvahiTimeout* reconnect_ = nullptr;
    bool running_ = false;

    // The thread's own, once it runs.
    AvahiClient* client_ = nullptr;
    std::map<std::string, std::unique_ptr<AnnouncedService>> announced_;
    bool absenceSaid_ = false;
    bool everConnected_ = false;
    int lastFailure_ = 0;  // AVAHI_OK
};

}  // namespace tarnel::scpi
