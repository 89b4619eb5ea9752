// The host's one VXI-11 server for every served board, and the portmapper
// entry that tells clients its core port (registered with rpcbind, or port
// 111 answered here, or one line saying neither could be done).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vxi11/portmapper.h"
#include "vxi11/vxi11_server.h"

namespace tarnel::cli {

class Vxi11Front {
public:
    explicit Vxi11Front(vxi11::Vxi11Settings settings);
    ~Vxi11Front();   // Stop
    Vxi11Front(const Vxi11Front&) = delete;
    Vxi11Front& operator=(const Vxi11Front&) = delete;

    // Serves these devices (each outlives the front, or its Stop). Called
    // again with more devices, the server starts anew on the ports it had, so
    // that the portmapper's entry stays right; the links open then are closed.
    // The reason when the server cannot listen.
    std::optional<std::string> Serve(std::vector<vxi11::Vxi11DeviceEntry> devices);
    std::uint16_t CorePort() const;
    vxi11::Portmapper::Mode PortmapperMode() const { return portmapperMode_; }
    void Stop();

private:
    vxi11::Vxi11Settings settings_;
    std::unique_ptr<vxi11::Vxi11Server> server_;
    std::unique_ptr<vxi11::Portmapper> portmapper_;
    vxi11::Portmapper::Mode portmapperMode_ = vxi11::Portmapper::Mode::Absent;
};

}  // namespace tarnel::cli
