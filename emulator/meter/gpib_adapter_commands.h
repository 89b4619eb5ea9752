// The "++" GPIB adapter as a state machine, without a terminal or a bus:
// cutting what the host sends into lines (an unescaped CR or LF ends one),
// and the adapter's commands — its settings, and what each command asks of
// the bus. The emulated adapter (gpib_adapter_meter) does the bus part.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::emulator {

// The adapter's answer to an unknown command or a value out of range.
inline constexpr const char* kUnrecognizedCommand = "Unrecognized command";

// Host input cut into lines. Escapes are kept (gpib::Unescaped removes them
// from data); empty lines are dropped. A line longer than kLongestLine is
// dropped whole.
class AdapterInput {
public:
    static constexpr std::size_t kLongestLine = 64 * 1024;

    void Feed(std::string_view bytes);
    std::optional<std::string> Next();

private:
    std::string partial_;
    bool escaped_ = false;    // the last byte was an unescaped ESC
    bool dropping_ = false;   // inside a line too long
    std::deque<std::string> ready_;
};

struct AdapterSettings {
    unsigned mode = 1;             // 1 controller, 0 device
    unsigned address = 0;          // the instrument's primary address
    unsigned autoRead = 0;         // 1: read after every data line
    bool eoi = true;               // EOI with the last data byte
    unsigned eos = 0;              // appended to data: 0 CR LF, 1 CR, 2 LF, 3 nothing
    unsigned readTimeoutMs = 500;  // the wait for each character of a read
    bool eotEnable = false;        // a character sent to the host after a read ended by EOI
    unsigned eotChar = 0;
    bool saveConfig = true;
};

// What a ++read waits for: EOI, a character (or EOI), or its read timeout.
enum class ReadEnd { Eoi, Character, Timeout };

// What the adapter does for one command beyond changing its settings.
struct AdapterAction {
    enum class Kind {
        None,          // a setting changed, or a command with nothing for the bus (++ifc, ++loc)
        Answer,        // text for the host (a query, ++ver, an unknown command)
        Read,          // ++read: the instrument at the address talks
        DeviceClear,   // ++clr: selected device clear
        Trigger,       // ++trg: group execute trigger for addresses
        SerialPoll,    // ++spoll: the status byte of address
    };
    Kind kind = Kind::None;
    std::string answer;
    ReadEnd readEnd = ReadEnd::Eoi;
    char endCharacter = 0;
    std::vector<unsigned> addresses;   // Trigger, SerialPoll (one)
};

class AdapterCommands {
public:
    // The adapter starts with the saved settings: controller of address.
    explicit AdapterCommands(unsigned address);

    // One line that starts with "++", without its line end.
    AdapterAction Handle(std::string_view line);
    const AdapterSettings& Settings() const { return settings_; }

    // The adapter's version line.
    static std::string Version();

private:
    AdapterSettings saved_;
    AdapterSettings settings_;
};

// What ++eos appends to the data it sends to the instrument.
std::string_view EosTerminator(unsigned eos);

}  // namespace tarnel::emulator
