#include "scpi/client/instrument.h"

#include <cstdlib>

#include "scpi/client/instrument_failure.h"

namespace tarnel::scpi::client {

namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An error queue entry "<code>,\"<text>\"" whose code is 0 means no error.
bool IsNoError(const std::string& entry) {
    char* end = nullptr;
    const long code = std::strtol(entry.c_str(), &end, 10);
    return end != entry.c_str() && code == 0;
}

}  // namespace

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

std::vector<std::string> Instrument::ReadErrorQueue(std::chrono::milliseconds timeout) {
    std::vector<std::string> errors;
    for (int i = 0; i < kMostErrors; ++i) {
        std::string entry = Trimmed(Query("SYST:ERR?", timeout));
        if (IsNoError(entry)) break;
        errors.push_back(std::move(entry));
    }
    return errors;
}

}  // namespace tarnel::scpi::client
