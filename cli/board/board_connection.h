// The connection to one evaluation board through one of the two board-access
// libraries, as tarnelctl and the services built on it use it. The library is
// bound as the windowed programs bind it (newer: the configured absolute path;
// older: libToveri.so beside the program); the board is picked from the
// library's list; the firmware (Brisan.hex beside the program) is loaded only when the
// board does not answer a read-back, so the DAC keeps what an earlier run set.
// Every failure is a CommandFailure whose status tells its kind: Unreachable
// while opening, TransferFailed once the board is open.
//
// The board-access library and the control state are process-wide: every
// call of a connection runs under LockBoardAccess with its own board handle,
// so several connections (one per board, with the handle-based newer library)
// coexist in one process and may be used from different threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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

class BoardConnection;

// A board found by BoardConnection::OpenEach.
struct OpenedBoard {
    unsigned board = 0;                            // its number now
    std::string path;                              // its USB port path; empty when unknown
    std::unique_ptr<BoardConnection> connection;   // none when it could not be opened
    std::string problem;                           // why not
};

class BoardConnection {
public:
    BoardConnection(LibraryChoice library, std::uint8_t board, bool reload);
    // The board at that USB port path, whatever its number; throws
    // CommandFailure(Unreachable) when no board the library can open is there.
    BoardConnection(LibraryChoice library, const std::string& path, bool reload);
    ~BoardConnection();
    BoardConnection(const BoardConnection&) = delete;
    BoardConnection& operator=(const BoardConnection&) = delete;

    // The board's number when it was opened (as --board takes it then).
    unsigned Number() const { return number_; }
    // Its USB port path, as the library answers it; empty when unknown.
    std::string PortPath();

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

    // Opens, in one pass, every board the library lists whose port path
    // `wanted` accepts, each connected exactly once (the library keeps a
    // board's connection until the board leaves the bus, so a second connect
    // to a board held here would find it busy). Boards not wanted are
    // connected only to ask their path. A board that cannot be opened comes
    // back with its problem; a failed search throws CommandFailure.
    static std::vector<OpenedBoard> OpenEach(LibraryChoice library, bool reload,
                                             const std::function<bool(const std::string& path)>& wanted);

private:
    class Access;
    // Takes over the board the library connected last (its handle now in Declare::BoardHandle).
    struct Adopt {};
    BoardConnection(LibraryChoice library, unsigned number, Adopt);
    void Start(bool reload);

    // Opens every board the library lists in turn; survey(number) runs with
    // each that opened. A board that cannot be opened, or a failed search,
    // goes into the result with its reason.
    template <typename Survey>
    static ScanResult ForEachBoard(LibraryChoice library, LibraryStderr& messages, Survey&& survey);

    void Connect(std::uint8_t board);
    void ConnectAt(const std::string& path);
    bool FirmwareAnswers();
    void LoadFirmware();
    [[noreturn]] void FailTransfer(const std::string& what);

    LibraryChoice library_;
    LibraryStderr messages_;
    bool loadedFirmware_ = false;
    unsigned number_ = 0;
    std::int32_t handle_ = 0;       // the newer library's handle of this board
    std::int16_t lastStatus_ = 0;   // the status of this connection's latest library call
};

}  // namespace tarnel::cli
