#include "scpi/client/instrument_list.h"

#include "scpi/client/instrument_failure.h"
#include "scpi/client/serial_port_list.h"
#include "scpi/client/usbtmc_transport.h"
#include "usb_instrument_list.h"

namespace tarnel::scpi::client {

namespace {

constexpr auto kIdentifyTimeout = std::chrono::seconds(2);

// *IDN? through the instrument's own connection; a failure becomes its problem.
void Identify(ListedInstrument& instrument) {
    try {
        const auto transport = OpenUsbtmcTransport(std::get<UsbResource>(instrument.resource.where), kIdentifyTimeout);
        transport->Send("*IDN?");
        instrument.identity = transport->Receive(kIdentifyTimeout, "*IDN?");
    } catch (const InstrumentFailure& failure) {
        instrument.problem = failure.what();
    }
}

}  // namespace

std::vector<ListedInstrument> ListInstruments(bool identify) {
    std::vector<ListedInstrument> listed = usb::ListUsbtmcInterfaces();
    if (identify) {
        for (ListedInstrument& instrument : listed) {
            if (!instrument.problem) Identify(instrument);
        }
    }
    for (ListedInstrument& port : ListSerialPorts("/sys/class/tty", "/dev")) listed.push_back(std::move(port));
    return listed;
}

}  // namespace tarnel::scpi::client
