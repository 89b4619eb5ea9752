// The listening TCP socket of a server, bound to a ListenAddress (port 0: the
// system picks one), non-blocking; and the address of a client as the
// server's log lines write it.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>

#include "scpi/listen_address.h"

namespace tarnel::scpi {

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();   // Close
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds and listens; "cannot listen on ADDRESS: REASON" when it cannot.
    std::optional<std::string> Open(const ListenAddress& address);
    // The address listened on, with the port the system picked.
    const ListenAddress& Bound() const { return bound_; }
    int Descriptor() const { return socket_; }
    void Close();

private:
    int socket_ = -1;
    ListenAddress bound_;
};

// "127.0.0.1:41234", "[::1]:41234"
std::string PeerText(const sockaddr_storage& peer);

}  // namespace tarnel::scpi
