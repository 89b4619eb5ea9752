#include "serve/serve_config.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "board/usb_port_path.h"

namespace tarnel::cli {

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::size_t kLongestDeviceName = 64;
constexpr std::uint32_t kLargestPort = 65535;

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::size_t at = text.find_first_not_of(kBlanks); at != std::string_view::npos;
         at = text.find_first_not_of(kBlanks, at)) {
        const std::size_t end = std::min(text.find_first_of(kBlanks, at), text.size());
        fields.push_back(text.substr(at, end - at));
        at = end;
    }
    return fields;
}

std::optional<std::uint16_t> PortNumber(std::string_view text) {
    std::uint32_t port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port == 0 || port > kLargestPort) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

// VXI-11 device names as instruments use them: inst0, gpib0,5, hislip0.
bool IsDeviceName(std::string_view name) {
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ',' ||
               c == '.';
    };
    const bool letterFirst =
        !name.empty() && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'));
    return letterFirst && name.size() <= kLongestDeviceName && std::all_of(name.begin(), name.end(), allowed);
}

// One board line as written, with where it was.
struct BoardLine {
    ServedBoard board;
    std::size_t line = 0;
};

class ConfigReader {
public:
    explicit ConfigReader(std::string_view fileName) : fileName_(fileName) {}

    void Read(std::string_view line) {
        ++lineNumber_;
        const std::string_view content = Trimmed(line.substr(0, line.find('#')));
        if (content.empty()) return;
        const std::vector<std::string_view> fields = Fields(content);
        if (fields[0] == "allow") return ReadAllow(Trimmed(content.substr(fields[0].size())));
        ReadBoard(fields);
    }

    ServePlan Plan() {
        ServePlan plan;
        plan.allow = std::move(allow_);
        unsigned next = 0;
        for (BoardLine& entry : boards_) {
            if (entry.board.deviceName.empty()) {
                while (NamedOn("inst" + std::to_string(next))) ++next;
                entry.board.deviceName = "inst" + std::to_string(next++);
            }
            plan.boards.push_back(entry.board);
        }
        return plan;
    }

private:
    [[noreturn]] void Refuse(const std::string& cause) const {
        throw ServeConfigError(std::string(fileName_) + " line " + std::to_string(lineNumber_) + ": " + cause);
    }

    void ReadAllow(std::string_view list) {
        if (allowLine_ != 0) {
            Refuse("a second allow line (the first is line " + std::to_string(allowLine_) +
                   ") — put every network on one allow line, separated by commas");
        }
        if (list.empty()) Refuse("allow needs networks such as 192.168.1.0/24,fd00::/8, or any");
        try {
            allow_ = scpi::access::ParseAllowList(list);
        } catch (const scpi::access::AllowListError& error) {
            Refuse(error.what());
        }
        allowLine_ = lineNumber_;
    }

    void ReadBoard(const std::vector<std::string_view>& fields) {
        const std::string_view path = fields[0];
        if (!IsUsbPortPath(path)) {
            Refuse("'" + std::string(path) + "' is not a USB port path — begin a board line with its path such as "
                   "1-1.2, as 'tarnelctl scan' lists it, or write allow NETWORKS");
        }
        if (fields.size() < 2) {
            Refuse("board " + std::string(path) + " has no raw port — give a TCP port after its path");
        }
        if (fields.size() > 3) {
            Refuse("too many fields for board " + std::string(path) +
                   " — a board line is: port path, raw port, optional VXI-11 device name");
        }
        const auto port = PortNumber(fields[1]);
        if (!port) Refuse("raw port '" + std::string(fields[1]) + "' is not a TCP port — give one from 1 to 65535");
        ServedBoard board{std::string(path), *port, fields.size() == 3 ? std::string(fields[2]) : std::string()};
        if (!board.deviceName.empty() && !IsDeviceName(board.deviceName)) {
            Refuse("'" + board.deviceName + "' is not a VXI-11 device name — use a letter, then letters, digits, _ , "
                   "or . (up to 64), such as inst0");
        }
        for (const BoardLine& other : boards_) {
            if (other.board.portPath == board.portPath) {
                Refuse("board " + board.portPath + " is on line " + std::to_string(other.line) +
                       " too — keep one line per board");
            }
            if (other.board.rawPort == board.rawPort) {
                Refuse("raw port " + std::to_string(board.rawPort) + " is taken by line " + std::to_string(other.line) +
                       " — give each board a port of its own");
            }
            if (!board.deviceName.empty() && other.board.deviceName == board.deviceName) {
                Refuse("device name " + board.deviceName + " is taken by line " + std::to_string(other.line) +
                       " — give each board a name of its own");
            }
        }
        boards_.push_back({std::move(board), lineNumber_});
    }

