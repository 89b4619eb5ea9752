// A VXI-11 instrument played by the test on libtirpc's svc: the core channel
// on a port of its own and a portmapper on port 111 that answers GETPORT for
// it, both on every loopback address (127.0.0.1 and ::1), served by a thread.
// What it answers is scripted; what it was asked is recorded. One at a time
// (libtirpc's dispatch has no room for an instance); needs a private
// network (private_network.h) for port 111.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnel::scpi::client::testing {

struct Vxi11Script {
    bool portmapper = true;          // false: nothing listens on port 111
    bool coreRegistered = true;      // false: GETPORT answers 0
    long linkError = 0;              // create_link's error (3: no such device)
    unsigned long maxRecvSize = 1024;
    std::size_t writeTakes = std::numeric_limits<std::size_t>::max();   // most bytes one device_write takes
    std::vector<std::string> replies;   // one per device_read sequence, each ended with END
    std::size_t readPiece = std::numeric_limits<std::size_t>::max();    // most bytes a device_read answer holds
    bool overlongReads = false;      // device_read answers with more bytes than asked for
    long readError = 0;              // device_read's error (15: I/O timeout)
    int answeredCalls = -1;          // core calls answered before it falls silent; -1: all
    unsigned char statusByte = 0;
};

struct RecordedWrite {
    std::string data;
    long flags = 0;
    unsigned long ioTimeout = 0;
};

class FakeVxi11Server {
public:
    explicit FakeVxi11Server(Vxi11Script script);
    ~FakeVxi11Server();
    FakeVxi11Server(const FakeVxi11Server&) = delete;
    FakeVxi11Server& operator=(const FakeVxi11Server&) = delete;

    std::uint16_t CorePort() const { return corePort_; }

    // The core calls in order ("create_link inst0", "device_write",
    // "device_read", "device_readstb", "device_clear", "destroy_link").
    std::vector<std::string> Calls() const;
    std::vector<RecordedWrite> Writes() const;
    std::vector<unsigned long> ReadRequestSizes() const;
    std::vector<unsigned long> ReadIoTimeouts() const;

private:
    friend struct Dispatch;
    void Serve();

    Vxi11Script script_;
    std::uint16_t corePort_ = 0;
    void* coreTransport_ = nullptr;          // SVCXPRT*
    void* portmapperTransport_ = nullptr;    // SVCXPRT*
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<RecordedWrite> writes_;
    std::vector<unsigned long> readRequestSizes_;
    std::vector<unsigned long> readIoTimeouts_;
    std::size_t replyOffset_ = 0;            // into script_.replies.front()
    std::string readData_;                   // the data of the answer being sent
};

}  // namespace tarnel::scpi::client::testing
