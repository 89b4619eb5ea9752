// Allow-lists as --allow and the allow line of scpi.conf give them, and the
// admission hook the servers call with each client's address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/un.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scpi/access/admission.h"
#include "scpi/access/allow_list.h"

namespace tarnel::scpi::access {
namespace {

// A client address as accept() fills it in: IPv4 text gives AF_INET, IPv6
// text (mapped ones included) AF_INET6.
sockaddr_storage Peer(const std::string& text) {
    sockaddr_storage peer{};
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        std::memcpy(&peer, &v4, sizeof v4);
    } else if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        std::memcpy(&peer, &v6, sizeof v6);
    } else {
        ADD_FAILURE() << "not an address: " << text;
    }
    return peer;
}

TEST(AllowListTest, ReadsAnyOrNetworks) {
    const struct { std::string text; std::string read; } cases[] = {
        {"any", "any address"},
        {"  any\t", "any address"},
        {"10.0.0.0/8", "loopback, 10.0.0.0/8"},
        {"192.168.1.7", "loopback, 192.168.1.7/32"},
        {" 10.0.0.0/8 , fd00::/8 ", "loopback, 10.0.0.0/8, fd00::/8"},
        {"0.0.0.0/0", "loopback, 0.0.0.0/0"},
        {"::/0", "loopback, ::/0"},
        {"2001:db8::1", "loopback, 2001:db8::1/128"},
        {"2001:DB8::/32", "loopback, 2001:db8::/32"},
        {"::ffff:10.0.0.0/104", "loopback, 10.0.0.0/8"},
        {"::ffff:192.0.2.1", "loopback, 192.0.2.1/32"},
        {"10.0.0.0/8,10.0.0.0/8,10.0.0.0/16", "loopback, 10.0.0.0/8, 10.0.0.0/16"},
    };
    for (const auto& [text, read] : cases) {
        try {
            EXPECT_EQ(ParseAllowList(text).Text(), read) << "'" << text << "'";
        } catch (const AllowListError& error) {
            ADD_FAILURE() << "'" << text << "' refused: " << error.what();
        }
    }
}

TEST(AllowListTest, RefusesABadEntryByName) {
    const struct { std::string text; std::string says; } cases[] = {
        {"", "empty allow-list entry"},
        {"10.0.0.0/8,", "empty allow-list entry in '10.0.0.0/8,'"},
        {"10.0.0.0/8,,fd00::/8", "empty allow-list entry"},
        {"10.0.0.0/33", "'10.0.0.0/33' has a bad prefix length — after the / give 0 to 32"},
        {"fd00::/129", "'fd00::/129' has a bad prefix length — after the / give 0 to 128"},
        {"10.0.0.0/", "'10.0.0.0/' has a bad prefix length"},
        {"10.0.0.0/-1", "bad prefix length"},
        {"10.0.0.0/8x", "bad prefix length"},
        {"10.0.0.0/8/8", "bad prefix length"},
        {"10.1.0.0/8", "'10.1.0.0/8' has bits set past its /8 — write the network, 10.0.0.0/8"},
        {"fd00::1/8", "write the network, fd00::/8"},
        {"10.0.0.0/8,lab.example", "'lab.example' is not an IPv4 or IPv6 address"},
        {"fe80::1%eth0", "'fe80::1%eth0' is not an IPv4 or IPv6 address"},
        {"10.0.0.256", "not an IPv4 or IPv6 address"},
        {"10.0.0", "not an IPv4 or IPv6 address"},
        {"any,10.0.0.0/8", "'any' stands alone"},
        {"10.0.0.0/8 192.168.0.0/16", "has a blank inside — separate entries with commas"},
    };
    for (const auto& [text, says] : cases) {
        try {
            ParseAllowList(text);
            ADD_FAILURE() << "accepted: '" << text << "'";
        } catch (const AllowListError& error) {
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << text << ": " << error.what();
        }
    }
}

