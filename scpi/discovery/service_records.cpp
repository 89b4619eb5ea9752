#include "scpi/service_records.h"

namespace tarnel::scpi {

namespace {

bool IsUtf8Continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

std::string FitUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    std::size_t end = maxBytes;
    // Back to the first byte of the sequence the cut falls into; that
    // sequence goes whole.
    while (end > 0 && IsUtf8Continuation(text[end])) {
        --end;
    }
    return std::string(text.substr(0, end));
}

std::string BoardInstanceName(std::string_view usbPath, std::string_view hostName) {
    std::string name = "Tarnel board ";
    name += usbPath;
    name += " on ";
    name += hostName;
    return FitUtf8(name, kMaxInstanceNameBytes);
}

std::string Vxi11HostInstanceName(std::string_view hostName) {
    std::string name = "Tarnel boards on ";
    name += hostName;
    return FitUtf8(name, kMaxInstanceNameBytes);
}

std::vector<std::string> InstrumentTxtRecords(const InstrumentFacts& facts) {
    std::vector<std::string> records{"txtvers=1"};
    const std::pair<std::string_view, const std::string&> fields[] = {
        {"Manufacturer", facts.manufacturer},
        {"Model", facts.model},
        {"SerialNumber", facts.serialNumber},
        {"FirmwareVersion", facts.firmwareVersion},
    };
    for (const auto& [key, value] : fields) {
        if (!value.empty()) {
            records.push_back(FitUtf8(std::string(key) + "=" + value, kMaxTxtStringBytes));
        }
    }
    return records;
}

}  // namespace tarnel::scpi
