// Resources as VISA writes them and the connection options, each table of
// texts with what it parses to (written back in its canonical form) or that
// it is refused.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "scpi/client/connection_options.h"
#include "scpi/client/instrument_resource.h"

namespace tarnel::scpi::client {
namespace {

struct Case {
    std::string text;
    std::optional<std::string> canonical;   // nothing: refused
};

TEST(InstrumentResource, ParsesEveryFormAndWritesItBackCanonically) {
    const Case cases[] = {
        {"TCPIP0::host::5025::SOCKET", "TCPIP0::host::5025::SOCKET"},
        {"tcpip::10.0.0.5::5025::socket", "TCPIP0::10.0.0.5::5025::SOCKET"},
        {"host:5025", "TCPIP0::host::5025::SOCKET"},
        {"[::1]:5025", "TCPIP0::[::1]::5025::SOCKET"},
        {"TCPIP0::[::1]::5025::SOCKET", "TCPIP0::[::1]::5025::SOCKET"},
        {"TCPIP0::[fe80::1:2]::5025::SOCKET", "TCPIP0::[fe80::1:2]::5025::SOCKET"},
        {"TCPIP0::host::inst0::INSTR", "TCPIP0::host::inst0::INSTR"},
        {"TCPIP::10.0.0.5::INSTR", "TCPIP0::10.0.0.5::inst0::INSTR"},
        {"tcpip1::meter-3.lab::inst1::instr", "TCPIP1::meter-3.lab::inst1::INSTR"},
        {"TCPIP0::[::1]::INSTR", "TCPIP0::[::1]::inst0::INSTR"},
        {"TCPIP0::[fe80::1:2]::gpib0,22::INSTR", "TCPIP0::[fe80::1:2]::gpib0,22::INSTR"},
        {"TCPIP0::host::COM1::INSTR", "TCPIP0::host::COM1::INSTR"},
        {"USB0::0x2A8D::0x0318::MY123::INSTR", "USB0::0x2A8D::0x0318::MY123::INSTR"},
        {"usb::10777::45586::X::1::INSTR", "USB0::0x2A19::0xB212::X::1::INSTR"},
        {"USB1::0x1209::0xb212::EMU0001::instr", "USB1::0x1209::0xB212::EMU0001::INSTR"},
        {"ASRL/dev/ttyUSB0::INSTR", "ASRL/dev/ttyUSB0::INSTR"},
        {"asrl/dev/ttyS0::instr", "ASRL/dev/ttyS0::INSTR"},
        {"/dev/ttyUSB0", "ASRL/dev/ttyUSB0::INSTR"},
        {"GPIB0::22::INSTR", "GPIB0::22::INSTR"},
        {"gpib::0::instr", "GPIB0::0::INSTR"},
        {"GPIB::30::INSTR", "GPIB0::30::INSTR"},
        // Refused.
        {"GPIB::31::INSTR", std::nullopt},
        {"GPIB0::22", std::nullopt},
        {"GPIB0::x::INSTR", std::nullopt},
        {"", std::nullopt},
        {"host", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {":5025", std::nullopt},
        {"[::1]", std::nullopt},
        {"[]:5025", std::nullopt},
        {"[::1]5025", std::nullopt},
        {"[::1:5025", std::nullopt},
        {"::1:5025", std::nullopt},
        {"ho st:5025", std::nullopt},
        {"TCPIP0::host::SOCKET", std::nullopt},
        {"TCPIP0::host::5025::INSTR", std::nullopt},
        {"TCPIP0::host::hislip0::INSTR", std::nullopt},
        {"TCPIP0::host::HiSLIP1::INSTR", std::nullopt},
        {"TCPIP0::host::inst 0::INSTR", std::nullopt},
        {"TCPIP0::host::::INSTR", std::nullopt},
        {"TCPIP0::::INSTR", std::nullopt},
        {"TCPIP0::[]::INSTR", std::nullopt},
        {"TCPIP0::fe80::1::INSTR", std::nullopt},
        {"TCPIP0::host::inst0::x::INSTR", std::nullopt},
        {"TCPIP256::host::INSTR", std::nullopt},
        {"TCPIP0::host::inst0", std::nullopt},
        {"TCPIP0::host::5025::SOCKET::X", std::nullopt},
        {"TCPIPX::host::5025::SOCKET", std::nullopt},
        {"USB0::0x12345::0x0318::MY123::INSTR", std::nullopt},
        {"USB0::70000::1::X::INSTR", std::nullopt},
        {"USB0::0xG1::1::X::INSTR", std::nullopt},
        {"USB0::0x::1::X::INSTR", std::nullopt},
        {"USB0::0x2A8D::0x0318::::INSTR", std::nullopt},
        {"USB0::0x2A8D::0x0318::MY 1::INSTR", std::nullopt},
        {"USB0::0x2A8D::0x0318::MY123::256::INSTR", std::nullopt},
        {"USB0::0x2A8D::0x0318::INSTR", std::nullopt},
        {"USB256::0x2A8D::0x0318::MY::INSTR", std::nullopt},
        {"ASRL1::INSTR", std::nullopt},
        {"ASRL/dev/ttyUSB0", std::nullopt},
        {"ASRL::INSTR", std::nullopt},
        {"/", std::nullopt},
        {std::string("/dev/tty\0X", 10), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto resource = ParseInstrumentResource(c.text);
        ASSERT_EQ(resource.has_value(), c.canonical.has_value());
        if (!resource) continue;
        EXPECT_EQ(resource->Text(), *c.canonical);
        const auto again = ParseInstrumentResource(resource->Text());
        ASSERT_TRUE(again.has_value()) << "the canonical form parses";
        EXPECT_EQ(again->Text(), *c.canonical);
    }
}

TEST(InstrumentResource, UsbFieldsComeOutAsWritten) {
    const auto resource = ParseInstrumentResource("USB0::0x1209::0xB212::EMU0001::2::INSTR");
    ASSERT_TRUE(resource);
    const auto& usb = std::get<UsbResource>(resource->where);
    EXPECT_EQ(usb.vendorId, 0x1209);
    EXPECT_EQ(usb.productId, 0xB212);
    EXPECT_EQ(usb.serial, "EMU0001");
    EXPECT_EQ(usb.interfaceNumber, std::optional<std::uint8_t>(2));
    const auto vxi11 = ParseInstrumentResource("TCPIP2::[fe80::2]::gpib0,7::INSTR");
    ASSERT_TRUE(vxi11);
    const auto& link = std::get<Vxi11Resource>(vxi11->where);
    EXPECT_EQ(link.board, 2u);
    EXPECT_EQ(link.host, "fe80::2");
    EXPECT_EQ(link.device, "gpib0,7");
    const auto socket = ParseInstrumentResource("[::1]:5025");
    ASSERT_TRUE(socket);
    EXPECT_EQ(std::get<SocketResource>(socket->where).host, "::1");
    EXPECT_EQ(SocketText(std::get<SocketResource>(socket->where)), "[::1]:5025");
}

TEST(ConnectionOptions, SerialSettings) {
    const Case cases[] = {
        {"9600", "9600,8N1,none"},
        {"115200,8N1", "115200,8N1,none"},
        {"19200,7E2,rtscts", "19200,7E2,rtscts"},
        {"9600,xonxoff", "9600,8N1,xonxoff"},
        {"9600,8o1,DTRDSR", "9600,8O1,dtrdsr"},
        {"50,5N1", "50,5N1,none"},
        {"4000000", "4000000,8N1,none"},
        {"", std::nullopt},
        {"9601", std::nullopt},
        {"0", std::nullopt},
        {"4000001", std::nullopt},
        {"99999999999", std::nullopt},
        {"abc", std::nullopt},
        {"9600,", std::nullopt},
        {",8N1", std::nullopt},
        {"9600,9N1", std::nullopt},
        {"9600,4N1", std::nullopt},
        {"9600,8X1", std::nullopt},
        {"9600,8N3", std::nullopt},
        {"9600,none,8N1", std::nullopt},
        {"9600,8N1,8N1", std::nullopt},
        {"9600,none,none", std::nullopt},
        {"9600,8N1,none,x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto settings = ParseSerialSettings(c.text);
        ASSERT_EQ(settings.has_value(), c.canonical.has_value());
        if (settings) {
            EXPECT_EQ(settings->Text(), *c.canonical);
        }
    }
}

TEST(ConnectionOptions, GpibAdaptersAndLineEnds) {
    const Case cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"gpib-lan", "gpib-lan:1234"},
        {"10.0.0.9:1234", "10.0.0.9:1234"},
        {"host:80", "host:80"},
        {"[fe80::2]:4000", "[fe80::2]:4000"},
        {"[::1]", "[::1]:1234"},
        {"", std::nullopt},
        {"/", std::nullopt},
        {"/dev/tty\x01", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:70000", std::nullopt},
        {":1234", std::nullopt},
        {"[::1", std::nullopt},
        {"[]", std::nullopt},
        {"[::1]x", std::nullopt},
        {"[::1]:", std::nullopt},
        {"[host]:1234", std::nullopt},
        {"ho st", std::nullopt},
        {"fe80::2", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto adapter = ParseGpibAdapter(c.text);
        ASSERT_EQ(adapter.has_value(), c.canonical.has_value());
        if (adapter) {
            EXPECT_EQ(GpibAdapterText(*adapter), *c.canonical);
        }
    }
    EXPECT_EQ(ParseLineEnd("lf"), LineEnd::Lf);
    EXPECT_EQ(ParseLineEnd("CRLF"), LineEnd::CrLf);
    EXPECT_EQ(ParseLineEnd("cr"), std::nullopt);
    EXPECT_EQ(ParseLineEnd(""), std::nullopt);
}

}  // namespace
}  // namespace tarnel::scpi::client
