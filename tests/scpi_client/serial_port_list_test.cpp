// The serial listing on a made-up sysfs: which ports it shows, in which
// order, and the maker and product of the USB device above a port.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "scpi/client/serial_port_list.h"

namespace tarnel::scpi::client {
namespace {

namespace fs = std::filesystem;

class SerialPortList : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serial-list-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "class");
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    // A port: its device folder under devices/ and the class entry leading to it.
    void Port(const std::string& name, const fs::path& deviceFolder, bool node = true) {
        fs::create_directories(root_ / "devices" / deviceFolder);
        fs::create_directories(root_ / "class" / name);
        fs::create_directory_symlink(root_ / "devices" / deviceFolder, root_ / "class" / name / "device");
        if (node) Write(root_ / "dev" / name, "");
    }

    fs::path root_;
};

TEST_F(SerialPortList, ShowsUsbPortsAndRealUartsInOrderWithTheirUsbDevice) {
    Write(root_ / "devices/usb1/1-2/idVendor", "0403");
    Write(root_ / "devices/usb1/1-2/manufacturer", "Bench Serial Co");
    Write(root_ / "devices/usb1/1-2/product", "USB-RS232 Cable");
    Port("ttyUSB0", "usb1/1-2/1-2:1.0/ttyUSB0");
    Port("ttyACM0", "usb1/1-3/1-3:1.0");
    Port("ttyS10", "platform/serial8250/port10");
    Write(root_ / "class/ttyS10/type", "4");
    Port("ttyS2", "pnp/00:02");
    Write(root_ / "class/ttyS2/type", "4");
    Port("ttyS3", "platform/serial8250/port3");   // a placeholder without a UART
    Write(root_ / "class/ttyS3/type", "0");
    fs::create_directories(root_ / "class/tty0");  // a virtual terminal: no device
    fs::create_directories(root_ / "class/console");
    Port("ttyUSB1", "usb1/1-4/1-4:1.0/ttyUSB1", false);

    const auto ports = ListSerialPorts(root_ / "class", root_ / "dev");
    std::vector<std::string> resources;
    for (const auto& port : ports) {
        resources.push_back(port.resource.Text());
        EXPECT_EQ(port.kind, "serial");
    }
    const std::string dev = (root_ / "dev").string();
    EXPECT_EQ(resources, (std::vector<std::string>{"ASRL" + dev + "/ttyACM0::INSTR", "ASRL" + dev + "/ttyS2::INSTR",
                                                   "ASRL" + dev + "/ttyS10::INSTR", "ASRL" + dev + "/ttyUSB0::INSTR",
                                                   "ASRL" + dev + "/ttyUSB1::INSTR"}));
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[3].manufacturer, "Bench Serial Co");
    EXPECT_EQ(ports[3].product, "USB-RS232 Cable");
    EXPECT_FALSE(ports[3].problem);
    EXPECT_EQ(ports[1].manufacturer, "");
    ASSERT_TRUE(ports[4].problem);
    EXPECT_NE(ports[4].problem->find("device node " + dev + "/ttyUSB1 is missing"), std::string::npos);
}

TEST_F(SerialPortList, NothingWhereSysfsHasNoTtyClass) {
    EXPECT_TRUE(ListSerialPorts(root_ / "missing", root_ / "dev").empty());
}

}  // namespace
}  // namespace tarnel::scpi::client
