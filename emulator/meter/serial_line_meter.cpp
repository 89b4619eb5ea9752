// Not built yet: starting it says so.
#include "serial_line_meter.h"

namespace tarnel::emulator {

SerialLineMeter::SerialLineMeter(SharedMeter& meter, SerialLineOptions options, double speed)
    : meter_(meter), options_(std::move(options)), speed_(speed) {}

SerialLineMeter::~SerialLineMeter() { Stop(); }

std::optional<std::string> SerialLineMeter::Start() {
    (void)meter_;
    (void)speed_;
    return "cannot serve on " + options_.link + ": this connection is not built yet";
}

void SerialLineMeter::Stop() {}

}  // namespace tarnel::emulator
