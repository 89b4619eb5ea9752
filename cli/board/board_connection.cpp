#include "board/board_connection.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <tarnel/board_access_status.h>

#include "board/board_access_lock.h"
#include "board/usb_port_path.h"
#include "command_line/command_failure.h"
#include "core/encode_and_send.h"
#include "core/read_voltage.h"
#include "link/board_startup.h"
#include "link/comms_functions.h"
#include "link/library_failure.h"
#include "link/newer_library_binding.h"
#include "link/older_library_binding.h"
#include "link/usb_stuff.h"
#include "output/number_format.h"
#include "state/declare.h"
#include "state/run_time_error.h"

namespace tarnel::cli {

namespace {

link::NewerLibraryBinding& NewerBinding() {
    static link::NewerLibraryBinding binding(TARNEL_NEWER_LIBRARY_PATH);
    return binding;
}

link::OlderLibraryBinding& OlderBinding() {
    static link::OlderLibraryBinding binding(link::kOlderLibraryName);
    return binding;
}

void Bind(LibraryChoice library) {
    link::SetActiveBoardLibrary(library == LibraryChoice::Newer ? static_cast<link::BoardLibrary*>(&NewerBinding())
                                                                : &OlderBinding());
}

// The library's own line, or a plain one when it said nothing.
std::string Reason(std::string libraryLine, std::int32_t status) {
    if (!libraryLine.empty()) return libraryLine;
    return "the board-access library reports status " + std::to_string(status) + " — check the USB cable";
}

// Whether the last library call failed to reach the board at all: nobody
// there, no permission, the board gone.
bool LinkSaysBoardAbsent(std::int16_t status) {
    const BoardAccessFailure kind = link::FailureKindOf(status);
    return kind == BoardAccessFailure::NoBoard || kind == BoardAccessFailure::AccessDenied ||
           kind == BoardAccessFailure::Disconnected;
}

// Whether the board's firmware answers a read-back and, when the board could
// not be reached at all, why. A board without firmware refuses the read-back;
// that refusal is the answer sought, so the library's line is dropped.
struct FirmwareProbe {
    bool running = false;
    std::string absentReason;   // empty when the board was reached
};

FirmwareProbe ProbeFirmware(LibraryStderr& messages) {
    const bool running = messages.Hold([] { return CommsFunctions::ReadConverter().has_value(); });
    const std::string line = messages.Take();
    if (running || !LinkSaysBoardAbsent(Declare::LinkStatus)) return {running, {}};
    return {false, Reason(line, Declare::LinkStatus)};
}

// The connected board's USB port path, as the library answers the port-path
// request; empty when the library or the system does not tell it.
std::string AskPortPath(LibraryStderr& messages) {
    std::array<std::uint8_t, protocol::kPortPathLength> reply{};
    link::BoardLibrary& library = link::ActiveBoardLibrary();
    const std::int16_t status = messages.Hold([&] {
        return library.Request(protocol::kRequestPortPath, 0, 0, protocol::Direction::FromBoard,
                               protocol::kPortPathLength, reply.data());
    });
    // A library that does not answer it leaves the path unknown; its line says nothing more.
    messages.Take();
    if (!library.RequestDone(status)) return {};
    const std::string path(reply.begin(), std::find(reply.begin(), reply.end(), std::uint8_t{0}));
    return IsUsbPortPath(path) ? path : std::string();
}

[[noreturn]] void Unreachable(const std::string& message) { throw CommandFailure(ExitStatus::Unreachable, message); }

const char* LibraryName(LibraryChoice library) { return library == LibraryChoice::Newer ? "newer" : "older"; }

// Runs body; a board-access library that cannot be loaded (or lacks an entry
// point) makes the board unreachable.
template <typename Body>
auto WithLibrary(LibraryChoice library, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const RunTimeError& error) {
        Unreachable(std::string(error.what()) +
                    (library == LibraryChoice::Newer
                         ? " — install the board-access libraries (package tarnel, or make install)"
                         : " — put libToveri.so beside tarnelctl (package tarnel, or make install)"));
    }
}

}  // namespace

// One call of a connection: the process's board access held, the library
// bound and the board's handle in place; what the call leaves (the handle a
// connect gave, the status) is kept by the connection.
class BoardConnection::Access {
public:
    explicit Access(BoardConnection& connection) : held_(LockBoardAccess()), connection_(connection) {
        Declare::WordLength = protocol::kDacRegisterLength;
        Declare::Resolution = protocol::kDacResolutionBits;
        Declare::BoardHandle = connection_.handle_;
    }
    ~Access() {
        connection_.handle_ = Declare::BoardHandle;
        connection_.lastStatus_ = Declare::LinkStatus;
    }
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;

