// What a serial line does to bytes when the two ends disagree: each end's
// UART frames bytes at its own baud rate, data bits, parity and stop bits,
// and a receiver at other settings samples the sender's bits at its own
// times. The emulated RS-232 meter sends its replies through this, so that a
// client set to the wrong speed or frame gets the garbage a real line gives.
#pragma once

#include <string>
#include <string_view>

namespace tarnel::emulator {

struct LineFrame {
    unsigned baud = 9600;
    unsigned dataBits = 8;   // 5..8
    char parity = 'N';       // 'N', 'E' or 'O'
    unsigned stopBits = 1;   // 1 or 2

    bool operator==(const LineFrame&) const = default;
    // "9600,8N1".
    std::string Text() const;
    // Start bit, data, parity, stop bits.
    unsigned BitsPerByte() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
};

// What a receiver at `heard` reads of bytes sent back to back at `sent`: the
// bytes themselves when the frames agree, garbage otherwise. A byte whose
// stop bit is sampled low comes out as NUL, as the terminal driver reports a
// framing error in raw mode; parity is not checked (raw mode checks none).
std::string Resampled(std::string_view bytes, const LineFrame& sent, const LineFrame& heard);

}  // namespace tarnel::emulator