TEST(AllowListTest, AdmitsPeersInItsNetworksAndLoopback) {
    const struct { std::string list; std::string peer; bool admitted; } cases[] = {
        {"10.0.0.0/8", "10.255.1.2", true},
        {"10.0.0.0/8", "11.0.0.1", false},
        {"10.0.0.0/8", "::ffff:10.1.2.3", true},     // an IPv4 client on an IPv6 listener
        {"10.0.0.0/8", "::ffff:11.0.0.1", false},
        {"10.0.0.0/8", "::a00:1", false},            // IPv4-compatible is not IPv4
        {"10.0.0.0/8", "fd00::1", false},
        {"10.0.0.0/9", "10.127.255.255", true},
        {"10.0.0.0/9", "10.128.0.0", false},
        {"192.0.2.7/32", "192.0.2.7", true},
        {"192.0.2.7/32", "192.0.2.8", false},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "::ffff:203.0.113.9", true},
        {"0.0.0.0/0", "2001:db8::1", false},
        {"::/0", "2001:db8::1", true},
        {"::/0", "203.0.113.9", false},
        {"::/0", "::ffff:203.0.113.9", false},       // counted as IPv4
        {"2001:db8::1/128", "2001:db8::1", true},
        {"2001:db8::1/128", "2001:db8::2", false},
        {"fd00::/8", "fdff:1::1", true},
        {"fd00::/8", "fe00::1", false},
        {"fc00::/7", "fd00::1", true},
        {"::ffff:10.0.0.0/104", "10.9.9.9", true},
        {"192.0.2.0/24", "127.0.0.1", true},         // loopback always
        {"192.0.2.0/24", "127.8.9.10", true},
        {"192.0.2.0/24", "::1", true},
        {"192.0.2.0/24", "::ffff:127.0.0.1", true},
        {"192.0.2.0/24", "::2", false},
        {"any", "198.51.100.1", true},
        {"any", "2001:db8::5", true},
    };
    for (const auto& [list, peer, admitted] : cases) {
        const AdmissionCheck check = MakeAdmissionCheck(ParseAllowList(list), "--allow");
        EXPECT_EQ(!check(Peer(peer)).has_value(), admitted) << list << " " << peer;
    }
}

TEST(AllowListTest, RefusalNamesThePeerAndTheSetting) {
    const struct { std::string setting; std::string peer; std::string says; } cases[] = {
        {"--allow", "192.0.2.7",
         "refused client 192.0.2.7: not in --allow (loopback, 10.0.0.0/8) — add its network to --allow"},
        {"--allow", "::ffff:192.0.2.7", "refused client 192.0.2.7:"},
        {"the allow line of /etc/tarnel/scpi.conf", "2001:db8::9",
         "refused client 2001:db8::9: not in the allow line of /etc/tarnel/scpi.conf"},
    };
    for (const auto& [setting, peer, says] : cases) {
        const auto refusal = MakeAdmissionCheck(ParseAllowList("10.0.0.0/8"), setting)(Peer(peer));
        ASSERT_TRUE(refusal.has_value()) << peer;
        EXPECT_NE(refusal->find(says), std::string::npos) << *refusal;
    }
    // Neither IPv4 nor IPv6: refused with a line, not misread.
    sockaddr_storage local{};
    local.ss_family = AF_UNIX;
    const auto refusal = MakeAdmissionCheck(AllowList::Any(), "--allow")(local);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("address family"), std::string::npos) << *refusal;
}

TEST(AllowListTest, LoopbackListenersAndStartLines) {
    const struct { std::string host; bool loopbackOnly; } hosts[] = {
        {"127.0.0.1", true}, {"127.0.0.2", true}, {"::1", true},  {"0.0.0.0", false},
        {"::", false},       {"192.0.2.1", false}, {"", false},   {"localhost", false},
        {"::ffff:127.0.0.1", true}, {"::ffff:0.0.0.0", false},
    };
    for (const auto& [host, loopbackOnly] : hosts) EXPECT_EQ(ListensOnLoopbackOnly(host), loopbackOnly) << host;

    const struct { std::string list; bool hostDefault; std::string line; } lines[] = {
        {"any", false, "admitting clients from any address (--allow)"},
        {"10.0.0.0/8,fd00::/8", false, "admitting clients from loopback, 10.0.0.0/8, fd00::/8 (--allow)"},
        {"192.168.1.0/24,fe80::/64", true,
         "admitting clients from loopback and this host's networks 192.168.1.0/24, fe80::/64"
         " — admit others with --allow"},
    };
    for (const auto& [list, hostDefault, line] : lines) {
        EXPECT_EQ(AdmissionLine(ParseAllowList(list), "--allow", hostDefault), line);
    }
    EXPECT_EQ(AdmissionLine(AllowList(std::vector<Network>{}), "--allow", true),
              "admitting clients from loopback and this host's networks (none found) — admit others with --allow");
}

}  // namespace
}  // namespace tarnel::scpi::access
