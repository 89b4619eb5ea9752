#include "emulated_meter.h"

#include <cstdio>
#include <memory>

#include "meter_client.h"

namespace tarnel::emulator {

EmulatedMeter::EmulatedMeter(MeterModel::Input input, MeterOptions options)
    : options_(std::move(options)),
      meter_({std::move(input), options_.speed, MeterModel::Setup{}.noiseSeed}),
      server_([this] {
          auto client = std::make_shared<MeterClient>(meter_);
          return [client](const scpi::InputLines::Line& line) { return client->Run(line); };
      },
      [](const std::string& line) { std::fprintf(stderr, "board-emulator: meter: %s\n", line.c_str()); }) {}

EmulatedMeter::~EmulatedMeter() {
    // Waiting clients give up first, so that every client thread can end.
    meter_.Stop();
    server_.Stop();
}

std::optional<std::string> EmulatedMeter::Listen() { return server_.Listen(options_.address); }

}  // namespace tarnel::emulator
