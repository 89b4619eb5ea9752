#include "announcer_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <avahi-common/error.h>
#include <avahi-common/timeval.h>

namespace tarnel::scpi {

namespace {

// Without a system bus there is nobody to tell us when one starts: the
// thread tries again at this pace, quietly.
constexpr unsigned kBusRetryMs = 2000;

constexpr const char* kNotRunningLine =
    "mDNS: avahi-daemon is not running; the boards will be announced on the LAN once it starts";
constexpr const char* kStoppedLine = "mDNS: avahi-daemon stopped; the boards will be announced again once it starts";

}  // namespace

LanAnnouncer::Thread::Thread(LanLog log, std::string hostName)
    : log_(std::move(log)), hostName_(std::move(hostName)) {
    std::string failure;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        failure = std::string("no eventfd (") + std::strerror(errno) + ")";
    } else if ((poll_ = avahi_threaded_poll_new()) == nullptr) {
        failure = "no avahi poll (out of memory)";
    } else {
        const AvahiPoll* api = avahi_threaded_poll_get(poll_);
        wakeWatch_ = api->watch_new(api, wakeFd_, AVAHI_WATCH_IN, &Thread::OnWake, this);
        reconnect_ = api->timeout_new(api, nullptr, &Thread::OnReconnect, this);
        if (wakeWatch_ == nullptr || reconnect_ == nullptr) {
            failure = "no avahi watch (out of memory)";
        } else {
            // The client is made on the thread, so that this constructor never
            // waits on D-Bus.
            ScheduleConnect(0);
            running_ = avahi_threaded_poll_start(poll_) == 0;
            if (!running_) {
                failure = "its thread did not start";
            }
        }
    }
    if (!failure.empty() && log_) {
        log_(LanLogLevel::Warning, "mDNS: the announcer cannot run: " + failure +
                                       "; the boards are not announced on the LAN");
    }
}

