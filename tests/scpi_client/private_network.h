// Moves this process into a network namespace of its own with its loopback
// up, so that the tests may take port 111 (the portmapper's) and any other
// port on 127.0.0.1 and ::1 without meeting the host's services. Called at
// the start of main, before any thread exists.
#pragma once

#include <string>

namespace tarnel::scpi::client::testing {

// Empty when the process is in its own network; otherwise why it could not
// be (no permission to make a namespace), for the tests to skip with.
std::string EnterPrivateNetwork();

}  // namespace tarnel::scpi::client::testing
