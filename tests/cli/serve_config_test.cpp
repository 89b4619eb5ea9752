// The plan of tarnelctl serve: /etc/tarnel/scpi.conf read line by line, its
// refusals with their line numbers, and the plan without a file.
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "serve/serve_config.h"

namespace tarnel::cli {
namespace {

constexpr std::string_view kFile = "/etc/tarnel/scpi.conf";

std::string AllowText(const ServePlan& plan) { return plan.allow ? plan.allow->Text() : "none"; }

TEST(ServeConfigTest, BoardLinesCommentsAndTheAllowLine) {
    const struct { std::string text; std::vector<ServedBoard> boards; std::string allow; } cases[] = {
        {"# port path   raw port   VXI-11 device name\n"
         "1-1.2         5025       inst0\n"
         "\n"
         "   # a spare\n"
         "1-1.3\t5026\n"
         "allow 192.168.1.0/24, fd00::/8\n",
         {{"1-1.2", 5025, "inst0"}, {"1-1.3", 5026, "inst1"}},
         "loopback, 192.168.1.0/24, fd00::/8"},
        // Unnamed boards take the lowest inst<N> no line names, in the file's order.
        {"1-1 5025\n1-2 5026 inst0\n1-3 5027\n2-1 5028 inst2\n1-4 5029",
         {{"1-1", 5025, "inst1"}, {"1-2", 5026, "inst0"}, {"1-3", 5027, "inst3"}, {"2-1", 5028, "inst2"},
          {"1-4", 5029, "inst4"}},
         "none"},
        {"1-1 5025 gpib0,5 # the bench board\r\nallow any\r\n", {{"1-1", 5025, "gpib0,5"}}, "any address"},
        {"allow 10.0.0.0/8", {}, "loopback, 10.0.0.0/8"},
        {"", {}, "none"},
        {"\n\n# nothing planned\n", {}, "none"},
    };
    for (const auto& [text, boards, allow] : cases) {
        try {
            const ServePlan plan = ParseServeConfig(text, kFile);
            EXPECT_EQ(plan.boards, boards) << text;
            EXPECT_EQ(AllowText(plan), allow) << text;
        } catch (const ServeConfigError& error) {
            ADD_FAILURE() << text << ": refused: " << error.what();
        }
    }
}

TEST(ServeConfigTest, ABadLineIsRefusedWithItsNumberAndCause) {
    const struct { std::string text; std::string says; } cases[] = {
        {"1-1\n", "line 1: board 1-1 has no raw port"},
        {"\n# boards\n1-1 5025 inst0 spare", "line 3: too many fields for board 1-1"},
        {"1-1 0", "line 1: raw port '0' is not a TCP port — give one from 1 to 65535"},
        {"1-1 65536", "raw port '65536' is not a TCP port"},
        {"1-1 50x25", "raw port '50x25' is not a TCP port"},
        {"1-1 -1", "raw port '-1' is not a TCP port"},
        {"usb1 5025", "line 1: 'usb1' is not a USB port path"},
        {"5025 1-1", "'5025' is not a USB port path"},
        {"Allow any", "'Allow' is not a USB port path"},
        {"1-1 5025 0inst", "'0inst' is not a VXI-11 device name"},
        {"1-1 5025 in/st", "'in/st' is not a VXI-11 device name"},
        {"1-1 5025 " + std::string(65, 'a'), "is not a VXI-11 device name"},
        {"1-1 5025\n1-1 5026", "line 2: board 1-1 is on line 1 too"},
        {"1-1 5025\n# x\n1-2 5025", "line 3: raw port 5025 is taken by line 1"},
        {"1-1 5025 dev\n1-2 5026 dev", "line 2: device name dev is taken by line 1"},
        {"allow 10.0.0.0/8\n1-1 5025\nallow fd00::/8", "line 3: a second allow line (the first is line 1)"},
        {"allow", "line 1: allow needs networks"},
        {"allow # later", "line 1: allow needs networks"},
        {"1-1 5025\nallow 10.1.0.0/8", "line 2: allow-list entry '10.1.0.0/8' has bits set past its /8"},
        {"allow 10.0.0.0/8 fd00::/8", "has a blank inside"},
    };
    for (const auto& [text, says] : cases) {
        try {
            ParseServeConfig(text, kFile);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ServeConfigError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind(std::string(kFile) + " line ", 0), 0u) << message;
            EXPECT_NE(message.find(says), std::string::npos) << text << ": " << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
        }
    }
}

TEST(ServeConfigTest, WithoutAFileBoardsTakeConsecutivePortsInPortPathOrder) {
    const auto listen = [](std::uint16_t port) { return scpi::ListenAddress{"0.0.0.0", port}; };
    const struct { std::vector<std::string> paths; std::uint16_t port; std::vector<ServedBoard> boards; } cases[] = {
        {{"1-10", "1-2", "2-1", "1-2.1"},
         5025,
         {{"1-2", 5025, "inst0"}, {"1-2.1", 5026, "inst1"}, {"1-10", 5027, "inst2"}, {"2-1", 5028, "inst3"}}},
        {{}, 5025, {}},
        {{"1-2", "1-1"}, 0, {{"1-1", 0, "inst0"}, {"1-2", 0, "inst1"}}},
        {{"1-1"}, 65535, {{"1-1", 65535, "inst0"}}},
        {{"1-1", "1-2"}, 65534, {{"1-1", 65534, "inst0"}, {"1-2", 65535, "inst1"}}},
    };
    for (const auto& [paths, port, boards] : cases) {
        const ServePlan plan = DefaultServePlan(paths, listen(port));
        EXPECT_EQ(plan.boards, boards) << port;
        EXPECT_FALSE(plan.allow.has_value());
    }
    try {
        DefaultServePlan({"1-1", "1-2"}, listen(65535));
        ADD_FAILURE() << "ports past 65535 accepted";
    } catch (const ServeConfigError& error) {
        EXPECT_NE(std::string(error.what()).find("2 boards from port 65535 run past port 65535"), std::string::npos)
            << error.what();
    }
}

TEST(ServeConfigTest, ReadsTheFileIfThereIsOne) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tarnel_serve_config_test." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "scpi.conf").string();
    std::ofstream(file) << "1-1 5025\nallow any\n";
    const auto plan = ReadServeConfig(file);
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->boards, (std::vector<ServedBoard>{{"1-1", 5025, "inst0"}}));
    EXPECT_EQ(ReadServeConfig((folder / "absent.conf").string()), std::nullopt);
    std::ofstream(file) << "1-1 5025\n1-2\n";
    EXPECT_THROW(ReadServeConfig(file), ServeConfigError);
    EXPECT_THROW(ReadServeConfig(folder.string()), ServeConfigError) << "a folder is not a configuration";
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarnel::cli

