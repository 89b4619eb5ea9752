// The meter's messages as a served instrument runs them (the TCP server, and
// any other front on scpi::ServedInstrument): each message holds the shared
// meter from its first unit to its last, except while it waits for readings,
// on the thread that runs it; one command table serves every client.
#pragma once

#include "scpi/served_instrument.h"

#include "shared_meter.h"

namespace tarnel::emulator {

// The meter outlives the run.
scpi::ServedInstrument::MessageRun MeterMessages(SharedMeter& meter);

}  // namespace tarnel::emulator
