// Instruments on VXI-11 (VISA's TCPIP::HOST::INSTR): the core channel on one
// TCP port, the abort channel on another, each connection on a thread of its
// own; each device runs its links' messages on threads of its own (see
// Vxi11Device). A link reaches a device by any of the device's names
// ("inst0", a board's port path "1-1.2"). The portmapper that tells clients
// the core port is a separate Portmapper.
//
//   scpi::ServedInstrument meter(MeterMessages(shared), scpi::DispatchMode::EachClientItsOwn);
//   ServedInstrumentDevice device(meter);
//   Vxi11Server server({{{"inst0"}, &device}}, settings);
//   if (auto failure = server.Listen()) ...;
//   Portmapper portmapper(server.Mappings(), settings.log);
//   portmapper.Start();
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vxi11/core_channel.h"
#include "vxi11/device_slot.h"
#include "vxi11/portmapper.h"
#include "vxi11/rpc_tcp_listener.h"
#include "vxi11/vxi11_device.h"

namespace tarnel::vxi11 {

struct Vxi11DeviceEntry {
    std::vector<std::string> names;   // the first is its VISA name, "inst0"
    Vxi11Device* device = nullptr;    // outlives the server
};

struct Vxi11Settings {
    std::string host = "0.0.0.0";
    std::uint16_t corePort = 0;    // 0: any free port (the portmapper tells it)
    std::uint16_t abortPort = 0;   // 0: any free port (create_link tells it)
    unsigned mostConnections = 32;   // on each channel
    CoreLimits limits;
    AdmissionCheck admit;   // empty: every client
    LogLine log;
};

class Vxi11Server {
public:
    Vxi11Server(std::vector<Vxi11DeviceEntry> devices, Vxi11Settings settings);
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Starts both channels; the reason when it cannot.
    std::optional<std::string> Listen();
    std::uint16_t CorePort() const { return coreListener_.Port(); }
    std::uint16_t AbortPort() const { return abortListener_.Port(); }
    // The core and abort programs on their ports, for the portmapper.
    std::vector<PortMapping> Mappings() const;

    // Serves one more device, before Listen or while serving, from any
    // thread: links open to the others stay open. "VXI-11 device name NAME
    // is served already" when another device answers to one of its names;
    // then nothing is added.
    std::optional<std::string> AddDevice(Vxi11DeviceEntry entry);

    // Every waiting call answers, the connections close (their links end in
    // their devices with them).
    void Stop();

private:
    std::mutex slotsMutex_;
    std::vector<std::unique_ptr<DeviceSlot>> slots_;   // under slotsMutex_; the core channel has them too
    CoreChannel core_;
    RpcTcpListener coreListener_;
    RpcTcpListener abortListener_;
};

}  // namespace tarnel::vxi11
