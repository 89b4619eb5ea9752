#include "emulated_meter.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "meter_messages.h"

namespace tarnel::emulator {

namespace {

void LogLine(const std::string& line) { std::fprintf(stderr, "board-emulator: meter: %s\n", line.c_str()); }

scpi::ServerSettings ServerSettingsOf(const MeterOptions& options) {
    scpi::ServerSettings settings;
    if (options.address) settings.address = *options.address;
    settings.maxClients = EmulatedMeter::kMostClients;
    settings.log = LogLine;
    return settings;
}

vxi11::Vxi11Settings Vxi11SettingsOf(const MeterAddress& address) {
    vxi11::Vxi11Settings settings;
    settings.host = address.host;
    settings.mostConnections = EmulatedMeter::kMostClients;
    settings.log = LogLine;
    return settings;
}

}  // namespace

EmulatedMeter::EmulatedMeter(MeterModel::Input input, MeterOptions options)
    : options_(std::move(options)),
      meter_({std::move(input), options_.speed, options_.noiseSeed}),
      served_(MeterMessages(meter_), scpi::DispatchMode::EachClientItsOwn),
      server_(served_, ServerSettingsOf(options_)) {}

EmulatedMeter::~EmulatedMeter() {
    // Waiting clients give up first, so that every client thread can end.
    meter_.Stop();
    server_.Stop();
    if (portmapper_) portmapper_->Stop();
    if (vxi11_) vxi11_->Stop();
    if (tty_) tty_->Stop();
    if (gpib_) gpib_->Stop();
}

std::optional<std::string> EmulatedMeter::Start() {
    if (options_.address) {
        if (auto problem = server_.Listen()) return *problem + " - choose another port";
        ::setenv(kMeterAddressVariable, server_.ListeningOn().Text().c_str(), 1);
        StartVxi11();
    }
    if (options_.tty) {
        tty_.emplace(meter_, *options_.tty, options_.speed);
        if (auto problem = tty_->Start()) return "--meter-tty: " + *problem;
        ::setenv(kMeterTtyVariable, options_.tty->link.c_str(), 1);
    }
    if (options_.gpib) {
        gpib_.emplace(meter_, *options_.gpib, options_.speed);
        if (auto problem = gpib_->Start()) return "--meter-gpib: " + *problem;
        ::setenv(kMeterGpibVariable, options_.gpib->link.c_str(), 1);
    }
    return std::nullopt;
}

void EmulatedMeter::StartVxi11() {
    vxi11_.emplace(std::vector<vxi11::Vxi11DeviceEntry>{{{"inst0"}, &vxi11Device_}},
                   Vxi11SettingsOf(server_.ListeningOn()));
    if (auto problem = vxi11_->Listen()) {
        LogLine("VXI-11 is not served: " + *problem);
        vxi11_.reset();
        return;
    }
    // Registered with rpcbind, or answered on port 111 of the meter's host;
    // otherwise the portmapper says so in one line.
    portmapper_.emplace(vxi11_->Mappings(), LogLine);
    portmapper_->Start(111, server_.ListeningOn().host);
}

}  // namespace tarnel::emulator
