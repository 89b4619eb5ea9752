// One TCP connection to a SCPI instrument on its raw socket port: lines out
// with a line feed, lines in up to a line feed (a CR before it is dropped),
// each wait bounded. Connecting fails with CommandFailure(Unreachable), naming
// HOST:PORT and the fix; once connected, every failure (no answer in time,
// the connection closed or broken) is a MeterFailure.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "cli/meter_resource.h"

namespace tarnel::cli {

class MeterConnection {
public:
    MeterConnection(const MeterResource& resource, std::chrono::milliseconds connectTimeout);
    ~MeterConnection();
    MeterConnection(const MeterConnection&) = delete;
    MeterConnection& operator=(const MeterConnection&) = delete;

    // Sends line and a line feed.
    void Send(std::string_view line);

    // The next line, without its line end. `query` names what was asked in
    // the message of a timeout.
    std::string ReceiveLine(std::chrono::milliseconds timeout, std::string_view query);

    // Send(query), then ReceiveLine.
    std::string Query(std::string_view query, std::chrono::milliseconds timeout);

    const MeterResource& Resource() const { return resource_; }

private:
    [[noreturn]] void Fail(const std::string& what) const;

    MeterResource resource_;
    int socket_ = -1;
    std::string received_;   // bytes after the last line handed out
};

}  // namespace tarnel::cli
