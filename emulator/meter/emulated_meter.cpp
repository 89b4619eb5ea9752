#include "emulated_meter.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace tarnel::emulator {

EmulatedMeter::EmulatedMeter(MeterModel::Input input, MeterOptions options)
    : options_(std::move(options)),
      meter_({std::move(input), options_.speed, options_.noiseSeed}),
      server_([this] {
          auto client = std::make_shared<MeterClient>(meter_);
          return [client](const scpi::InputLines::Line& line) { return client->Run(line); };
      },
      [](const std::string& line) { std::fprintf(stderr, "board-emulator: meter: %s\n", line.c_str()); }) {}

EmulatedMeter::~EmulatedMeter() {
    // Waiting clients give up first, so that every client thread can end.
    meter_.Stop();
    server_.Stop();
    if (tty_) tty_->Stop();
    if (gpib_) gpib_->Stop();
}

std::optional<std::string> EmulatedMeter::Start() {
    if (options_.address) {
        if (auto problem = server_.Listen(*options_.address)) return problem;
        ::setenv(kMeterAddressVariable, server_.ListeningOn().Text().c_str(), 1);
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

}  // namespace tarnel::emulator
