// Two test instruments on VXI-11 for the tests with real clients:
//   inst0 (also "1-1.2")  *IDN? Tarnel,Test Instrument,0,1.0
//   inst1                 *IDN? Tarnel,Test Instrument,1,1.0
// with the portmapper on port 111 (or --portmapper-port N). Prints
// "core PORT abort PORT portmapper MODE" once it serves, then runs until
// SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "test_instrument.h"
#include "scpi/served_instrument.h"
#include "vxi11/served_instrument_device.h"
#include "vxi11/vxi11_server.h"

using namespace tarnel::vxi11;

int main(int argc, char** argv) {
    std::uint16_t portmapperPort = 111;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--portmapper-port") == 0 && i + 1 < argc) {
            portmapperPort = static_cast<std::uint16_t>(std::atoi(argv[++i]));
        } else {
            std::cerr << "usage: vxi11_test_server [--portmapper-port N]\n";
            return 2;
        }
    }
    // The threads the server starts inherit the blocked signals; this one waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    test::TestInstrument first{"Tarnel,Test Instrument,0,1.0"};
    test::TestInstrument second{"Tarnel,Test Instrument,1,1.0"};
    // inst0 runs its links' messages one at a time, inst1 each link's on its own.
    tarnel::scpi::ServedInstrument firstServed(test::TestInstrumentCommands(first), tarnel::scpi::DispatchMode::OneAtATime);
    tarnel::scpi::ServedInstrument secondServed(test::TestInstrumentCommands(second),
                                                tarnel::scpi::DispatchMode::EachClientItsOwn);
    ServedInstrumentDevice firstDevice(firstServed);
    ServedInstrumentDevice secondDevice(secondServed);
    Vxi11Settings settings;
    settings.log = [](const std::string& line) { std::cerr << line << std::endl; };
    Vxi11Server server({{{"inst0", "1-1.2"}, &firstDevice}, {{"inst1"}, &secondDevice}}, settings);
    if (auto failure = server.Listen()) {
        std::cerr << *failure << std::endl;
        return 1;
    }
    Portmapper portmapper(server.Mappings(), settings.log);
    const char* modes[] = {"registered", "answering", "absent"};
    const Portmapper::Mode mode = portmapper.Start(portmapperPort);
    std::cout << "core " << server.CorePort() << " abort " << server.AbortPort() << " portmapper "
              << modes[static_cast<int>(mode)] << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    portmapper.Stop();
    server.Stop();
    return 0;
}
