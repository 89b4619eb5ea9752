// The meter on an RS-232 line, emulated on a pseudo-terminal: LINK is made a
// symbolic link to the terminal's client side. Bytes go out paced at the
// line's baud rate (8N1: ten bit times a byte); when the line settings the
// client set on the terminal differ from the meter's, the meter receives
// garbage and answers garbage, as a real line does. Lines in, a reply line
// (LF) out for each message that has one.
#pragma once

#include <optional>
#include <string>

#include "shared_meter.h"

namespace tarnel::emulator {

struct SerialLineOptions {
    std::string link;     // the symbolic link made to the terminal
    unsigned baud = 9600;
};

class SerialLineMeter {
public:
    // speed divides the pacing of the bytes as it divides every meter time.
    SerialLineMeter(SharedMeter& meter, SerialLineOptions options, double speed);
    ~SerialLineMeter();   // Stop
    SerialLineMeter(const SerialLineMeter&) = delete;
    SerialLineMeter& operator=(const SerialLineMeter&) = delete;

    // Opens the terminal, makes the link and starts serving; the reason when it cannot.
    std::optional<std::string> Start();
    // Ends serving and removes the link. The shared meter is stopped first by its owner.
    void Stop();

private:
    SharedMeter& meter_;
    SerialLineOptions options_;
    double speed_;
};

}  // namespace tarnel::emulator
