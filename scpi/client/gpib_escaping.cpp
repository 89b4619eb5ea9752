#include "scpi/client/gpib_escaping.h"

namespace tarnel::scpi::client::gpib {

std::string Escaped(std::string_view data) {
    std::string escaped;
    escaped.reserve(data.size());
    for (const char c : data) {
        if (c == '\r' || c == '\n' || c == kEscape || c == '+') escaped += kEscape;
        escaped += c;
    }
    return escaped;
}

std::string Unescaped(std::string_view data) {
    std::string bytes;
    bytes.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == kEscape) {
            if (++i == data.size()) break;
        }
        bytes += data[i];
    }
    return bytes;
}

}  // namespace tarnel::scpi::client::gpib
