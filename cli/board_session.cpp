#include "cli/board_session.h"

#include <tarnel/board_access_status.h>

#include "cli/command_failure.h"
#include "cli/number_text.h"
#include "core/encode_and_send.h"
#include "core/read_voltage.h"
#include "link/comms_functions.h"
#include "link/library_failure.h"
#include "link/newer_library_binding.h"
#include "link/older_library_binding.h"
#include "link/usb_stuff.h"
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

link::BoardLibrary& Bind(LibraryChoice library) {
    link::BoardLibrary& binding = library == LibraryChoice::Newer ? static_cast<link::BoardLibrary&>(NewerBinding())
                                                                  : OlderBinding();
    link::SetActiveBoardLibrary(&binding);
    return binding;
}

// The library's own line, or a plain one when it said nothing.
std::string Reason(std::string libraryLine, std::int32_t status) {
    if (!libraryLine.empty()) return libraryLine;
    return "the board-access library reports status " + std::to_string(status) + " — check the USB cable";
}

// A failure to reach the board at all: nobody there, no permission, the board gone.
bool BoardAbsent(BoardAccessFailure kind) {
    return kind == BoardAccessFailure::NoBoard || kind == BoardAccessFailure::AccessDenied ||
           kind == BoardAccessFailure::Disconnected;
}

[[noreturn]] void Unreachable(const std::string& message) { throw CommandFailure(ExitStatus::Unreachable, message); }

// Runs body; a board-access library that cannot be loaded (or lacks an entry
// point) makes the board unreachable.
template <typename Body>
auto WithLibrary(LibraryChoice library, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const RunTimeError& error) {
        Unreachable(std::string(error.what()) +
                    (library == LibraryChoice::Newer ? " — install the board-access libraries (make install)"
                                                     : " — put libToveri.so beside tarnelctl (make install)"));
    }
}

}  // namespace

BoardSession::BoardSession(LibraryChoice library, std::uint8_t board, bool reload) : library_(library) {
    Declare::WordLength = protocol::kDacRegisterLength;
    Declare::Resolution = protocol::kDacResolutionBits;
    WithLibrary(library_, [&] {
        Bind(library_);
        Open(board);
        if (reload || !FirmwareAnswers()) LoadFirmware();
    });
}

BoardSession::~BoardSession() { link::SetActiveBoardLibrary(nullptr); }

void BoardSession::Open(std::uint8_t board) {
    if (library_ == LibraryChoice::Older) {
        // The older library opens its one board at the first request.
        if (board != 0) {
            throw CommandFailure(ExitStatus::Usage,
                                 "the older library reaches board 0 only — use --library newer for board " +
                                     std::to_string(board));
        }
        return;
    }
    std::vector<std::uint8_t> numbers;
    const std::int32_t searched = messages_.Hold([&] { return NewerBinding().SearchForBoards(numbers); });
    if (searched != 0) Unreachable(Reason(messages_.Take(), searched));
    if (board >= numbers.size()) {
        Unreachable("there is no board " + std::to_string(board) + "; " + std::to_string(numbers.size()) +
                    " board(s) attached — pick a board that 'tarnelctl scan' lists");
    }
    const std::int32_t connected = messages_.Hold([&] { return NewerBinding().ConnectBoard(numbers[board]); });
    if (connected != 0) Unreachable(Reason(messages_.Take(), connected));
}

bool BoardSession::FirmwareAnswers() {
    // A board without firmware refuses the read-back; that refusal is the
    // answer sought here, so its library line is dropped.
    if (messages_.Hold([] { return CommsFunctions::ReadConverter().has_value(); })) return true;
    const std::string line = messages_.Take();
    if (BoardAbsent(link::FailureKindOf(Declare::LinkStatus))) Unreachable(Reason(line, Declare::LinkStatus));
    return false;
}

void BoardSession::LoadFirmware() {
    try {
        USBStuff::PrepareFirmwarePath();
    } catch (const RunTimeError& error) {
        Unreachable(std::string(error.what()) + " — move tarnelctl and Brisan.hex to a folder with a shorter path");
    }
    link::BoardLibrary& library = link::ActiveBoardLibrary();
    const std::int16_t status = messages_.Hold([&] {
        return library_ == LibraryChoice::Newer ? NewerBinding().DownloadFirmware() : library.LoadFirmware();
    });
    Declare::LinkStatus = status;
    if (!library.FirmwareLoaded(status)) Unreachable("cannot load the firmware: " + Reason(messages_.Take(), status));
    loadedFirmware_ = true;
}

std::uint32_t BoardSession::Write(std::uint32_t data, protocol::PowerDown mode) {
    Declare::DacWord = static_cast<std::int32_t>(data);
    Declare::PowerDownMode = static_cast<std::int16_t>(mode);
    const WriteOutcome outcome = WithLibrary(library_, [&] { return messages_.Hold([] { return EncodeAndSend(); }); });
    if (outcome != WriteOutcome::Written) FailTransfer("writing data word " + WordText(data) + " failed");
    return static_cast<std::uint32_t>(Declare::DacWord);
}

double BoardSession::Read(unsigned count) {
    double sum = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (!WithLibrary(library_, [&] { return messages_.Hold([] { return ReadOutputVoltage(); }); })) {
            FailTransfer("reading the output back failed");
        }
        sum += Declare::AdcCode;
    }
    return sum / count;
}

bool BoardSession::BoardGone() const { return BoardAbsent(link::FailureKindOf(Declare::LinkStatus)); }

void BoardSession::FailTransfer(const std::string& what) {
    throw CommandFailure(ExitStatus::TransferFailed, what + ": " + Reason(messages_.Take(), Declare::LinkStatus));
}

ScanResult BoardSession::Scan(LibraryChoice library) {
    struct Unbind {
        ~Unbind() { link::SetActiveBoardLibrary(nullptr); }
    } unbind;
    LibraryMessages messages;
    ScanResult result;
    // One board, opened as a session opens it, asked whether its firmware answers.
    const auto survey = [&](unsigned board) {
        ScannedBoard scanned{board, true, false, {}};
        scanned.firmwareRunning = messages.Hold([] { return CommsFunctions::ReadConverter().has_value(); });
        const std::string line = messages.Take();
        if (!scanned.firmwareRunning && BoardAbsent(link::FailureKindOf(Declare::LinkStatus))) {
            scanned.reachable = false;
            scanned.problem = Reason(line, Declare::LinkStatus);
        }
        return scanned;
    };
    WithLibrary(library, [&] {
        Bind(library);
        if (library == LibraryChoice::Older) {
            const ScannedBoard only = survey(0);
            const bool nobody = !only.reachable && link::FailureKindOf(Declare::LinkStatus) == BoardAccessFailure::NoBoard;
            if (nobody) result.noBoardReason = only.problem;
            else result.boards.push_back(only);
            return;
        }
        std::vector<std::uint8_t> numbers;
        const std::int32_t searched = messages.Hold([&] { return NewerBinding().SearchForBoards(numbers); });
        if (searched != 0) result.noBoardReason = Reason(messages.Take(), searched);
        for (unsigned board = 0; board < numbers.size(); ++board) {
            const std::int32_t connected = messages.Hold([&] { return NewerBinding().ConnectBoard(numbers[board]); });
            if (connected == 0) {
                result.boards.push_back(survey(board));
            } else {
                result.boards.push_back({board, false, false, Reason(messages.Take(), connected)});
            }
        }
    });
    return result;
}

}  // namespace tarnel::cli
