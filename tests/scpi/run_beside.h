// Runs a test's clients beside the Qt event loop the server runs on.
#pragma once

#include <functional>

namespace tarnel::scpi {

// The process's QCoreApplication, created on first use; before the server,
// whose sockets need its event dispatcher.
void EnsureApplication();

// Runs `driver` on a thread of its own while the event loop runs on the
// calling thread, until it returns; false when it took longer than a minute
// (the loop then stops, and the driver's reads time out).
bool RunBeside(const std::function<void()>& driver);

}  // namespace tarnel::scpi
