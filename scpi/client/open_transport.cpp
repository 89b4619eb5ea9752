#include "scpi/client/gpib_adapter_transport.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/serial_transport.h"
#include "scpi/client/socket_transport.h"
#include "scpi/client/transport.h"
#include "scpi/client/usbtmc_transport.h"
#include "scpi/client/vxi11_transport.h"

namespace tarnel::scpi::client {

std::unique_ptr<Transport> OpenTransport(const InstrumentResource& resource, const ConnectionOptions& options,
                                         std::chrono::milliseconds openTimeout) {
    struct Opener {
        const ConnectionOptions& options;
        std::chrono::milliseconds timeout;

        std::unique_ptr<Transport> operator()(const SocketResource& socket) const {
            return OpenSocketTransport(socket, timeout);
        }
        std::unique_ptr<Transport> operator()(const Vxi11Resource& vxi11) const {
            return OpenVxi11Transport(vxi11, timeout);
        }
        std::unique_ptr<Transport> operator()(const UsbResource& usb) const { return OpenUsbtmcTransport(usb, timeout); }
        std::unique_ptr<Transport> operator()(const SerialResource& serial) const {
            return OpenSerialTransport(serial, options.serial, options.lineEnd, timeout);
        }
        std::unique_ptr<Transport> operator()(const GpibResource& gpib) const {
            if (!options.gpibAdapter) {
                throw InstrumentFailure(FailureKind::Unreachable,
                                        "GPIB" + std::to_string(gpib.board) + "::" + std::to_string(gpib.address) +
                                            "::INSTR needs the adapter it is reached through — give --gpib-adapter "
                                            "/dev/ttyUSB0 or --gpib-adapter HOST[:PORT]");
            }
            return OpenGpibAdapterTransport(gpib, *options.gpibAdapter, timeout);
        }
    };
    return std::visit(Opener{options, openTimeout}, resource.where);
}

}  // namespace tarnel::scpi::client
