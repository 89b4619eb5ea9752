#include "scpi/lan_announcer.h"

#include "announcer_thread.h"

namespace tarnel::scpi {

namespace {

const std::string kVxi11HostKey = "vxi-11 host";

std::string BoardKey(const std::string& usbPath) {
    return "board " + usbPath;
}

}  // namespace

LanAnnouncer::LanAnnouncer(LanLog log, LanHostFacts host)
    : thread_(std::make_unique<Thread>(std::move(log), std::move(host.hostName))),
      vxi11HostTxt_(InstrumentTxtRecords(host.vxi11Host)) {}

LanAnnouncer::~LanAnnouncer() = default;

void LanAnnouncer::AnnounceBoard(const std::string& usbPath, std::uint16_t rawPort, const InstrumentFacts& facts) {
    if (usbPath.empty() || rawPort == 0) {
        if (thread_->Log()) {
            thread_->Log()(LanLogLevel::Warning,
                           "mDNS: a board needs its USB port path and its raw port to be announced (got \"" +
                               usbPath + "\", port " + std::to_string(rawPort) + "); not announced");
        }
        return;
    }
    thread_->Want(BoardKey(usbPath),
                  WantedService{WantedService::Kind::Board, usbPath, rawPort, InstrumentTxtRecords(facts)});
}

void LanAnnouncer::WithdrawBoard(const std::string& usbPath) {
    thread_->Unwant(BoardKey(usbPath));
}

void LanAnnouncer::AnnounceVxi11Host() {
    thread_->Want(kVxi11HostKey, WantedService{WantedService::Kind::Vxi11Host, {},
                                               static_cast<std::uint16_t>(kVxi11PortMapperPort), vxi11HostTxt_});
}

void LanAnnouncer::WithdrawVxi11Host() {
    thread_->Unwant(kVxi11HostKey);
}

}  // namespace tarnel::scpi
