#include "serve/serve.h"

#include <algorithm>
#include <csignal>
#include <memory>

#include <tarnel/board_protocol.h>

#include "output/stderr_lines.h"
#include "scpi/board_commands.h"
#include "scpi/raw_socket_server.h"
#include "scpi/served_instrument.h"
#include "scpi/shutdown_signals.h"
#include "serve/board_instrument.h"

namespace tarnel::cli {

namespace {

constexpr std::uint64_t kMostClients = 256;

void Log(const std::string& line) { PrintStderrLine("tarnelctl: " + line); }

scpi::access::AllowList AllowIn(const std::string& text) {
    try {
        return scpi::access::ParseAllowList(text);
    } catch (const scpi::access::AllowListError& error) {
        Usage(std::string("--allow: ") + error.what());
    }
}

}  // namespace

ExitStatus Serve(const GlobalOptions& options, const ServeCommand& command) {
    // A client that leaves while its reply is written must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    // Caught from here on: a signal during the firmware load stops the server
    // as soon as it listens.
    const scpi::ShutdownSignals stopSignals;

    scpi::InstrumentSetup setup;
    setup.boardNumber = options.board;
    setup.version = TARNEL_CLI_VERSION;
    setup.ceilingVolts = std::min(options.vmax.value_or(protocol::kFullScaleVolts), protocol::kFullScaleVolts);
    setup.reopen = BoardInstrument::Reopener(options.library, options.board);
    setup.log = Log;
    auto board = std::make_unique<BoardInstrument>(options.library, options.board, options.reload);
    // Declared in this order, the server goes first, then the instrument that
    // runs the commands, then the board they reach.
    scpi::Instrument instrument(std::move(board), std::move(setup));
    scpi::ServedInstrument served(scpi::BoardCommands(instrument), scpi::DispatchMode::OneAtATime);
    scpi::ServerSettings settings;
    settings.address = command.listen;
    settings.maxClients = command.maxClients;
    settings.maxClientsOption = "--max-clients";
    settings.log = Log;
    settings.notifiesServiceManager = true;
    scpi::RawSocketServer server(served, std::move(settings));
    if (const auto failure = server.Listen()) {
        throw CommandFailure(ExitStatus::Failed, *failure + " — pick another address or port with --listen");
    }
    Log("board " + std::to_string(options.board) + " serves SCPI on " + server.ListeningOn().Text());
    stopSignals.Wait();
    server.Stop();
    return ExitStatus::Done;
}

ServeCommand ParseServeCommand(const OptionReader& args, const GlobalOptions& options) {
    args.ExpectWords(0, "");
    if (options.json) Usage("serve answers its clients and prints nothing on stdout; leave out --json");
    ServeCommand serve;
    if (const std::string* listen = args.Find("--listen")) {
        const auto address = scpi::ParseListenAddress(*listen);
        if (!address) {
            Usage("--listen needs an address and a port such as 127.0.0.1:5025, 0.0.0.0:5025 or [::1]:5025, not " +
                  Quoted(*listen));
        }
        serve.listen = *address;
    }
    if (const std::string* clients = args.Find("--max-clients")) {
        serve.maxClients = static_cast<unsigned>(CountIn("--max-clients", *clients, 1, kMostClients));
    }
    if (const std::string* allow = args.Find("--allow")) serve.allow = AllowIn(*allow);
    return serve;
}

void RunServeCommand(const GlobalOptions& options, const ServeCommand& command) { Serve(options, command); }

}  // namespace tarnel::cli
