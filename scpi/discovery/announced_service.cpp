#include "announced_service.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

namespace tarnel::scpi {

namespace {

// Renames in a row before the service is given up: enough for any LAN
// that is not flooding the name on purpose.
constexpr int kMaxRenames = 32;

}  // namespace

AnnouncedService::AnnouncedService(AvahiClient* client, ServiceRecord record, const LanLog& log)
    : client_(client), record_(std::move(record)), log_(log), name_(record_.name) {
    // The group's first state can arrive inside avahi_entry_group_new, so
    // the callback works on the group it is handed, not on group_.
    group_ = avahi_entry_group_new(client_, &AnnouncedService::OnGroupState, this);
    if (group_ == nullptr) {
        Warn("could not announce", avahi_client_errno(client_));
        return;
    }
    Publish(group_);
}

AnnouncedService::~AnnouncedService() {
    if (group_ != nullptr) {
        avahi_entry_group_free(group_);
    }
}

void AnnouncedService::Publish(AvahiEntryGroup* group) {
    AvahiStringList* txt = nullptr;
    for (const std::string& entry : record_.txt) {
        txt = avahi_string_list_add(txt, entry.c_str());
    }
    // Reversed by each add; avahi_string_list_reverse puts them back in the
    // record's order, which is the order browsers show.
    txt = avahi_string_list_reverse(txt);
    for (;;) {
        int error = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                         AvahiPublishFlags{}, name_.c_str(),
                                                         record_.type.c_str(), nullptr, nullptr,
                                                         record_.port, txt);
        if (error == AVAHI_OK) {
            error = avahi_entry_group_commit(group);
            if (error != AVAHI_OK) {
                Warn("could not announce", error);
            }
            break;
        }
        // Another program on this host has the name already.
        if (error != AVAHI_ERR_COLLISION || renames_ >= kMaxRenames) {
            Warn("could not announce", error);
            break;
        }
        TakeAlternativeName();
    }
    avahi_string_list_free(txt);
}

void AnnouncedService::TakeAlternativeName() {
    char* alternative = avahi_alternative_service_name(name_.c_str());
    const std::string taken = name_;
    name_ = alternative != nullptr ? alternative : name_ + " #2";
    avahi_free(alternative);
    ++renames_;
    if (log_) {
        log_(LanLogLevel::Info, "mDNS: the name \"" + taken + "\" is taken on the LAN; announcing it as \"" +
                                    name_ + "\"");
    }
}

void AnnouncedService::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    auto* service = static_cast<AnnouncedService*>(self);
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            if (service->log_) {
                service->log_(LanLogLevel::Info, "mDNS: announced \"" + service->name_ + "\" as " +
                                                     service->record_.type + " on port " +
                                                     std::to_string(service->record_.port));
            }
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            // Another host on the LAN answered for the name while it was probed.
            if (service->renames_ >= kMaxRenames) {
                service->Warn("gave up announcing", AVAHI_ERR_COLLISION);
                avahi_entry_group_reset(group);
                break;
            }
            service->TakeAlternativeName();
            avahi_entry_group_reset(group);
            service->Publish(group);
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            service->Warn("could not announce",
                          avahi_client_errno(avahi_entry_group_get_client(group)));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
    }
}

void AnnouncedService::Warn(const std::string& what, int avahiError) const {
    if (log_) {
        log_(LanLogLevel::Warning, "mDNS: " + what + " \"" + name_ + "\" (" + record_.type + "): " +
                                       avahi_strerror(avahiError) + " — see avahi-daemon's log");
    }
}

}  // namespace tarnel::scpi
