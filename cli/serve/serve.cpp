#include "serve/serve.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <set>

#include <tarnel/board_protocol.h>

#include "board/attached_boards.h"
#include "board/board_connection.h"
#include "output/stderr_lines.h"
#include "scpi/access/admission.h"
#include "scpi/access/host_networks.h"
#include "scpi/instrument.h"
#include "scpi/lan_announcer.h"
#include "scpi/shutdown_signals.h"
#include "serve/board_instrument.h"
#include "serve/board_service.h"
#include "serve/board_watch.h"
#include "serve/served_boards.h"
#include "serve/serve_config.h"
#include "serve/vxi11_front.h"

namespace tarnel::cli {

namespace {

constexpr std::uint64_t kMostClients = 256;
constexpr std::chrono::seconds kBoardWatchInterval{2};

void Log(const std::string& line) { PrintStderrLine("tarnelctl: " + line); }

scpi::access::AllowList AllowIn(const std::string& text) {
    try {
        return scpi::access::ParseAllowList(text);
    } catch (const scpi::access::AllowListError& error) {
        Usage(std::string("--allow: ") + error.what());
    }
}

// The plan in the configuration file, or none without the file; a bad line exits 2.
std::optional<ServePlan> ConfiguredPlan(const std::string& fileName) {
    try {
        return ReadServeConfig(fileName);
    } catch (const ServeConfigError& error) {
        throw CommandFailure(ExitStatus::Usage, error.what());
    }
}

// Whom every server admits: --allow, else the file's allow line, else (when
// listening beyond loopback) the host's own networks; one line says which.
// Nothing: everyone, who can only be on the host itself.
scpi::access::AdmissionCheck Admission(const ServeCommand& command, const std::optional<ServePlan>& file,
                                       const std::string& fileName) {
    std::optional<scpi::access::AllowList> list = command.allow;
    std::string setting = "--allow";
    if (!list && file && file->allow) {
        list = file->allow;
        setting = "the allow line of " + fileName;
    }
    const bool loopbackOnly = scpi::access::ListensOnLoopbackOnly(command.listen.host);
    if (!list && loopbackOnly) return {};
    const bool hostDefault = !list;
    if (hostDefault) {
        try {
            list = scpi::access::HostNetworksAllowList();
        } catch (const scpi::access::AllowListError& error) {
            throw CommandFailure(ExitStatus::Failed, std::string(error.what()) + " — give the clients' networks with --allow");
        }
    }
    Log(scpi::access::AdmissionLine(*list, setting, hostDefault));
    return scpi::access::MakeAdmissionCheck(*list, setting);
}

BoardServiceSettings ServiceSettings(const GlobalOptions& options, const ServeCommand& command,
                                     scpi::access::AdmissionCheck admit) {
    BoardServiceSettings settings;
    settings.host = command.listen.host;
    settings.maxClients = command.maxClients;
    settings.admit = std::move(admit);
    settings.log = Log;
    settings.version = TARNEL_CLI_VERSION;
    settings.ceilingVolts = std::min(options.vmax.value_or(protocol::kFullScaleVolts), protocol::kFullScaleVolts);
    return settings;
}

void AddOrFail(ServedBoards& boards, std::unique_ptr<BoardService> service, const std::string& fix) {
    if (const auto failure = boards.Add(std::move(service))) throw CommandFailure(ExitStatus::Failed, *failure + fix);
}

// The one board --board names (or the older library's one board), on --listen.
void AddChosenBoard(ServedBoards& boards, const GlobalOptions& options, const ServeCommand& command,
                    BoardServiceSettings settings) {
    auto connection = options.boardPath
                          ? std::make_unique<BoardConnection>(options.library, *options.boardPath, options.reload)
                          : std::make_unique<BoardConnection>(options.library, options.board, options.reload);
    const unsigned number = connection->Number();
    ServedBoard plan{connection->PortPath(), command.listen.port, "inst0"};
    if (plan.portPath.empty()) plan.portPath = "board" + std::to_string(number);
    scpi::BoardOpener reopen = options.boardPath ? BoardInstrument::ReopenerAt(options.library, *options.boardPath)
                                                 : BoardInstrument::Reopener(options.library, options.board);
    settings.notifiesServiceManager = true;
    AddOrFail(boards,
              std::make_unique<BoardService>(plan, number, std::make_unique<BoardInstrument>(std::move(connection)),
                                             std::move(reopen), settings),
              " — pick another address or port with --listen");
}

// Every board of the plan: the file's lines, or the boards attached.
void AddPlannedBoards(ServedBoards& boards, const GlobalOptions& options, const ServeCommand& command,
                      const std::optional<ServePlan>& file, const std::string& fileName,
                      const BoardServiceSettings& settings) {
    const bool planned = file && !file->boards.empty();
    std::set<std::string> inFile;
    if (planned) {
        for (const ServedBoard& board : file->boards) inFile.insert(board.portPath);
    }
    std::vector<OpenedBoard> opened;
    try {
        opened = BoardConnection::OpenEach(options.library, options.reload, [&](const std::string& path) {
            return !path.empty() && (!planned || inFile.contains(path));
        });
    } catch (const CommandFailure& failure) {
        // The file's boards are served while none is attached, as boards to come.
        if (!planned) throw;
        Log(std::string(failure.what()) + "; the boards of " + fileName + " are served as they arrive");
    }
    std::vector<std::string> paths;
    for (OpenedBoard& board : opened) {
        if (!board.connection) {
            Log("board " + std::to_string(board.board) + (board.path.empty() ? "" : " at " + board.path) +
                " cannot be opened: " + board.problem);
        } else {
            paths.push_back(board.path);
        }
    }
    const ServePlan plan = planned ? *file : [&] {
        try {
            return DefaultServePlan(paths, command.listen);
        } catch (const ServeConfigError& error) {
            throw CommandFailure(ExitStatus::Usage, error.what());
        }
    }();
    if (plan.boards.empty()) {
        throw CommandFailure(ExitStatus::Unreachable,
                             "no board can be served — 'tarnelctl scan' lists the boards and why they cannot be opened");
    }
    const std::string fix = planned ? " — pick another port for it in " + fileName
                                    : " — pick another address or port with --listen, or plan the ports in " + fileName;
    for (std::size_t i = 0; i < plan.boards.size(); ++i) {
        const ServedBoard& entry = plan.boards[i];
        const auto found = std::find_if(opened.begin(), opened.end(),
                                        [&](const OpenedBoard& board) { return board.path == entry.portPath && board.connection; });
        std::unique_ptr<scpi::Board> board;
        auto number = static_cast<unsigned>(i);
        if (found != opened.end()) {
            number = found->board;
            board = std::make_unique<BoardInstrument>(std::move(found->connection));
        } else {
            Log("board " + entry.portPath + " is not attached; its commands answer -241 until it is");
        }
        BoardServiceSettings mine = settings;
        mine.notifiesServiceManager = i == 0;
        AddOrFail(boards,
                  std::make_unique<BoardService>(entry, number, std::move(board),
                                                 BoardInstrument::ReopenerAt(options.library, entry.portPath), mine),
                  fix);
    }
}

std::optional<std::set<std::string>> ListAttachedBoards() {
    std::string error;
    auto paths = AttachedBoardPaths(error);
    if (!paths) Log(error);
    return paths;
}

// A board at a port path not served yet: its planned port (a file without
// a line for it: not served), or the next free default port and name.
void ServeArrival(ServedBoards& boards, const GlobalOptions& options, const ServeCommand& command,
                  const std::optional<ServePlan>& file, const std::string& fileName,
                  const BoardServiceSettings& settings, const std::string& path) {
    if (boards.Serves(path)) return;
    std::optional<ServedBoard> plan;
    if (file && !file->boards.empty()) {
        Log("board " + path + " arrived; it is not served, as " + fileName + " has no line for it");
        return;
    }
    plan = PlanForArrival(boards.Plans(), path, command.listen);
    if (!plan) {
        Log("board " + path + " arrived; no port is left for it after " + std::to_string(command.listen.port) +
            " — plan its port in " + fileName);
        return;
    }
    std::unique_ptr<BoardConnection> connection;
    try {
        connection = std::make_unique<BoardConnection>(options.library, path, options.reload);
    } catch (const CommandFailure& failure) {
        Log("board " + path + " arrived but cannot be opened: " + failure.what());
        return;
    }
    const unsigned number = connection->Number();
    auto service = std::make_unique<BoardService>(*plan, number, std::make_unique<BoardInstrument>(std::move(connection)),
                                                  BoardInstrument::ReopenerAt(options.library, path), settings);
    if (const auto failure = boards.Add(std::move(service))) {
        Log("board " + path + " arrived but " + *failure + " — plan its port in " + fileName);
        return;
    }
    if (const auto failure = boards.ServeOnVxi11()) Log(*failure);
}

}  // namespace

ExitStatus Serve(const GlobalOptions& options, const ServeCommand& command) {
    // A client that leaves while its reply is written must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    // Caught from here on: a signal during the firmware load stops the server
    // as soon as it listens.
    const scpi::ShutdownSignals stopSignals;

    const std::string fileName = command.config.value_or(std::string(kServeConfigFile));
    const std::optional<ServePlan> file = ConfiguredPlan(fileName);
    const BoardServiceSettings settings = ServiceSettings(options, command, Admission(command, file, fileName));

    vxi11::Vxi11Settings vxi11Settings;
    vxi11Settings.host = command.listen.host;
    vxi11Settings.admit = settings.admit;
    vxi11Settings.log = Log;
    Vxi11Front vxi11(std::move(vxi11Settings));
    // Announced only where clients beyond the host can reach the boards.
    std::unique_ptr<scpi::LanAnnouncer> announcer;
    if (!scpi::access::ListensOnLoopbackOnly(command.listen.host)) {
        announcer = std::make_unique<scpi::LanAnnouncer>(
            [](scpi::LanLogLevel, const std::string& line) { Log(line); },
            scpi::LanHostFacts{{}, {scpi::kInstrumentMaker, scpi::kInstrumentModel, {}, TARNEL_CLI_VERSION}});
    }
    ServedBoards boards(vxi11, announcer.get(), Log);

    const bool oneBoard = options.boardChosen || options.library == LibraryChoice::Older;
    if (!options.boardChosen && options.library == LibraryChoice::Older) {
        Log("the older library reaches one board: serving board 0 only — use --library newer to serve every board");
    }
    if (oneBoard) AddChosenBoard(boards, options, command, settings);
    else AddPlannedBoards(boards, options, command, file, fileName, settings);
    if (const auto failure = boards.ServeOnVxi11()) Log(*failure + "; the boards are served on their raw ports only");

    std::optional<BoardWatch> watch;
    if (!oneBoard) {
        std::string ignored;
        watch.emplace(ListAttachedBoards,
                      [&](const std::string& path) { ServeArrival(boards, options, command, file, fileName, settings, path); },
                      kBoardWatchInterval, AttachedBoardPaths(ignored).value_or(std::set<std::string>{}));
    }
    stopSignals.Wait();
    watch.reset();
    boards.Stop();
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
    if (const std::string* config = args.Find("--config")) {
        if (config->empty()) Usage("--config needs a file such as /etc/tarnel/scpi.conf");
        serve.config = *config;
    }
    return serve;
}

void RunServeCommand(const GlobalOptions& options, const ServeCommand& command) { Serve(options, command); }

}  // namespace tarnel::cli
