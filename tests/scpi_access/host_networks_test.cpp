// The host's networks as the default allow-list takes them from an interface
// list (built here, as getifaddrs would report it).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "scpi/access/host_networks.h"

namespace tarnel::scpi::access {
namespace {

// An interface list that owns its entries and addresses.
class InterfaceList {
public:
    // An empty address or netmask leaves that pointer null; "packet" gives an
    // address of a family without IP.
    void Add(const std::string& name, const std::string& address, const std::string& netmask) {
        ifaddrs& entry = entries_.emplace_back();
        names_.push_back(name);
        entry.ifa_name = names_.back().data();
        entry.ifa_addr = Address(address);
        entry.ifa_netmask = Address(netmask);
        if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
    }
    const ifaddrs* First() const { return entries_.empty() ? nullptr : &entries_.front(); }

private:
    sockaddr* Address(const std::string& text) {
        if (text.empty()) return nullptr;
        sockaddr_storage& storage = addresses_.emplace_back();
        if (text == "packet") {
            storage.ss_family = AF_PACKET;
        } else if (text.find(':') == std::string::npos) {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
            v4->sin_family = AF_INET;
            EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &v4->sin_addr), 1) << text;
        } else {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
            v6->sin6_family = AF_INET6;
            EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr), 1) << text;
        }
        return reinterpret_cast<sockaddr*>(&storage);
    }

    std::deque<ifaddrs> entries_;
    std::deque<std::string> names_;
    std::deque<sockaddr_storage> addresses_;
};

TEST(HostNetworksTest, EachInterfaceNetworkOnceWithoutLoopback) {
    InterfaceList list;
    list.Add("lo", "127.0.0.1", "255.0.0.0");
    list.Add("lo", "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
    list.Add("eth0", "packet", "");
    list.Add("eth0", "192.168.1.23", "255.255.255.0");
    list.Add("eth0", "192.168.1.99", "255.255.255.0");    // same network: listed once
    list.Add("eth0", "2001:db8:1::5", "ffff:ffff:ffff:ffff::");
    list.Add("eth0", "fe80::1234", "ffff:ffff:ffff:ffff::");
    list.Add("wg0", "10.8.0.3", "255.255.255.255");
    list.Add("tun0", "172.20.5.9", "255.240.0.0");
    list.Add("ppp0", "198.51.100.4", "");                  // no netmask: left out
    list.Add("odd0", "198.51.100.5", "ffff::");            // netmask of the other family: left out
    list.Add("any0", "203.0.113.1", "0.0.0.0");
    std::vector<std::string> texts;
    for (const Network& network : NetworksOf(list.First())) texts.push_back(network.Text());
    EXPECT_EQ(texts, (std::vector<std::string>{"192.168.1.0/24", "2001:db8:1::/64", "fe80::/64", "10.8.0.3/32",
                                               "172.16.0.0/12", "0.0.0.0/0"}));
    EXPECT_TRUE(NetworksOf(nullptr).empty());
}

TEST(HostNetworksTest, ThisHostsListAdmitsLoopback) {
    const AllowList host = HostNetworksAllowList();
    EXPECT_FALSE(host.AdmitsAny());
    IpAddress loopback;
    loopback.bytes[0] = 127;
    loopback.bytes[3] = 1;
    EXPECT_TRUE(host.Admits(loopback));
}

}  // namespace
}  // namespace tarnel::scpi::access
