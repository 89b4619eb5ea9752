#include "vxi11/vxi11_server.h"

#include <netinet/in.h>

namespace tarnel::vxi11 {

namespace {

constexpr std::uint32_t kCoreProgram = 0x0607AF;
constexpr std::uint32_t kAbortProgram = 0x0607B0;
// Room for the call header and the write's other fields around its data.
constexpr std::size_t kRecordOverhead = 4096;

std::vector<std::unique_ptr<DeviceSlot>> SlotsOf(std::vector<Vxi11DeviceEntry>& devices) {
    std::vector<std::unique_ptr<DeviceSlot>> slots;
    for (Vxi11DeviceEntry& entry : devices) slots.push_back(std::make_unique<DeviceSlot>(std::move(entry.names), *entry.device));
    return slots;
}

std::vector<DeviceSlot*> Pointers(const std::vector<std::unique_ptr<DeviceSlot>>& slots) {
    std::vector<DeviceSlot*> pointers;
    for (const auto& slot : slots) pointers.push_back(slot.get());
    return pointers;
}

RpcListenerSettings ListenerSettings(const Vxi11Settings& settings, std::string name, std::uint16_t port) {
    RpcListenerSettings listener;
    listener.name = std::move(name);
    listener.host = settings.host;
    listener.port = port;
    listener.mostConnections = settings.mostConnections;
    // A write a little beyond maxRecvSize is answered (refused); a record far
    // beyond it closes the connection.
    listener.longestRecord = static_cast<std::size_t>(settings.limits.maxRecvSize) * 2 + kRecordOverhead;
    listener.admit = settings.admit;
    listener.log = settings.log;
    return listener;
}

}  // namespace

Vxi11Server::Vxi11Server(std::vector<Vxi11DeviceEntry> devices, Vxi11Settings settings)
    : slots_(SlotsOf(devices)),
      core_(Pointers(slots_), settings.limits),
      coreListener_(ListenerSettings(settings, "VXI-11 core channel", settings.corePort),
                    [this] { return core_.OpenCoreSession(); }),
      abortListener_(ListenerSettings(settings, "VXI-11 abort channel", settings.abortPort),
                     [this] { return core_.OpenAbortSession(); }) {}

Vxi11Server::~Vxi11Server() { Stop(); }

std::optional<std::string> Vxi11Server::Listen() {
    if (auto failure = abortListener_.Listen()) return failure;
    core_.SetAbortPort(abortListener_.Port());
    if (auto failure = coreListener_.Listen()) {
        abortListener_.Stop();
        return failure;
    }
    return std::nullopt;
}

std::vector<PortMapping> Vxi11Server::Mappings() const {
    return {{kCoreProgram, 1, IPPROTO_TCP, CorePort()}, {kAbortProgram, 1, IPPROTO_TCP, AbortPort()}};
}

void Vxi11Server::Stop() {
    core_.Stop();
    abortListener_.Stop();
    coreListener_.Stop();
}

}  // namespace tarnel::vxi11
