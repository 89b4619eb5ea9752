// What the LAN sees of a served board and of the host: the DNS-SD service
// types, the instance names a lab's browser lists, and the TXT records with
// the *IDN? fields. Plain functions, no avahi: the announcer builds its
// services from them and the unit tests check them directly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::scpi {

// A board served on a raw TCP port (SCPI lines over a plain socket).
inline constexpr std::string_view kScpiRawServiceType = "_scpi-raw._tcp";
// The host as a VXI-11 instrument server; clients ask its port mapper.
inline constexpr std::string_view kVxi11ServiceType = "_vxi-11._tcp";
inline constexpr unsigned kVxi11PortMapperPort = 111;

// DNS labels, and so instance names, hold at most 63 bytes; each TXT
// string at most 255.
inline constexpr std::size_t kMaxInstanceNameBytes = 63;
inline constexpr std::size_t kMaxTxtStringBytes = 255;

// The fields of an instrument's *IDN? reply, as instrument browsers show them.
struct InstrumentFacts {
    std::string manufacturer;
    std::string model;
    std::string serialNumber;  // for a board: its name
    std::string firmwareVersion;
};

// The first `maxBytes` bytes of `text`, cut before a UTF-8 sequence that
// would not fit whole.
std::string FitUtf8(std::string_view text, std::size_t maxBytes);

// "Tarnel board 1-1.2 on HOST", fitted to one DNS label.
std::string BoardInstanceName(std::string_view usbPath, std::string_view hostName);
// "Tarnel boards on HOST", fitted to one DNS label.
std::string Vxi11HostInstanceName(std::string_view hostName);

// "txtvers=1" then Manufacturer=, Model=, SerialNumber=, FirmwareVersion=
// for each fact given (an empty one is left out), each fitted to one TXT
// string.
std::vector<std::string> InstrumentTxtRecords(const InstrumentFacts& facts);

}  // namespace tarnel::scpi
