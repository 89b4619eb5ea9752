// Loading the board-access library: at the first call, each entry point at
// its own first call, and a clear run-time error when either is missing.
#include <gtest/gtest.h>

#include <string>

#include "double_control.h"
#include "link/newer_library_binding.h"
#include "link/older_library_binding.h"
#include "link/usb_stuff.h"
#include "state/run_time_error.h"

namespace tarnel::testing {
namespace {

std::string MessageOf(auto&& call) {
    try {
        call();
    } catch (const RunTimeError& error) {
        return error.what();
    }
    return "no error";
}

TEST(LibraryBinding, MissingLibraryNamesThePathAndTheLoaderText) {
    link::NewerLibraryBinding newer("/nonexistent/velorn/libKTV_CYUSB_USB4.so");
    const std::string message = MessageOf([&] { newer.LoadFirmware(); });
    EXPECT_NE(message.find("/nonexistent/velorn/libKTV_CYUSB_USB4.so"), std::string::npos) << message;
    EXPECT_NE(message.find("No such file"), std::string::npos) << message;

    link::OlderLibraryBinding older("libToveri-not-there.so");
    EXPECT_NE(MessageOf([&] { older.LoadFirmware(); }).find("libToveri-not-there.so"), std::string::npos);
}

TEST(LibraryBinding, MissingEntryPointIsRaisedAtItsFirstCall) {
    DoubleLibrary incomplete(TARNEL_NEWER_DOUBLE_WITHOUT_REQUESTS);
    link::NewerLibraryBinding newer(TARNEL_NEWER_DOUBLE_WITHOUT_REQUESTS);
    USBStuff::ResetUsbStuff();

    // The load works: its entry points exist.
    EXPECT_EQ(newer.LoadFirmware(), 0);
    std::uint8_t buffer[2] = {};
    const std::string message =
        MessageOf([&] { newer.Request(0xDA, 0, 0, protocol::Direction::FromBoard, 2, buffer); });
    EXPECT_NE(message.find("Vendor_Request"), std::string::npos) << message;
    EXPECT_NE(message.find(TARNEL_NEWER_DOUBLE_WITHOUT_REQUESTS), std::string::npos) << message;
}

}  // namespace
}  // namespace tarnel::testing
