#include "serve/vxi11_front.h"

#include <utility>

namespace tarnel::cli {

Vxi11Front::Vxi11Front(vxi11::Vxi11Settings settings) : settings_(std::move(settings)) {}

Vxi11Front::~Vxi11Front() { Stop(); }

std::optional<std::string> Vxi11Front::Serve(std::vector<vxi11::Vxi11DeviceEntry> devices) {
    if (server_) return "the VXI-11 server runs already";
    auto server = std::make_unique<vxi11::Vxi11Server>(std::move(devices), settings_);
    if (auto failure = server->Listen()) return failure;
    server_ = std::move(server);
    portmapper_ = std::make_unique<vxi11::Portmapper>(server_->Mappings(), settings_.log);
    portmapper_->Start();
    return std::nullopt;
}

std::optional<std::string> Vxi11Front::Add(vxi11::Vxi11DeviceEntry device) {
    if (!server_) return "the VXI-11 server does not run";
    return server_->AddDevice(std::move(device));
}

void Vxi11Front::Stop() {
    if (portmapper_) portmapper_->Stop();
    portmapper_.reset();
    if (server_) server_->Stop();
    server_.reset();
}

}  // namespace tarnel::cli
