// The host's one VXI-11 server for every served board, and the portmapper
// entry that tells clients its core port (registered with rpcbind, or port
// 111 answered here, or one line saying neither could be done).
#pragma once

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

    // Starts the server on these devices (each outlives the front, or its
    // Stop) and tells the portmapper its ports; the reason when it cannot
    // listen. Only while it does not serve.
    std::optional<std::string> Serve(std::vector<vxi11::Vxi11DeviceEntry> devices);
    // One more device for the running server; the links open stay open. The
    // reason when it cannot be added (its name is served already).
    std::optional<std::string> Add(vxi11::Vxi11DeviceEntry device);
    bool Serving() const { return server_ != nullptr; }
    void Stop();

private:
    vxi11::Vxi11Settings settings_;
    std::unique_ptr<vxi11::Vxi11Server> server_;
    std::unique_ptr<vxi11::Portmapper> portmapper_;
};

}  // namespace tarnel::cli
