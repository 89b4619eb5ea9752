// A SCPI instrument on whatever connection its resource names: the
// connection opened, the messages it needs first sent, then messages out and
// replies in, each reply waited for with a deadline.
//
// Until the instrument has answered once, a reply that does not come means it
// was never reached: such a timeout is reported as Unreachable, so that a
// serial port or GPIB address where nothing answers is told apart from a
// meter that stops answering in the middle of a run.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scpi/client/connection_options.h"
#include "scpi/client/instrument_resource.h"
#include "scpi/client/transport.h"

namespace tarnel::scpi::client {

class Instrument {
public:
    // Opens the connection within openTimeout. Where the connection needs
    // messages first (SYST:REM on RS-232), they are sent, then *CLS, so that
    // an instrument that did not know one of them holds no error for it.
    // Throws InstrumentFailure.
    Instrument(const InstrumentResource& resource, const ConnectionOptions& options,
               std::chrono::milliseconds openTimeout);
    // For a transport opened elsewhere (tests, benchmarks).
    explicit Instrument(std::unique_ptr<Transport> transport);

    void Write(std::string_view message);
    // The next reply; `query` names what was asked in the message of a timeout.
    std::string Read(std::chrono::milliseconds timeout, std::string_view query);
    // Write(query), then Read.
    std::string Query(std::string_view query, std::chrono::milliseconds timeout);
    void Clear();
    // Reads SYST:ERR? until the meter says "no error" (an entry whose code is
    // 0); the entries before it, trimmed. At most kMostErrors are read: more
    // is an instrument that never says "no error".
    std::vector<std::string> ReadErrorQueue(std::chrono::milliseconds timeout);
    static constexpr int kMostErrors = 32;

    // The resource as messages name it, and the connection's facts for a report.
    std::string Describe() const { return transport_->Describe(); }
    std::vector<std::pair<std::string, std::string>> Details() const { return transport_->Details(); }
    Transport& Connection() { return *transport_; }

private:
    std::unique_ptr<Transport> transport_;
    bool answered_ = false;
};

}  // namespace tarnel::scpi::client
