// The emulated board driven through unmodified libusb, in this process.
// Runs under umockdev-wrapper, as the emulated board requires.
#include <gtest/gtest.h>
#include <libusb.h>

#include <array>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "tarnel/board_protocol.h"
#include "tarnel/emulated_board.h"

namespace {

namespace p = tarnel::protocol;
using tarnel::emulator::EmulatedBoard;
using tarnel::emulator::Options;
using tarnel::emulator::RequestRecord;

constexpr unsigned kTimeoutMs = 1000;
constexpr unsigned kShortTimeoutMs = 100;
constexpr std::uint8_t kOut = 0x40;   // vendor request to the device, host to board
constexpr std::uint8_t kIn = 0xC0;    // vendor request to the device, board to host
const std::vector<std::uint8_t> kTinyImage{0x02, 0x00, 0x06, 0x80, 0xFE};

class LibusbBoard : public ::testing::Test {
protected:
    void start(Options options = {}) {
        board_.emplace(std::move(options));
        ASSERT_EQ(libusb_init(&context_), LIBUSB_SUCCESS);
    }

    void TearDown() override {
        if (handle_ != nullptr) libusb_close(handle_);
        if (context_ != nullptr) libusb_exit(context_);
        board_.reset();
    }

    // libusb learns of a (re)plugged board from the "add" event, on its own thread.
    libusb_device_handle* openBoard() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        libusb_device_handle* handle = nullptr;
        while ((handle = libusb_open_device_with_vid_pid(context_, p::kVendorId, p::kProductId)) == nullptr &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (handle != nullptr) {
            EXPECT_EQ(libusb_claim_interface(handle, p::kInterfaceNumber), LIBUSB_SUCCESS);
        }
        return handle;
    }

    int control(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                std::vector<std::uint8_t>& data, unsigned timeout = kTimeoutMs) {
        return libusb_control_transfer(handle_, type, request, value, index, data.data(),
                                       static_cast<std::uint16_t>(data.size()), timeout);
    }
    int writeCpucs(std::uint8_t value) {
        std::vector<std::uint8_t> data{value};
        return control(kOut, p::kRequestRamAccess, p::kCpucsAddress, 0, data);
    }
    void loadTinyImage() {
        std::vector<std::uint8_t> image = kTinyImage;
        ASSERT_EQ(writeCpucs(p::kCpucsReset), 1);
        ASSERT_EQ(control(kOut, p::kRequestRamAccess, 0x0000, 0, image), static_cast<int>(image.size()));
        ASSERT_EQ(writeCpucs(p::kCpucsRun), 1);
    }
    int writeDac(std::uint32_t inputWord) {
        std::vector<std::uint8_t> none;
        return control(kOut, p::kRequestDacWrite, p::DacValueFor(inputWord), p::DacIndexFor(inputWord), none);
    }
    int readConverter(std::vector<std::uint8_t>& reply, unsigned timeout = kTimeoutMs) {
        reply.assign(p::kConverterReadLength, 0);
        return control(kIn, p::kRequestConverterRead, 0, 0, reply, timeout);
    }

    std::optional<EmulatedBoard> board_;
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

TEST_F(LibusbBoard, LoadsFirmwareWritesTheDacAndReadsItBack) {
    start();
    handle_ = openBoard();
    ASSERT_NE(handle_, nullptr);
    loadTinyImage();
    EXPECT_TRUE(board_->firmwareRunning());

    std::vector<std::uint8_t> readBack(kTinyImage.size());
    ASSERT_EQ(control(kIn, p::kRequestRamAccess, 0x0000, 0, readBack), static_cast<int>(kTinyImage.size()));
    EXPECT_EQ(readBack, kTinyImage);

    const std::uint32_t halfScale = 0x20000u << p::kDataShift;
    ASSERT_EQ(writeDac(halfScale), 0);
    EXPECT_EQ(board_->dacInputWord(), halfScale);
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(readConverter(reply), 2);
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{0x10, 0x00}));   // code 2048, each byte mirrored

    const auto log = board_->requests();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4].request, p::kRequestDacWrite);
    EXPECT_EQ(log[4].value, 0x0000);
    EXPECT_EQ(log[4].index, 0x1808);
    EXPECT_FALSE(log[4].toHost);
    EXPECT_EQ(log[5].request, p::kRequestConverterRead);
    EXPECT_TRUE(log[5].toHost);
    EXPECT_EQ(log[5].length, 2);
}

TEST_F(LibusbBoard, DacAndConverterStallUntilFirmwareRuns) {
    start();
    handle_ = openBoard();
    ASSERT_NE(handle_, nullptr);
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(readConverter(reply), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(writeDac(0), LIBUSB_ERROR_PIPE);
    // A stall leaves the board usable.
    loadTinyImage();
    EXPECT_EQ(readConverter(reply), 2);
}

TEST_F(LibusbBoard, UnansweredRequestTimesOutAndTheBoardStaysUsable) {
    Options options;
    options.timeoutRequests = {p::kRequestConverterRead};
    start(options);
    handle_ = openBoard();
    ASSERT_NE(handle_, nullptr);
    loadTinyImage();
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(readConverter(reply, kShortTimeoutMs), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(writeDac(0), 0);
    EXPECT_EQ(board_->requests().at(3).outcome, RequestRecord::Outcome::Unanswered);
}

TEST_F(LibusbBoard, StallOptionFailsTheFirmwareLoad) {
    Options options;
    options.stallRequests = {p::kRequestRamAccess};
    start(options);
    handle_ = openBoard();
    ASSERT_NE(handle_, nullptr);
    EXPECT_EQ(writeCpucs(p::kCpucsReset), LIBUSB_ERROR_PIPE);
    EXPECT_FALSE(board_->firmwareRunning());
}

TEST_F(LibusbBoard, UnplugAfterNRequestsLeavesOldHandlesDeadAfterReplug) {
    Options options;
    options.unplugAfter = 2;
    start(options);
    handle_ = openBoard();
    ASSERT_NE(handle_, nullptr);
    loadTinyImage();
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(writeDac(0), 0);
    EXPECT_EQ(readConverter(reply), 2);   // the second one is still answered
    EXPECT_FALSE(board_->plugged());
    EXPECT_EQ(writeDac(0), LIBUSB_ERROR_NO_DEVICE);

    board_->plug();
    EXPECT_EQ(writeCpucs(p::kCpucsReset), LIBUSB_ERROR_NO_DEVICE);
    libusb_device_handle* fresh = openBoard();
    ASSERT_NE(fresh, nullptr);
    std::swap(fresh, handle_);
    libusb_close(fresh);
    EXPECT_FALSE(board_->firmwareRunning());   // a replugged board starts without firmware
    loadTinyImage();
    EXPECT_EQ(writeDac(0), 0);                 // and counts its requests afresh
    EXPECT_TRUE(board_->plugged());
}

TEST_F(LibusbBoard, NoBoardMeansNoDevice) {
    Options options;
    options.noBoard = true;
    start(options);
    EXPECT_EQ(libusb_open_device_with_vid_pid(context_, p::kVendorId, p::kProductId), nullptr);
}

}  // namespace
