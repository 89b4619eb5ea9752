// A "++" GPIB adapter emulated on a pseudo-terminal (LINK is made a symbolic
// link to its client side), with the meter on the bus at one address: "++"
// lines are the adapter's commands (++mode, ++addr, ++auto, ++eoi, ++eos,
// ++read, ++read_tmo_ms, ++ver, ++clr, ...), any other line is data for the
// instrument at ++addr, unescaped. Nothing answers at any other address: a
// ++read there times out, as on a real bus.
#pragma once

#include <optional>
#include <string>

#include "shared_meter.h"

namespace tarnel::emulator {

struct GpibAdapterOptions {
    std::string link;       // the symbolic link made to the terminal
    unsigned address = 22;  // the meter's GPIB address
};

class GpibAdapterMeter {
public:
    GpibAdapterMeter(SharedMeter& meter, GpibAdapterOptions options, double speed);
    ~GpibAdapterMeter();   // Stop
    GpibAdapterMeter(const GpibAdapterMeter&) = delete;
    GpibAdapterMeter& operator=(const GpibAdapterMeter&) = delete;

    // Opens the terminal, makes the link and starts serving; the reason when it cannot.
    std::optional<std::string> Start();
    // Ends serving and removes the link. The shared meter is stopped first by its owner.
    void Stop();

private:
    SharedMeter& meter_;
    GpibAdapterOptions options_;
    double speed_;
};

}  // namespace tarnel::emulator
