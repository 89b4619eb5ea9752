// The admission hook a server calls for each client it accepts: nothing to
// serve the client, or the one line that says why it is refused (the server
// logs it and closes the connection).
#pragma once

#include <sys/socket.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "scpi/access/allow_list.h"

namespace tarnel::scpi::access {

using AdmissionCheck = std::function<std::optional<std::string>(const sockaddr_storage& peer)>;

// Admits what `list` admits. `setting` names where the list was set, for the
// refusal line and the fix it gives: "--allow", "the allow line of
// /etc/tarnel/scpi.conf".
AdmissionCheck MakeAdmissionCheck(AllowList list, std::string setting);

// Whether a server on that numeric host ("127.0.0.1", "::1", "0.0.0.0")
// listens on loopback only, so that every client is on the host itself.
bool ListensOnLoopbackOnly(std::string_view host);

// The line a server prints at start: whom it admits and where that is set.
// `hostDefault`: the list is the host's own networks, taken because no
// allow-list was given.
std::string AdmissionLine(const AllowList& list, std::string_view setting, bool hostDefault);

}  // namespace tarnel::scpi::access