namespace tarnel::cli {
namespace {

// A board that arrives while serving takes the first port from --listen's
// on that no served board uses, and the lowest inst<N> that none is named.
TEST(ServeConfigTest, ABoardThatArrivesTakesTheNextFreePortAndName) {
    const scpi::ListenAddress from5025{"127.0.0.1", 5025};
    const ServedBoard first{"1-1", 5025, "inst0"};
    const ServedBoard third{"1-3", 5027, "inst2"};
    const ServedBoard named{"1-4", 5026, "bench"};
    struct Case {
        const char* what;
        std::vector<ServedBoard> served;
        scpi::ListenAddress listen;
        std::optional<ServedBoard> planned;
    };
    const Case cases[] = {
        {"none served", {}, from5025, ServedBoard{"2-1", 5025, "inst0"}},
        {"a gap", {first, third}, from5025, ServedBoard{"2-1", 5026, "inst1"}},
        {"gap taken by another name", {first, named, third}, from5025, ServedBoard{"2-1", 5028, "inst1"}},
        {"any free port", {first}, {"0.0.0.0", 0}, ServedBoard{"2-1", 0, "inst1"}},
        {"last port", {}, {"127.0.0.1", 65535}, ServedBoard{"2-1", 65535, "inst0"}},
        {"past the last port", {{"1-1", 65535, "inst0"}}, {"127.0.0.1", 65535}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanForArrival(c.served, "2-1", c.listen), c.planned) << c.what;
    }
}

}  // namespace
}  // namespace tarnel::cli
