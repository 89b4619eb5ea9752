#include "vxi11/vxi11_server.h"

#include <netinet/in.h>

#include "vxi11.h"

namespace tarnel::vxi11 {

namespace {

// Room for the call header and the write's other fields around its data.
constexpr std::size_t kRecordOverhead = 4096;

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
    : core_({}, settings.limits),
      coreListener_(ListenerSettings(settings, "VXI-11 core channel", settings.corePort),
                    [this] { return core_.OpenCoreSession(); }),
      abortListener_(ListenerSettings(settings, "VXI-11 abort channel", settings.abortPort),
                     [this] { return core_.OpenAbortSession(); }) {
    for (Vxi11DeviceEntry& entry : devices) {
        if (auto taken = AddDevice(std::move(entry)); taken && settings.log) settings.log(*taken);
    }
}

std::optional<std::string> Vxi11Server::AddDevice(Vxi11DeviceEntry entry) {
    auto slot = std::make_unique<DeviceSlot>(std::move(entry.names), *entry.device);
    const std::lock_guard lock(slotsMutex_);
    if (auto taken = core_.AddSlot(*slot)) return "VXI-11 device name " + *taken + " is served already";
    slots_.push_back(std::move(slot));
    return std::nullopt;
}

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
    return {{DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP, CorePort()},
            {DEVICE_ASYNC, DEVICE_ASYNC_VERSION, IPPROTO_TCP, AbortPort()}};
}

void Vxi11Server::Stop() {
    core_.Stop();
    abortListener_.Stop();
    coreListener_.Stop();
}

}  // namespace tarnel::vxi11
