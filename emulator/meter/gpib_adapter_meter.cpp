// Not built yet: starting it says so.
#include "gpib_adapter_meter.h"

namespace tarnel::emulator {

GpibAdapterMeter::GpibAdapterMeter(SharedMeter& meter, GpibAdapterOptions options, double speed)
    : meter_(meter), options_(std::move(options)), speed_(speed) {}

GpibAdapterMeter::~GpibAdapterMeter() { Stop(); }

std::optional<std::string> GpibAdapterMeter::Start() {
    (void)meter_;
    (void)speed_;
    return "cannot serve on " + options_.link + ": this connection is not built yet";
}

void GpibAdapterMeter::Stop() {}

}  // namespace tarnel::emulator