    template <typename Body>
    auto Run(Body&& body) -> decltype(body()) {
        return WithLibrary(connection_.library_, [&] {
            Bind(connection_.library_);
            return body();
        });
    }

private:
    std::unique_lock<std::recursive_mutex> held_;
    BoardConnection& connection_;
};

BoardConnection::BoardConnection(LibraryChoice library, std::uint8_t board, bool reload) : library_(library) {
    {
        Access access(*this);
        access.Run([&] { Connect(board); });
    }
    Start(reload);
}

BoardConnection::BoardConnection(LibraryChoice library, const std::string& path, bool reload) : library_(library) {
    {
        Access access(*this);
        access.Run([&] { ConnectAt(path); });
    }
    Start(reload);
}

BoardConnection::BoardConnection(LibraryChoice library, unsigned number, Adopt)
    : library_(library), number_(number), handle_(Declare::BoardHandle) {}

std::string BoardConnection::PortPath() {
    Access access(*this);
    return access.Run([&] { return AskPortPath(messages_); });
}

BoardConnection::~BoardConnection() {
    const auto held = LockBoardAccess();
    link::SetActiveBoardLibrary(nullptr);
}

void BoardConnection::Start(bool reload) {
    Access access(*this);
    access.Run([&] {
        if (reload || !FirmwareAnswers()) LoadFirmware();
    });
}

void BoardConnection::Connect(std::uint8_t board) {
    link::BoardLibrary& library = link::ActiveBoardLibrary();
    if (!library.ListsBoards() && board != 0) {
        throw CommandFailure(ExitStatus::Usage, std::string("the ") + LibraryName(library_) +
                                                    " library reaches board 0 only — use --library newer for board " +
                                                    std::to_string(board));
    }
    std::vector<std::uint8_t> numbers;
    const std::int32_t searched = messages_.Hold([&] { return library.SearchForBoards(numbers); });
    if (searched != 0) Unreachable(Reason(messages_.Take(), searched));
    if (board >= numbers.size()) {
        Unreachable("there is no board " + std::to_string(board) + "; " + std::to_string(numbers.size()) +
                    " board(s) attached — pick a board that 'tarnelctl scan' lists");
    }
    const std::int32_t connected = messages_.Hold([&] { return library.ConnectBoard(numbers[board]); });
    if (connected != 0) Unreachable(Reason(messages_.Take(), connected));
    number_ = board;
}

void BoardConnection::ConnectAt(const std::string& path) {
    link::BoardLibrary& library = link::ActiveBoardLibrary();
    std::vector<std::uint8_t> numbers;
    const std::int32_t searched = messages_.Hold([&] { return library.SearchForBoards(numbers); });
    if (searched != 0) Unreachable("no board at USB port " + path + ": " + Reason(messages_.Take(), searched));
    for (unsigned board = 0; board < numbers.size(); ++board) {
        // A board this process holds already is busy, and any other one is
        // not the board sought: both are passed over.
        const std::int32_t connected = messages_.Hold([&] { return library.ConnectBoard(numbers[board]); });
        messages_.Take();
        if (connected == 0 && AskPortPath(messages_) == path) {
            number_ = board;
            return;
        }
    }
    Unreachable("no board at USB port " + path + " — 'tarnelctl scan' lists the boards and their ports");
}

bool BoardConnection::FirmwareAnswers() {
    const FirmwareProbe probe = ProbeFirmware(messages_);
    if (!probe.absentReason.empty()) Unreachable(probe.absentReason);
    return probe.running;
}

void BoardConnection::LoadFirmware() {
    bool loaded = false;
    try {
        loaded = messages_.Hold([] { return link::LoadFirmwareIntoConnectedBoard(); });
    } catch (const RunTimeError& error) {
        if (USBStuff::FirmwarePath.size() < USBStuff::kPathBufferSize) throw;
        Unreachable(std::string(error.what()) + " — move tarnelctl and Brisan.hex to a folder with a shorter path");
    }
    if (!loaded) Unreachable("cannot load the firmware: " + Reason(messages_.Take(), Declare::LinkStatus));
    loadedFirmware_ = true;
}

std::uint32_t BoardConnection::Write(std::uint32_t data, protocol::PowerDown mode) {
    Access access(*this);
    Declare::DacWord = static_cast<std::int32_t>(data);
    Declare::PowerDownMode = static_cast<std::int16_t>(mode);
    const WriteOutcome outcome = access.Run([&] { return messages_.Hold([] { return EncodeAndSend(); }); });
    if (outcome != WriteOutcome::Written) FailTransfer("writing data word " + WordText(data) + " failed");
    return static_cast<std::uint32_t>(Declare::DacWord);
}