LanAnnouncer::Thread::~Thread() {
    if (running_) {
        avahi_threaded_poll_stop(poll_);
    }
    // The thread is gone: what was its own is freed here.
    Disconnect();
    if (poll_ != nullptr) {
        const AvahiPoll* api = avahi_threaded_poll_get(poll_);
        if (wakeWatch_ != nullptr) {
            api->watch_free(wakeWatch_);
        }
        if (reconnect_ != nullptr) {
            api->timeout_free(reconnect_);
        }
        avahi_threaded_poll_free(poll_);
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void LanAnnouncer::Thread::Want(const std::string& key, WantedService service) {
    {
        std::lock_guard lock(wantedMutex_);
        wanted_[key] = std::move(service);
    }
    Wake();
}

void LanAnnouncer::Thread::Unwant(const std::string& key) {
    {
        std::lock_guard lock(wantedMutex_);
        wanted_.erase(key);
    }
    Wake();
}

void LanAnnouncer::Thread::Wake() {
    if (wakeFd_ < 0) {
        return;
    }
    const std::uint64_t one = 1;
    // A full counter (never in practice) already means "wake up"; the thread
    // reads the wanted services whole, so no wake-up is lost.
    while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void LanAnnouncer::Thread::OnWake(AvahiWatch*, int fd, AvahiWatchEvent, void* self) {
    std::uint64_t count = 0;
    while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    static_cast<Thread*>(self)->Sync();
}

void LanAnnouncer::Thread::ScheduleConnect(unsigned delayMs) {
    struct timeval when {};
    avahi_elapse_time(&when, delayMs, 0);
    avahi_threaded_poll_get(poll_)->timeout_update(reconnect_, &when);
}

void LanAnnouncer::Thread::OnReconnect(AvahiTimeout* timeout, void* self) {
    auto* thread = static_cast<Thread*>(self);
    avahi_threaded_poll_get(thread->poll_)->timeout_update(timeout, nullptr);
    thread->Connect();
}

void LanAnnouncer::Thread::Connect() {
    Disconnect();
    int error = AVAHI_OK;
    // NO_FAIL: without a daemon the client waits in CONNECTING and takes the
    // daemon when its name appears on the bus.
    AvahiClient* client = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                                           &Thread::OnClientState, this, &error);
    if (client == nullptr) {
        // No system bus to wait on.
        Absent(everConnected_ ? kStoppedLine : kNotRunningLine);
        ScheduleConnect(kBusRetryMs);
        return;
    }
    client_ = client;
}

void LanAnnouncer::Thread::Disconnect() {
    // The groups belong to the client: they go first.
    announced_.clear();
    if (client_ != nullptr) {
        avahi_client_free(client_);
        client_ = nullptr;
    }
}

void LanAnnouncer::Thread::Absent(const std::string& line) {
    if (!absenceSaid_ && log_) {
        log_(LanLogLevel::Info, line);
    }
    absenceSaid_ = true;
}

void LanAnnouncer::Thread::OnClientState(AvahiClient* client, AvahiClientState state, void* self) {
    auto* thread = static_cast<Thread*>(self);
    // The first state arrives inside avahi_client_new, before client_ is set.
    thread->client_ = client;
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            if (thread->absenceSaid_ && thread->log_) {
                thread->log_(LanLogLevel::Info, "mDNS: avahi-daemon is running; announcing the boards");
            }
            thread->absenceSaid_ = false;
            thread->lastFailure_ = AVAHI_OK;
            thread->everConnected_ = true;
            thread->Sync();
            break;
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            // The daemon is (re)naming the host: the services go out again,
            // under the new name, once it runs.
            thread->announced_.clear();
            break;
        case AVAHI_CLIENT_CONNECTING:
            thread->Absent(thread->everConnected_ ? kStoppedLine : kNotRunningLine);
            break;
        case AVAHI_CLIENT_FAILURE: {
            const int error = avahi_client_errno(client);
            thread->announced_.clear();
            if (error == AVAHI_ERR_DISCONNECTED) {
                // The daemon or the bus went away. The client is freed and made
                // again outside its own callback.
                thread->Absent(kStoppedLine);
                thread->ScheduleConnect(0);
            } else {
                // Said once per kind of failure: the retries that fail alike are quiet.
                if (error != thread->lastFailure_ && thread->log_) {
                    thread->log_(LanLogLevel::Warning, std::string("mDNS: the avahi client failed: ") +
                                                           avahi_strerror(error) +
                                                           "; trying again — see avahi-daemon's log");
                }
                thread->lastFailure_ = error;
                thread->ScheduleConnect(kBusRetryMs);
            }
            break;
        }
    }
}

ServiceRecord LanAnnouncer::Thread::RecordOf(const WantedService& wanted) const {
    std::string host = hostName_;
    if (host.empty()) {
        const char* daemonHost = avahi_client_get_host_name(client_);
        host = daemonHost != nullptr ? daemonHost : "this host";
    }
    ServiceRecord record;
    record.port = wanted.port;
    record.txt = wanted.txt;
    if (wanted.kind == WantedService::Kind::Board) {
        record.type = kScpiRawServiceType;
        record.name = BoardInstanceName(wanted.usbPath, host);
    } else {
        record.type = kVxi11ServiceType;
        record.name = Vxi11HostInstanceName(host);
    }
    return record;
}

void LanAnnouncer::Thread::Sync() {
    if (client_ == nullptr || avahi_client_get_state(client_) != AVAHI_CLIENT_S_RUNNING) {
        return;
    }
    std::map<std::string, WantedService> wanted;
    {
        std::lock_guard lock(wantedMutex_);
        wanted = wanted_;
    }
    for (auto it = announced_.begin(); it != announced_.end();) {
        const auto want = wanted.find(it->first);
        if (want == wanted.end()) {
            if (log_) {
                log_(LanLogLevel::Info, "mDNS: withdrew \"" + it->second->Name() + "\"");
            }
            it = announced_.erase(it);
        } else if (RecordOf(want->second) != it->second->Record()) {
            it = announced_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [key, service] : wanted) {
        if (!announced_.contains(key)) {
            announced_.emplace(key, std::make_unique<AnnouncedService>(client_, RecordOf(service), log_));
        }
    }
}

}  // namespace tarnel::scpi
