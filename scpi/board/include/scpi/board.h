// What the server needs of the evaluation board: DAC writes and read-backs.
// The program supplies it (tarnelctl's board session); tests supply their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <tarnel/board_protocol.h>

namespace tarnel::scpi {

// A board request that did not complete. Missing: the board is not there
// (unplugged, never found, no permission), so only opening it again can help.
class BoardFailure : public std::runtime_error {
public:
    BoardFailure(bool missing, const std::string& reason) : std::runtime_error(reason), missing_(missing) {}
    bool Missing() const { return missing_; }

private:
    bool missing_;
};

class Board {
public:
    virtual ~Board() = default;
    // Writes the data word in that mode with one DAC request.
    virtual void Write(std::uint32_t data, protocol::PowerDown mode) = 0;
    // Reads the converter count times and returns the mean 12-bit code.
    virtual double Read(unsigned count) = 0;
};

// Opens the board again after it went missing: finds it, loads the firmware
// only when it does not run, never writes the DAC. Throws BoardFailure.
using BoardOpener = std::function<std::unique_ptr<Board>()>;

}  // namespace tarnel::scpi
