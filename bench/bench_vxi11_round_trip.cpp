// A bare VXI-11 round trip on loopback: device_write "*IDN?" with END and
// the device_read of its reply, through libtirpc's client against the server
// in process; and its floor, the core program's NULL call on the same
// connection (record marking, RPC header, one thread hop, no device).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <rpc/rpc.h>

#include <cstring>
#include <memory>
#include <string>

#include "vxi11.h"
#include "scpi/served_instrument.h"
#include "vxi11/served_instrument_device.h"
#include "vxi11/vxi11_codes.h"
#include "vxi11/vxi11_server.h"

namespace {

namespace vxi11 = tarnel::vxi11;

constexpr timeval kCallTimeout{10, 0};

struct Bench {
    tarnel::scpi::ServedInstrument instrument{
        tarnel::scpi::CommandTable(
            tarnel::scpi::InstrumentBasics{[] { return std::string("Tarnel,Bench,0,1.0"); }, [] {}, {}, {}, {}, {}}, {}),
        tarnel::scpi::DispatchMode::OneAtATime};
    vxi11::ServedInstrumentDevice device{instrument};
    vxi11::Vxi11Server server{{{{"inst0"}, &device}}, [] {
                                  vxi11::Vxi11Settings settings;
                                  settings.host = "127.0.0.1";
                                  return settings;
                              }()};
    CLIENT* client = nullptr;
    long lid = 0;

    bool Start() {
        if (server.Listen()) return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server.CorePort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int socket = RPC_ANYSOCK;
        client = clnttcp_create(&address, DEVICE_CORE, DEVICE_CORE_VERSION, &socket, 0, 0);
        if (client == nullptr) return false;
        Create_LinkParms parms{1, 0, 0, const_cast<char*>("inst0")};
        Create_LinkResp link{};
        if (clnt_call(client, create_link, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms), reinterpret_cast<char*>(&parms),
                      reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), reinterpret_cast<char*>(&link),
                      kCallTimeout) != RPC_SUCCESS || link.error != 0) {
            return false;
        }
        lid = link.lid;
        return true;
    }
    ~Bench() {
        if (client != nullptr) clnt_destroy(client);
    }
};

void BM_Vxi11WriteReadRoundTrip(benchmark::State& state) {
    Bench bench;
    if (!bench.Start()) {
        state.SkipWithError("the VXI-11 server did not start on loopback");
        return;
    }
    char query[] = "*IDN?";
    Device_WriteParms write{bench.lid, 2000, 0, vxi11::kFlagEnd, {5, query}};
    Device_ReadParms read{bench.lid, 1024, 2000, 0, 0, 0};
    for (auto _ : state) {
        Device_WriteResp written{};
        Device_ReadResp reply{};
        const bool ok =
            clnt_call(bench.client, device_write, reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms),
                      reinterpret_cast<char*>(&write), reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp),
                      reinterpret_cast<char*>(&written), kCallTimeout) == RPC_SUCCESS &&
            clnt_call(bench.client, device_read, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms),
                      reinterpret_cast<char*>(&read), reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp),
                      reinterpret_cast<char*>(&reply), kCallTimeout) == RPC_SUCCESS &&
            written.error == 0 && reply.error == 0 && reply.data.data_len == 19;
        clnt_freeres(bench.client, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), reinterpret_cast<char*>(&reply));
        if (!ok) {
            state.SkipWithError("a round trip failed");
            return;
        }
    }
    state.counters["round_trips_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                             benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Vxi11WriteReadRoundTrip)->UseRealTime();

struct Nothing {};
bool_t XdrNothing(XDR*, Nothing*) { return TRUE; }

void BM_Vxi11NullCallFloor(benchmark::State& state) {
    Bench bench;
    if (!bench.Start()) {
        state.SkipWithError("the VXI-11 server did not start on loopback");
        return;
    }
    Nothing nothing;
    for (auto _ : state) {
        if (clnt_call(bench.client, 0, reinterpret_cast<xdrproc_t>(XdrNothing), reinterpret_cast<char*>(&nothing),
                      reinterpret_cast<xdrproc_t>(XdrNothing), reinterpret_cast<char*>(&nothing),
                      kCallTimeout) != RPC_SUCCESS) {
            state.SkipWithError("a NULL call failed");
            return;
        }
    }
    state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Vxi11NullCallFloor)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
