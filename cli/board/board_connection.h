// The connection to one evaluation board through one of the two board-access
// libraries, as tarnelctl and the services built on it use it. The library is
// bound as the windowed programs bind it (newer: the configured absolute path;
// older: libToveri.so beside the program); the board is picked from the
// library's list; the firmware (Brisan.hex beside the program) is loaded only when the
// board does not answer a read-back, so the DAC keeps what an earlier run set.
// Every failure is a CommandFailure whose status tells its kind: Unreachable
// while opening, TransferFailed once the board is open.
//
// The board-access library and the control state are process-wide: a process
// holds one connection (or one scan) at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "board/library_stderr.h"
#include "command_line/command_line.h"

namespace tarnel::cli {

struct ScannedBoard {
    unsigned board = 0;            // the number --board takes
    std::string path;              // its USB port path, which --board takes too; empty when unknown
    bool reachable = false;        // it could be opened
    bool firmwareRunning = false;  // it answers a read-back
    std::string problem;           // why it could not be opened
};

// Several reads of the converter at one setting: the mean code and its spread.
struct Reading {
    double mean = 0;                // mean 12-bit code
    double standardDeviation = 0;   // of the codes read (population: 0 for one read)
    double min = 0;
    double max = 0;
    unsigned count = 0;             // reads made
};

struct ScanResult {
    std::vector<ScannedBoard> boards;
    std::string noBoardReason;     // when boards is empty: the library's reason
};

class BoardConnection {
public:
    BoardConnection(LibraryChoice library, std::uint8_t board, bool reload);
    ~BoardConnection();
    BoardConnection(const BoardConnection&) = delete;
    BoardConnection& operator=(const BoardConnection&) = delete;

    // Whether opening the connection loaded the firmware.
    bool LoadedFirmware() const { return loadedFirmware_; }

    // Writes data in mode with exactly one DAC request (0xDD), through the
    // program's own encoding; returns the 24-bit input word sent.
    std::uint32_t Write(std::uint32_t data, protocol::PowerDown mode);

    // Reads the converter count times (one 0xDA each): the mean of the
    // 12-bit codes, their standard deviation, smallest and largest.
    Reading Read(unsigned count);

    // After a failed Write or Read: whether the board has gone (unplugged,
    // or no longer reachable), so that only a new connection can reach it.
    bool BoardGone() const;

    // Every board the library lists, opened and asked whether its firmware
    // runs; nothing is loaded or written.
    static ScanResult Scan(LibraryChoice library);

    // The number of the board at that USB port path, found by opening each
    // board the library lists and asking its path; nothing is loaded or
    // written. Throws CommandFailure(Unreachable) when no board is there.
    static std::uint8_t NumberOfBoardAt(LibraryChoice library, const std::string& path);

private:
    // Opens every board the library lists in turn; survey(number) runs with
    // each that opened. A board that cannot be opened, or a failed search,
    // goes into the result with its reason.
    template <typename Survey>
    static ScanResult ForEachBoard(LibraryChoice library, LibraryStderr& messages, Survey&& survey);

    void Connect(std::uint8_t board);
    bool FirmwareAnswers();
    void LoadFirmware();
    [[noreturn]] void FailTransfer(const std::string& what);

    LibraryChoice library_;
    LibraryStderr messages_;
    bool loadedFirmware_ = false;
};

}  // namespace tarnel::cli
