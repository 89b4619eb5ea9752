#include "scpi/client/instrument.h"

#include "scpi/client/instrument_failure.h"

namespace tarnel::scpi::client {

Instrument::Instrument(const InstrumentResource& resource, const ConnectionOptions& options,
                       std::chrono::milliseconds openTimeout)
    : transport_(OpenTransport(resource, options, openTimeout)) {
    const std::vector<std::string> first = transport_->OpeningMessages();
    for (const std::string& message : first) transport_->Send(message);
    if (!first.empty()) transport_->Send("*CLS");
}

Instrument::Instrument(std::unique_ptr<Transport> transport) : transport_(std::move(transport)) {}

void Instrument::Write(std::string_view message) { transport_->Send(message); }

std::string Instrument::Read(std::chrono::milliseconds timeout, std::string_view query) {
    try {
        std::string reply = transport_->Receive(timeout, query);
        answered_ = true;
        return reply;
    } catch (const InstrumentFailure& failure) {
        if (!answered_ && failure.Kind() == FailureKind::Timeout) {
            throw InstrumentFailure(FailureKind::Unreachable, failure.what());
        }
        throw;
    }
}

std::string Instrument::Query(std::string_view query, std::chrono::milliseconds timeout) {
    Write(query);
    return Read(timeout, query);
}

void Instrument::Clear() { transport_->Clear(); }

}  // namespace tarnel::scpi::client
