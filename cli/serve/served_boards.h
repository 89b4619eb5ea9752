// Every board tarnelctl serve serves, together: each board's service, the
// host's one VXI-11 server over all of them, and their announcements on the
// LAN. Boards are added at start and, from the board watch's thread, as they
// arrive; everything stops together.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "scpi/lan_announcer.h"
#include "serve/board_service.h"
#include "serve/vxi11_front.h"

namespace tarnel::cli {

class ServedBoards {
public:
    // announcer: none when the boards are not announced (served on loopback only).
    ServedBoards(Vxi11Front& vxi11, scpi::LanAnnouncer* announcer, std::function<void(const std::string&)> log);
    ~ServedBoards();   // Stop
    ServedBoards(const ServedBoards&) = delete;
    ServedBoards& operator=(const ServedBoards&) = delete;

    // Starts the board's raw socket; the reason when it cannot listen. The
    // VXI-11 server takes it at the next ServeOnVxi11.
    std::optional<std::string> Add(std::unique_ptr<BoardService> service);
    // Serves every board added on VXI-11 (the boards added since, on the
    // running server, whose open links stay), logs each new board's line and
    // announces it.
    std::optional<std::string> ServeOnVxi11();

    bool Serves(const std::string& portPath) const;
    std::vector<ServedBoard> Plans() const;
    bool Empty() const;

    // Withdraws the announcements, stops the VXI-11 server, then the boards.
    void Stop();

private:
    Vxi11Front& vxi11_;
    scpi::LanAnnouncer* announcer_;
    std::function<void(const std::string&)> log_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<BoardService>> services_;
    std::size_t onVxi11_ = 0;   // the first services_ the VXI-11 server serves
    bool vxi11Announced_ = false;
};

}  // namespace tarnel::cli
