#include "serve/served_boards.h"

#include <utility>

#include "scpi/instrument.h"

namespace tarnel::cli {

ServedBoards::ServedBoards(Vxi11Front& vxi11, scpi::LanAnnouncer* announcer,
                           std::function<void(const std::string&)> log)
    : vxi11_(vxi11), announcer_(announcer), log_(std::move(log)) {}

ServedBoards::~ServedBoards() { Stop(); }

std::optional<std::string> ServedBoards::Add(std::unique_ptr<BoardService> service) {
    if (auto failure = service->Listen()) return failure;
    const std::lock_guard lock(mutex_);
    services_.push_back(std::move(service));
    return std::nullopt;
}

std::optional<std::string> ServedBoards::ServeOnVxi11() {
    const std::lock_guard lock(mutex_);
    if (onVxi11_ == services_.size()) return std::nullopt;
    // Per new board: why it is not on VXI-11, or nothing.
    std::vector<std::optional<std::string>> notOnVxi11(services_.size() - onVxi11_);
    std::optional<std::string> failure;
    if (vxi11_.Serving()) {
        for (std::size_t i = onVxi11_; i < services_.size(); ++i) {
            notOnVxi11[i - onVxi11_] = vxi11_.Add({services_[i]->DeviceNames(), &services_[i]->Device()});
        }
    } else {
        std::vector<vxi11::Vxi11DeviceEntry> devices;
        for (const auto& service : services_) devices.push_back({service->DeviceNames(), &service->Device()});
        failure = vxi11_.Serve(std::move(devices));
    }
    for (std::size_t i = onVxi11_; i < services_.size(); ++i) {
        BoardService& service = *services_[i];
        const ServedBoard& plan = service.Plan();
        std::string line = "board " + plan.portPath + " (board " + std::to_string(service.BoardNumber()) +
                           ") serves SCPI on " + service.RawAddress().Text();
        const std::optional<std::string>& refused = notOnVxi11[i - onVxi11_];
        if (refused) line += "; not on VXI-11: " + *refused + " — give it another name in the configuration file";
        else if (!failure) line += ", VXI-11 device " + plan.deviceName + " or " + plan.portPath;
        log_(line);
        if (announcer_) {
            announcer_->AnnounceBoard(plan.portPath, service.RawAddress().port,
                                      {scpi::kInstrumentMaker, scpi::kInstrumentModel, plan.portPath, TARNEL_CLI_VERSION});
        }
    }
    onVxi11_ = failure ? 0 : services_.size();
    if (!failure && announcer_ && !vxi11Announced_) {
        announcer_->AnnounceVxi11Host();
        vxi11Announced_ = true;
    }
    if (failure) return "VXI-11: " + *failure;
    return std::nullopt;
}

bool ServedBoards::Serves(const std::string& portPath) const {
    const std::lock_guard lock(mutex_);
    for (const auto& service : services_) {
        if (service->Plan().portPath == portPath) return true;
    }
    return false;
}

std::vector<ServedBoard> ServedBoards::Plans() const {
    const std::lock_guard lock(mutex_);
    std::vector<ServedBoard> plans;
    for (const auto& service : services_) plans.push_back(service->Plan());
    return plans;
}

bool ServedBoards::Empty() const {
    const std::lock_guard lock(mutex_);
    return services_.empty();
}

void ServedBoards::Stop() {
    const std::lock_guard lock(mutex_);
    if (announcer_) {
        for (const auto& service : services_) announcer_->WithdrawBoard(service->Plan().portPath);
        if (vxi11Announced_) announcer_->WithdrawVxi11Host();
        vxi11Announced_ = false;
    }
    vxi11_.Stop();
    for (const auto& service : services_) service->Stop();
    services_.clear();
    onVxi11_ = 0;
}

}  // namespace tarnel::cli
