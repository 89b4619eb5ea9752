// Fuzzes the VXI-11 server as a core connection's bytes reach it: record
// marking, the RPC call header, the procedures' XDR arguments and the calls
// themselves, on a served instrument running the engine's standard commands. Every
// record answered gets one reply that names its xid; a record longer than the
// limit ends the stream, as it closes a connection. Waits are capped at
// nothing, so that an input naming long timeouts or a lock its own session
// holds never stalls a run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scpi/command_call.h"
#include "scpi/reply_numbers.h"
#include "scpi/served_instrument.h"
#include "vxi11/core_channel.h"
#include "vxi11/record_marking.h"
#include "vxi11/served_instrument_device.h"

namespace {

namespace scpi = tarnel::scpi;
namespace vxi11 = tarnel::vxi11;

constexpr std::size_t kLongestRecord = 16 * 1024;

void Require(bool condition) {
    if (!condition) std::abort();
}

scpi::CommandTable FuzzCommands(int& value) {
    scpi::InstrumentBasics basics;
    basics.identity = [] { return std::string("Tarnel,Fuzz,0,1.0"); };
    basics.reset = [&value] { value = 0; };
    return scpi::CommandTable(std::move(basics), {
        {"VALue", [&value](scpi::CommandCall& call) { value = static_cast<int>(call.Whole({-9, 9, 9, 0})); },
         [&value](scpi::CommandCall& call) {
             call.NoParameter();
             return scpi::Nr1(value);
         }},
    });
}

struct Server {
    int value = 0;
    scpi::ServedInstrument instrument{FuzzCommands(value), scpi::DispatchMode::OneAtATime};
    vxi11::ServedInstrumentDevice device{instrument};
    vxi11::DeviceSlot slot{{"inst0"}, device};
    vxi11::CoreChannel core{{&slot}, vxi11::CoreLimits{1024, 8, 4, 0}};
};

std::uint32_t Xid(std::string_view message) {
    std::uint32_t xid = 0;
    for (std::size_t i = 0; i < 4; ++i) xid = (xid << 8) | static_cast<unsigned char>(message[i]);
    return xid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Server server;
    const auto core = server.core.OpenCoreSession();
    const auto abort = server.core.OpenAbortSession();
    vxi11::RecordAssembler records(kLongestRecord);
    // The first byte cuts the stream into chunks of that size, as TCP may.
    const std::size_t chunk = size > 0 ? 1 + data[0] : 1;
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = size > 0 ? 1 : 0; at < size; at += chunk) {
        records.Feed(stream.substr(at, chunk));
        std::string record;
        vxi11::RecordAssembler::Step step;
        while ((step = records.Next(record)) == vxi11::RecordAssembler::Step::Record) {
            for (vxi11::RpcSession* session : {core.get(), abort.get()}) {
                const auto reply = vxi11::AnswerMessage(record, *session);
                if (!reply) continue;
                Require(reply->size() >= 12 && Xid(*reply) == Xid(record));
                Require(reply->size() <= 64 + 2 * kLongestRecord);
            }
        }
        if (step == vxi11::RecordAssembler::Step::TooLong) break;
    }
    return 0;
}
