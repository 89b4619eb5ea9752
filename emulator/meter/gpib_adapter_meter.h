// A "++" GPIB adapter emulated on a pseudo-terminal (LINK is made a symbolic
// link to its client side), with the meter on the bus at one address: "++"
// lines are the adapter's commands (++mode, ++addr, ++auto, ++eoi, ++eos,
// ++read, ++read_tmo_ms, ++ver, ++clr, ...), any other line is data for the
// instrument at ++addr, unescaped. Nothing answers at any other address: a
// ++read there times out, as on a real bus.
//
// The meter runs its messages on a thread of its own and keeps its reply
// until it is read: a reading that takes longer than the adapter's read
// timeout is read by the next ++read.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "scpi/input_lines.h"

#include "gpib_adapter_commands.h"
#include "meter_client.h"
#include "pseudo_terminal.h"
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
    // The adapter: the host's lines, one after another.
    void ServeHost();
    void HandleCommand(const std::string& line);
    void HandleData(const std::string& escaped);
    // The instrument at the address talks until end; what it said goes to the host.
    void ReadFromBus(ReadEnd end, char endCharacter);
    // Whether the meter is the instrument the adapter talks to.
    bool MeterAddressed() const;
    // The meter: its messages, one after another.
    void RunMeter();

    GpibAdapterOptions options_;
    PseudoTerminal terminal_;
    AdapterCommands commands_;     // host thread only
    scpi::InputLines meterInput_;  // host thread only: data on its way into the meter
    MeterClient client_;           // meter thread only

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<scpi::InputLines::Line> messages_;   // for the meter, not yet run
    std::string output_;       // the meter's reply, not yet read by the adapter
    unsigned clears_ = 0;      // device clears so far: a reply to a message before one is dropped
    bool stopping_ = false;
    std::thread host_;
    std::thread meter_;
};

}  // namespace tarnel::emulator
