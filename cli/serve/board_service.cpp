#include "serve/board_service.h"

#include <utility>

#include "scpi/board_commands.h"

namespace tarnel::cli {

namespace {

scpi::InstrumentSetup SetupOf(const ServedBoard& plan, unsigned boardNumber, scpi::BoardOpener reopen,
                              const BoardServiceSettings& settings) {
    scpi::InstrumentSetup setup;
    setup.boardNumber = boardNumber;
    setup.name = "board " + plan.portPath;
    setup.version = settings.version;
    setup.ceilingVolts = settings.ceilingVolts;
    setup.reopen = std::move(reopen);
    setup.log = settings.log;
    return setup;
}

scpi::ServerSettings RawSettingsOf(const ServedBoard& plan, const BoardServiceSettings& settings) {
    scpi::ServerSettings raw;
    raw.address = {settings.host, plan.rawPort};
    raw.maxClients = settings.maxClients;
    raw.maxClientsOption = "--max-clients";
    raw.log = settings.log;
    raw.admit = settings.admit;
    raw.notifiesServiceManager = settings.notifiesServiceManager;
    return raw;
}

}  // namespace

BoardService::BoardService(ServedBoard plan, unsigned boardNumber, std::unique_ptr<scpi::Board> board,
                           scpi::BoardOpener reopen, const BoardServiceSettings& settings)
    : plan_(std::move(plan)),
      boardNumber_(boardNumber),
      instrument_(std::move(board), SetupOf(plan_, boardNumber, std::move(reopen), settings)),
      served_(scpi::BoardCommands(instrument_), scpi::DispatchMode::OneAtATime),
      device_(served_),
      raw_(served_, RawSettingsOf(plan_, settings)) {}

std::optional<std::string> BoardService::Listen() { return raw_.Listen(); }

void BoardService::Stop() { raw_.Stop(); }

std::vector<std::string> BoardService::DeviceNames() const {
    std::vector<std::string> names{plan_.deviceName};
    if (!plan_.portPath.empty() && plan_.portPath != plan_.deviceName) names.push_back(plan_.portPath);
    return names;
}

}  // namespace tarnel::cli
