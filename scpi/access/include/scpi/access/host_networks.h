// The networks of the host's own interfaces: each interface address with its
// netmask, as getifaddrs reports them. A server that listens beyond loopback
// without an allow-list admits these (and loopback).
#pragma once

#include <ifaddrs.h>

#include <vector>

#include "scpi/access/allow_list.h"
#include "scpi/access/network.h"

namespace tarnel::scpi::access {

// The networks in that interface list, in its order, each once; loopback
// addresses and entries without an IP address or netmask are left out.
std::vector<Network> NetworksOf(const ifaddrs* interfaces);

// Loopback and the networks of this host's interfaces now. Throws
// AllowListError when the interfaces cannot be listed.
AllowList HostNetworksAllowList();

}  // namespace tarnel::scpi::access
