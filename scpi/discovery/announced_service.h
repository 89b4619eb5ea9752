// One service on the LAN through avahi-daemon: its own entry group, so that
// a board withdrawn or renamed leaves the others alone. A name already taken
// (by another program on this host, or another host on the LAN) moves to
// avahi's alternative, "NAME #2" and on. Lives on the announcer's poll
// thread only; destroying it withdraws the service.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>

#include "scpi/lan_announcer.h"

namespace tarnel::scpi {

// A service as it goes out: what changes in it means a new announcement.
struct ServiceRecord {
    std::string type;
    std::string name;
    std::uint16_t port = 0;
    std::vector<std::string> txt;
    bool operator==(const ServiceRecord&) const = default;
};

class AnnouncedService {
public:
    // Announces at once on `client`, which must be running and outlive it.
    AnnouncedService(AvahiClient* client, ServiceRecord record, const LanLog& log);
    ~AnnouncedService();
    AnnouncedService(const AnnouncedService&) = delete;
    AnnouncedService& operator=(const AnnouncedService&) = delete;

    const ServiceRecord& Record() const { return record_; }
    // The name it goes by now: the record's, or an alternative after a collision.
    const std::string& Name() const { return name_; }

private:
    static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
    void Publish(AvahiEntryGroup* group);
    void TakeAlternativeName();
    void Warn(const std::string& what, int avahiError) const;

    AvahiClient* client_;
    ServiceRecord record_;
    const LanLog& log_;
    std::string name_;
    AvahiEntryGroup* group_ = nullptr;
    int renames_ = 0;
};

}  // namespace tarnel::scpi