    bool NamedOn(const std::string& name) const {
        return std::any_of(boards_.begin(), boards_.end(),
                           [&](const BoardLine& entry) { return entry.board.deviceName == name; });
    }

    std::string_view fileName_;
    std::size_t lineNumber_ = 0;
    std::vector<BoardLine> boards_;
    std::optional<scpi::access::AllowList> allow_;
    std::size_t allowLine_ = 0;
};

}  // namespace

ServePlan ParseServeConfig(std::string_view text, std::string_view fileName) {
    ConfigReader reader(fileName);
    for (;;) {
        const std::size_t end = text.find('\n');
        reader.Read(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return reader.Plan();
}

std::optional<ServePlan> ReadServeConfig(const std::string& fileName) {
    std::error_code ignored;
    if (std::filesystem::is_directory(fileName, ignored)) {
        throw ServeConfigError(fileName + " is a folder — the configuration is one file of board lines");
    }
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        if (errno == ENOENT) return std::nullopt;
        throw ServeConfigError("cannot read " + fileName + ": " + std::strerror(errno) +
                               " — make it readable by this user, or remove it to serve every board attached");
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw ServeConfigError("cannot read " + fileName + " to its end — check the file system it is on");
    }
    return ParseServeConfig(text.str(), fileName);
}

ServePlan DefaultServePlan(std::vector<std::string> portPaths, const scpi::ListenAddress& listen) {
    std::sort(portPaths.begin(), portPaths.end(),
              [](const std::string& a, const std::string& b) { return UsbPortPathBefore(a, b); });
    if (listen.port != 0 && !portPaths.empty() && listen.port + (portPaths.size() - 1) > kLargestPort) {
        throw ServeConfigError(std::to_string(portPaths.size()) + " boards from port " + std::to_string(listen.port) +
                               " run past port 65535 — pick a lower port with --listen, or plan the ports in " +
                               std::string(kServeConfigFile));
    }
    ServePlan plan;
    for (std::size_t i = 0; i < portPaths.size(); ++i) {
        const auto port = static_cast<std::uint16_t>(listen.port == 0 ? 0 : listen.port + i);
        plan.boards.push_back({std::move(portPaths[i]), port, "inst" + std::to_string(i)});
    }
    return plan;
}

std::optional<ServedBoard> PlanForArrival(const std::vector<ServedBoard>& served, const std::string& portPath,
                                          const scpi::ListenAddress& listen) {
    std::set<std::uint16_t> ports;
    std::set<std::string> names;
    for (const ServedBoard& board : served) {
        ports.insert(board.rawPort);
        names.insert(board.deviceName);
    }
    ServedBoard arrived{portPath, 0, {}};
    if (listen.port != 0) {
        std::uint32_t port = listen.port;
        while (port <= kLargestPort && ports.contains(static_cast<std::uint16_t>(port))) ++port;
        if (port > kLargestPort) return std::nullopt;
        arrived.rawPort = static_cast<std::uint16_t>(port);
    }
    unsigned next = 0;
    while (names.contains("inst" + std::to_string(next))) ++next;
    arrived.deviceName = "inst" + std::to_string(next);
    return arrived;
}

}  // namespace tarnel::cli
