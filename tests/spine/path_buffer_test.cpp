// The firmware path as the library receives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "link/usb_stuff.h"
#include "state/run_time_error.h"

namespace {

using USBStuff::PathBuffer;

class PathBufferTest : public ::testing::Test {
protected:
    void SetUp() override { USBStuff::ResetUsbStuff(); }
};

TEST_F(PathBufferTest, CopiesThePathAndTerminatesIt) {
    const std::string cases[] = {
        "/srv/Tools/Ev/Brisan.hex",             // 24 bytes: 0..23, terminator in 24
        "/home/jörg/eval/Brisan.hex",           // bytes of a UTF-8 folder, as they are
        "",
        std::string(512, 'a'),
    };
    for (const auto& path : cases) {
        PathBuffer.fill(0xEE);
        USBStuff::FillPathBuffer(path);
        EXPECT_TRUE(std::equal(path.begin(), path.end(), PathBuffer.begin(),
                               [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
        EXPECT_EQ(PathBuffer[path.size()], 0) << path.size();
        if (path.size() + 1 < PathBuffer.size()) {
            EXPECT_EQ(PathBuffer[path.size() + 1], 0xEE) << "bytes after the terminator keep their value";
        }
    }
}

TEST_F(PathBufferTest, PathLongerThan512BytesIsRefusedWithItsCause) {
    const std::string path(513, 'b');
    try {
        USBStuff::FillPathBuffer(path);
        FAIL() << "a 513-byte path must not fit";
    } catch (const tarnel::RunTimeError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Firmware path is longer than 512 bytes: bbb", 0), 0u)
            << error.what();
    }
    EXPECT_TRUE(std::all_of(PathBuffer.begin(), PathBuffer.end(), [](std::uint8_t b) { return b == 'b'; }));
}

}  // namespace
