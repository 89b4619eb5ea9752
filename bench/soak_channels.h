// The three kinds of connection the soak's clients hold to tarnelctl serve,
// each as a MessageChannel with a short wait of one second per reply:
//   RawChannel     a raw SCPI socket on the board's own port;
//   Vxi11Channel   a VXI-11 link through the client library's transport
//                  (its port from the portmapper on port 111);
//   LockingLink    a VXI-11 link on libtirpc's client that also takes and
//                  gives up the device's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "locked_exchange.h"
#include "loopback/line_client.h"
#include "scpi/client/transport.h"
#include "vxi11_client.h"

namespace tarnel::bench {

inline constexpr std::chrono::seconds kShortWait{1};

class RawChannel final : public MessageChannel {
public:
    explicit RawChannel(std::uint16_t port) : client_(port, kShortWait) {}
    bool Connected() const { return client_.Connected(); }
    Outcome Send(std::string_view message) override;
    Outcome Receive(std::string& line) override;

private:
    loopback::LineClient client_;
};

class Vxi11Channel final : public MessageChannel {
public:
    // Throws scpi::client::InstrumentFailure when the link cannot be made.
    explicit Vxi11Channel(const std::string& device);
    Outcome Send(std::string_view message) override;
    Outcome Receive(std::string& line) override;

private:
    std::unique_ptr<scpi::client::Transport> transport_;
};

class LockingLink final : public MessageChannel {
public:
    // corePort: the VXI-11 core channel's, as the portmapper gives it.
    LockingLink(std::uint16_t corePort, const std::string& device);
    ~LockingLink() override;
    LockingLink(const LockingLink&) = delete;
    LockingLink& operator=(const LockingLink&) = delete;

    // The link's VXI-11 error at create_link; 0 when it is made.
    long OpenError() const { return openError_; }
    Outcome Send(std::string_view message) override;
    Outcome Receive(std::string& line) override;
    // device_lock, waiting up to `wait` for another link to give it up; the VXI-11 error (0: held).
    long Lock(std::chrono::milliseconds wait);
    // device_unlock; the VXI-11 error (0: given up).
    long Unlock();

private:
    vxi11::test::CoreClient client_;
    long lid_ = 0;
    long openError_ = -1;
    std::string partial_;   // a reply's pieces read before its end
};

// The port the portmapper on 127.0.0.1 gives for the VXI-11 core channel; 0 when none.
std::uint16_t Vxi11CorePort();

}  // namespace tarnel::bench
