// The meter on an RS-232 line, emulated on a pseudo-terminal: LINK is made a
// symbolic link to the terminal's client side. Bytes go out paced at the
// line's baud rate (8N1: ten bit times a byte); when the line settings the
// client set on the terminal differ from the meter's, the meter's replies
// reach the client as the garbage a real line gives (see line_frames.h).
// A pseudo-terminal keeps 8 data bits and no parity whatever the client
// sets, so the baud rate and the stop bits are what can differ here.
// Lines in, a reply line (LF) out for each message that has one; the meter
// acts on each message as the client meant it.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "scpi/input_lines.h"

#include "meter_client.h"
#include "pseudo_terminal.h"
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
    // Cuts what the client sends into lines for the meter.
    void Receive();
    // Runs the lines on the meter, one after another, and sends the replies.
    void Answer();

    SerialLineOptions options_;
    double speed_;
    PseudoTerminal terminal_;
    MeterClient client_;
    std::mutex mutex_;
    std::condition_variable received_;
    std::deque<scpi::InputLines::Line> lines_;   // received, not yet run
    bool stopping_ = false;
    std::thread receiver_;
    std::thread answerer_;
};

}  // namespace tarnel::emulator
