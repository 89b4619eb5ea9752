// Writing a whole text to a file descriptor, however the kernel splits it.
#pragma once

#include <string_view>

namespace tarnel::posix_io {

// Writes every byte of text to fd, going on after partial writes and after
// signals that interrupt the call. False when a write fails or writes nothing
// (a closed pipe or connection, a bad fd); the bytes before it were written.
// On a socket a peer that has gone is such a failure, never SIGPIPE.
bool WriteAll(int fd, std::string_view text);

}  // namespace tarnel::posix_io
