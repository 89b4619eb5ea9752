// One board as tarnelctl serve serves it: its instrument (the settings its
// clients share), the raw SCPI socket on its own port, and the VXI-11 device
// that the host's VXI-11 server reaches by the board's device name and port
// path. Raw clients and VXI-11 links are clients of the same instrument,
// their messages run one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scpi/access/admission.h"
#include "scpi/board.h"
#include "scpi/instrument.h"
#include "scpi/raw_socket_server.h"
#include "scpi/served_instrument.h"
#include "serve/serve_config.h"
#include "vxi11/served_instrument_device.h"

namespace tarnel::cli {

struct BoardServiceSettings {
    std::string host;                                  // the address every board listens on
    unsigned maxClients = scpi::kDefaultMaxClients;    // raw clients at once, on each board
    scpi::access::AdmissionCheck admit;                // empty: every client
    std::function<void(const std::string&)> log;
    std::string version;                               // for *IDN?
    double ceilingVolts = 0;
    bool notifiesServiceManager = false;               // the program's first board only
};

class BoardService {
public:
    // board: opened already, or none while it is not attached (its commands
    // answer -241 until reopen finds it). boardNumber goes into *IDN?.
    BoardService(ServedBoard plan, unsigned boardNumber, std::unique_ptr<scpi::Board> board,
                 scpi::BoardOpener reopen, const BoardServiceSettings& settings);
    BoardService(const BoardService&) = delete;
    BoardService& operator=(const BoardService&) = delete;

    // Starts the raw socket; "cannot listen on ADDRESS: REASON" when it cannot.
    std::optional<std::string> Listen();
    // Closes the raw socket and its clients. The VXI-11 server that reaches
    // Device() must have stopped first.
    void Stop();

    const ServedBoard& Plan() const { return plan_; }
    unsigned BoardNumber() const { return boardNumber_; }
    // The raw socket's address, with the port the system picked.
    const scpi::ListenAddress& RawAddress() const { return raw_.ListeningOn(); }
    // The names a VXI-11 link reaches it by: its device name, then its port path.
    std::vector<std::string> DeviceNames() const;
    vxi11::Vxi11Device& Device() { return device_; }

private:
    ServedBoard plan_;
    unsigned boardNumber_;
    scpi::Instrument instrument_;
    scpi::ServedInstrument served_;
    vxi11::ServedInstrumentDevice device_;
    scpi::RawSocketServer raw_;   // last: goes first
};

}  // namespace tarnel::cli
