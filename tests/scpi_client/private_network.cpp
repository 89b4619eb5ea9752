#include "private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnel::scpi::client::testing {

std::string EnterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return std::string("cannot make a network namespace (") + std::strerror(errno) +
               ") — run the tests as root or with CAP_SYS_ADMIN";
    }
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) return std::string("no socket in the new network: ") + std::strerror(errno);
    ifreq loopback{};
    std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    std::string problem;
    if (::ioctl(control, SIOCGIFFLAGS, &loopback) != 0) {
        problem = std::string("no loopback in the new network: ") + std::strerror(errno);
    } else {
        loopback.ifr_flags = static_cast<short>(loopback.ifr_flags | IFF_UP);
        if (::ioctl(control, SIOCSIFFLAGS, &loopback) != 0) {
            problem = std::string("cannot bring the loopback up: ") + std::strerror(errno);
        }
    }
    ::close(control);
    return problem;
}

}  // namespace tarnel::scpi::client::testing
