// USB port paths as --board and the server's configuration take them, and
// the order boards are served in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/usb_port_path.h"

namespace tarnel::cli {
namespace {

TEST(UsbPortPathTest, AcceptsBusDashPortsOnly) {
    const struct { std::string text; bool accepted; } cases[] = {
        {"1-1", true},         {"1-1.2", true},          {"255-255.255.1.2.3.4.5", true},
        {"12-3.10", true},     {"", false},              {"1", false},
        {"1-", false},         {"-1", false},            {"0-1", false},
        {"1-0", false},        {"1-01", false},          {"256-1", false},
        {"1-256", false},      {"1-2.", false},          {"1-.2", false},
        {"1-2..3", false},     {"1-2-3", false},         {"1-1.2.3.4.5.6.7.8", false},
        {"1-+2", false},       {"1-2 ", false},          {"usb1", false},
        {"1-1:1.0", false},
    };
    for (const auto& [text, accepted] : cases) EXPECT_EQ(IsUsbPortPath(text), accepted) << "'" << text << "'";
}

TEST(UsbPortPathTest, OrdersByBusThenPortNumbers) {
    std::vector<std::string> paths{"2-1", "1-10", "1-2.1", "1-2", "1-9.3", "1-1.1.1", "10-1", "1-1"};
    std::sort(paths.begin(), paths.end(), [](const auto& a, const auto& b) { return UsbPortPathBefore(a, b); });
    EXPECT_EQ(paths, (std::vector<std::string>{"1-1", "1-1.1.1", "1-2", "1-2.1", "1-9.3", "1-10", "2-1", "10-1"}));
}

}  // namespace
}  // namespace tarnel::cli
