// The USBTMC client's time per query on the emulated bus against its floor:
// one bare libusb exchange per query (DEV_DEP_MSG_OUT with the query,
// REQUEST_DEV_DEP_MSG_IN, one bulk IN), written here on the same wire layout.
// Rounds alternate between the two, on one claim of the interface, so that
// load from other programs falls on both alike. Runs as the command of
// `board-emulator --meter-usb`, which names the meter in TARNEL_METER_USB;
// optional argument: queries per round.
#include <libusb.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "median.h"
#include "scpi/client/instrument.h"
#include "scpi/client/usbtmc_header.h"

namespace {

namespace client = tarnel::scpi::client;
namespace usbtmc = tarnel::scpi::client::usbtmc;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr unsigned kTimeoutMs = 2000;
constexpr const char* kQuery = "*IDN?";

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_usbtmc_query: %s\n", what.c_str());
    std::exit(1);
}

// The meter's interface opened with bare libusb: its bulk endpoints found
// from the descriptors, nothing else done.
class BareUsbtmc {
public:
    explicit BareUsbtmc(const client::UsbResource& resource) {
        if (libusb_init(&context_) != 0) Fail("libusb_init failed");
        handle_ = libusb_open_device_with_vid_pid(context_, resource.vendorId, resource.productId);
        if (handle_ == nullptr) Fail("the emulated USB meter is not on the bus");
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(libusb_get_device(handle_), &config) != 0) Fail("no configuration");
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface_descriptor& setting = config->interface[i].altsetting[0];
            if (setting.bInterfaceClass != usbtmc::kInterfaceClass) continue;
            interface_ = setting.bInterfaceNumber;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                if ((endpoint.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
                (endpoint.bEndpointAddress & 0x80 ? in_ : out_) = endpoint.bEndpointAddress;
            }
        }
        libusb_free_config_descriptor(config);
        if (interface_ < 0 || in_ == 0 || out_ == 0) Fail("no USBTMC interface with bulk endpoints");
        if (libusb_claim_interface(handle_, interface_) != 0) Fail("cannot claim the USBTMC interface");
    }
    ~BareUsbtmc() {
        libusb_release_interface(handle_, interface_);
        libusb_close(handle_);
        libusb_exit(context_);
    }
    BareUsbtmc(const BareUsbtmc&) = delete;
    BareUsbtmc& operator=(const BareUsbtmc&) = delete;

    void Query() {
        const std::vector<std::uint8_t> message = usbtmc::DevDepMsgOut(tag_, std::string(kQuery) + "\n", true);
        tag_ = usbtmc::NextTag(tag_);
        Bulk(out_, const_cast<std::uint8_t*>(message.data()), static_cast<int>(message.size()));
        auto request = usbtmc::RequestDevDepMsgIn(tag_, sizeof reply_ - usbtmc::kHeaderSize, std::nullopt);
        tag_ = usbtmc::NextTag(tag_);
        Bulk(out_, request.data(), static_cast<int>(request.size()));
        const int got = Bulk(in_, reply_.data(), static_cast<int>(reply_.size()));
        const auto header = usbtmc::DecodeHeader(std::span<const std::uint8_t>(reply_.data(), static_cast<std::size_t>(got)));
        if (!header || !(header->attributes & usbtmc::kEom)) Fail("the bare exchange got no whole reply");
    }

private:
    int Bulk(unsigned char endpoint, std::uint8_t* data, int length) {
        int moved = 0;
        const int status = libusb_bulk_transfer(handle_, endpoint, data, length, &moved, kTimeoutMs);
        if (status != 0) Fail(std::string("bare bulk transfer: ") + libusb_error_name(status));
        return moved;
    }

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    int interface_ = -1;
    unsigned char in_ = 0;
    unsigned char out_ = 0;
    std::uint8_t tag_ = 1;
    std::array<std::uint8_t, 512> reply_{};
};

template <typename Exchange>
double MicrosecondsPerQuery(long queries, Exchange exchange) {
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < queries; ++i) exchange();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / static_cast<double>(queries);
}

}  // namespace

int main(int argc, char** argv) {
    const long queries = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 500;
    if (queries < 1) Fail("give a number of queries of at least 1");
    const char* text = std::getenv("TARNEL_METER_USB");
    const auto resource = text ? client::ParseInstrumentResource(text) : std::nullopt;
    if (!resource || !std::holds_alternative<client::UsbResource>(resource->where)) {
        Fail("no USB meter: run it as the command of board-emulator --meter-usb");
    }
    try {
        std::vector<double> floors;
        std::vector<double> runs;
        for (int round = 0; round < kRounds; ++round) {
            {
                BareUsbtmc bare(std::get<client::UsbResource>(resource->where));
                floors.push_back(MicrosecondsPerQuery(queries, [&] { bare.Query(); }));
            }
            client::Instrument meter(*resource, {}, std::chrono::seconds(3));
            runs.push_back(MicrosecondsPerQuery(queries, [&] { meter.Query(kQuery, std::chrono::seconds(2)); }));
        }
        const double floor = tarnel::bench::Median(floors);
        const double run = tarnel::bench::Median(runs);
        std::printf("USBTMC %s, median of %d rounds of %ld: %.1f us a query, floor (bare libusb bulk OUT + IN) "
                    "%.1f us, ratio %.3f (goal >= 0.9)\n",
                    kQuery, kRounds, queries, run, floor, floor / run);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    return 0;
}