Reading BoardConnection::Read(unsigned count) {
    Access access(*this);
    Reading reading;
    double sum = 0;
    double sumOfSquares = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (!access.Run([&] { return messages_.Hold([] { return ReadOutputVoltage(); }); })) {
            FailTransfer("reading the output back failed");
        }
        const double code = Declare::AdcCode;
        sum += code;
        sumOfSquares += code * code;
        reading.min = i == 0 ? code : std::min(reading.min, code);
        reading.max = i == 0 ? code : std::max(reading.max, code);
    }
    reading.count = count;
    if (count == 0) return reading;
    reading.mean = sum / count;
    // The codes are whole numbers below 4096, so the sums are exact and the
    // variance cannot come out below 0 by rounding.
    reading.standardDeviation = std::sqrt(std::max(0.0, sumOfSquares / count - reading.mean * reading.mean));
    return reading;
}

bool BoardConnection::BoardGone() const { return LinkSaysBoardAbsent(lastStatus_); }

void BoardConnection::FailTransfer(const std::string& what) {
    throw CommandFailure(ExitStatus::TransferFailed, what + ": " + Reason(messages_.Take(), Declare::LinkStatus));
}

template <typename Survey>
ScanResult BoardConnection::ForEachBoard(LibraryChoice library, LibraryStderr& messages, Survey&& survey) {
    const auto held = LockBoardAccess();
    struct Unbind {
        ~Unbind() { link::SetActiveBoardLibrary(nullptr); }
    } unbind;
    ScanResult result;
    WithLibrary(library, [&] {
        Bind(library);
        link::BoardLibrary& bound = link::ActiveBoardLibrary();
        std::vector<std::uint8_t> numbers;
        const std::int32_t searched = messages.Hold([&] { return bound.SearchForBoards(numbers); });
        if (searched != 0) result.noBoardReason = Reason(messages.Take(), searched);
        for (unsigned board = 0; board < numbers.size(); ++board) {
            const std::int32_t connected = messages.Hold([&] { return bound.ConnectBoard(numbers[board]); });
            if (connected != 0) {
                result.boards.push_back({board, {}, false, false, Reason(messages.Take(), connected)});
                continue;
            }
            const ScannedBoard surveyed = survey(board);
            // A library that cannot list boards lists one whether or not it is there.
            const bool nobody = !bound.ListsBoards() && !surveyed.reachable &&
                                link::FailureKindOf(Declare::LinkStatus) == BoardAccessFailure::NoBoard;
            if (nobody) result.noBoardReason = surveyed.problem;
            else result.boards.push_back(surveyed);
        }
    });
    return result;
}

ScanResult BoardConnection::Scan(LibraryChoice library) {
    LibraryStderr messages;
    // One board, opened as a connection opens it, asked whether its firmware
    // answers and where it is plugged in.
    return ForEachBoard(library, messages, [&](unsigned board) {
        const FirmwareProbe probe = ProbeFirmware(messages);
        const bool reachable = probe.absentReason.empty();
        return ScannedBoard{board, reachable ? AskPortPath(messages) : std::string(), reachable, probe.running,
                            probe.absentReason};
    });
}

std::uint8_t BoardConnection::NumberOfBoardAt(LibraryChoice library, const std::string& path) {
    LibraryStderr messages;
    const ScanResult listed = ForEachBoard(library, messages, [&](unsigned board) {
        return ScannedBoard{board, AskPortPath(messages), true, false, {}};
    });
    for (const ScannedBoard& board : listed.boards) {
        if (board.path == path) return static_cast<std::uint8_t>(board.board);
    }
    Unreachable("no board at USB port " + path + " — 'tarnelctl scan' lists the boards and their ports");
}

std::vector<OpenedBoard> BoardConnection::OpenEach(LibraryChoice library, bool reload,
                                                   const std::function<bool(const std::string& path)>& wanted) {
    const auto held = LockBoardAccess();
    LibraryStderr messages;
    std::vector<OpenedBoard> opened;
    std::vector<std::uint8_t> numbers;
    WithLibrary(library, [&] {
        Bind(library);
        const std::int32_t searched =
            messages.Hold([&] { return link::ActiveBoardLibrary().SearchForBoards(numbers); });
        if (searched != 0) Unreachable(Reason(messages.Take(), searched));
    });
    for (unsigned board = 0; board < numbers.size(); ++board) {
        OpenedBoard found;
        found.board = board;
        const std::int32_t connected = WithLibrary(library, [&] {
            Bind(library);
            return messages.Hold([&] { return link::ActiveBoardLibrary().ConnectBoard(numbers[board]); });
        });
        if (connected != 0) {
            found.problem = Reason(messages.Take(), connected);
            opened.push_back(std::move(found));
            continue;
        }
        found.path = AskPortPath(messages);
        if (!wanted(found.path)) continue;
        try {
            found.connection.reset(new BoardConnection(library, board, Adopt{}));
            found.connection->Start(reload);
        } catch (const CommandFailure& failure) {
            found.connection.reset();
            found.problem = failure.what();
        }
        opened.push_back(std::move(found));
    }
    return opened;
}

}  // namespace tarnel::cli
