#include "vxi11/served_instrument_device.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace tarnel::vxi11 {

ServedInstrumentDevice::ServedInstrumentDevice(scpi::ServedInstrument& instrument) : instrument_(instrument) {}

ServedInstrumentDevice::~ServedInstrumentDevice() {
    // Each waits for its message running (see InstrumentClient::Close).
    const std::lock_guard lock(mutex_);
    clients_.clear();
    letGo_.clear();
}

void ServedInstrumentDevice::Submit(scpi::InputLines::Line message, const std::shared_ptr<scpi::ConnectionState>& link,
                                    Done done) {
    const std::lock_guard lock(mutex_);
    auto found = clients_.find(link.get());
    if (found == clients_.end()) {
        EndIdleClients();
        found = clients_.emplace(link.get(), instrument_.Connect(link)).first;
    }
    found->second->Submit(std::move(message), [link, done = std::move(done)](std::optional<std::string> reply) {
        // On the worker that ran the message, which has the link's state to itself.
        const std::uint8_t statusByte = link->status.StatusByte(link->errors.Count() > 0, false);
        done({std::move(reply), false, statusByte});
    });
}

std::uint8_t ServedInstrumentDevice::StatusByte(scpi::ConnectionState& link, bool messageAvailable) {
    return link.status.StatusByte(link.errors.Count() > 0, messageAvailable);
}

bool ServedInstrumentDevice::TakeLock(scpi::ConnectionState& link) {
    // The device lock is free, so only a client of another front can hold the
    // instrument's: refused at once, as that front decides when it lets go.
    return instrument_.Lock().Acquire(link, std::chrono::milliseconds(0));
}

void ServedInstrumentDevice::GiveUpLock(scpi::ConnectionState& link) { instrument_.Lock().Release(link); }

void ServedInstrumentDevice::LinkEnded(scpi::ConnectionState& link) {
    const std::lock_guard lock(mutex_);
    const auto found = clients_.find(&link);
    if (found != clients_.end()) {
        found->second->Abandon();
        letGo_.push_back(std::move(found->second));
        clients_.erase(found);
    }
    EndIdleClients();
}

void ServedInstrumentDevice::EndIdleClients() {
    // An idle client ends at once: its worker, if it has one, has nothing to finish.
    letGo_.erase(std::remove_if(letGo_.begin(), letGo_.end(), [](const auto& client) { return client->Idle(); }),
                 letGo_.end());
}

}  // namespace tarnel::vxi11
