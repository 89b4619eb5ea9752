// The emulated board driven through unmodified libusb, in this process: the
// usbfs side (submit, reap, discard, stall, unplug). The board's arithmetic
// is the model test's. Runs under umockdev-wrapper, as the emulated board requires.
#include <gtest/gtest.h>
#include <libusb.h>

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

const std::vector<std::uint8_t> kTinyImage{0x02, 0x00, 0x06, 0x80, 0xFE};

class LibusbBoard : public ::testing::Test {
protected:
    void Start(Options options = {}) {
        board_.emplace(std::move(options));
        ASSERT_EQ(libusb_init(&context_), LIBUSB_SUCCESS);
        handle_ = OpenBoard();
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        if (handle_ != nullptr) libusb_close(handle_);
        if (context_ != nullptr) libusb_exit(context_);
        board_.reset();
    }

    // libusb learns of a (re)plugged board from the "add" event, on its own thread.
    libusb_device_handle* OpenBoard() {
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

    // A vendor request; type 0x40 sends data to the board, 0xC0 fills data from it.
    int Control(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                std::vector<std::uint8_t>& data, unsigned timeoutMs = p::kControlTimeoutMs) {
        return libusb_control_transfer(handle_, type, request, value, index, data.data(),
                                       static_cast<std::uint16_t>(data.size()), timeoutMs);
    }
    int Send(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::vector<std::uint8_t> data = {}) {
        return Control(0x40, request, value, index, data);
    }
    int ReadConverter(std::vector<std::uint8_t>& reply, unsigned timeoutMs = p::kControlTimeoutMs) {
        reply.assign(p::kConverterReadLength, 0);
        return Control(0xC0, p::kRequestConverterRead, 0, 0, reply, timeoutMs);
    }
    void LoadTinyImage() {
        ASSERT_EQ(Send(p::kRequestRamAccess, p::kCpucsAddress, 0, {p::kCpucsReset}), 1);
        ASSERT_EQ(Send(p::kRequestRamAccess, 0x0000, 0, kTinyImage), static_cast<int>(kTinyImage.size()));
        ASSERT_EQ(Send(p::kRequestRamAccess, p::kCpucsAddress, 0, {p::kCpucsRun}), 1);
    }

    std::optional<EmulatedBoard> board_;
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

TEST_F(LibusbBoard, StallsBeforeTheFirmwareThenCarriesDataBothWays) {
    Start();
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(ReadConverter(reply), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(Send(p::kRequestDacWrite, 0, 0x1800), LIBUSB_ERROR_PIPE);

    LoadTinyImage();   // a stall leaves the board usable
    std::vector<std::uint8_t> readBack(kTinyImage.size());
    ASSERT_EQ(Control(0xC0, p::kRequestRamAccess, 0x0000, 0, readBack), static_cast<int>(kTinyImage.size()));
    EXPECT_EQ(readBack, kTinyImage);
    ASSERT_EQ(Send(p::kRequestDacWrite, 0x5C00, 0x180A), 0);
    EXPECT_EQ(board_->dacInputWord(), 0x0A5C00u);
    ASSERT_EQ(ReadConverter(reply), 2);
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{0x50, 0x3A}));   // code 0xA5C
}

TEST_F(LibusbBoard, UnansweredRequestTimesOutAndTheBoardStaysUsable) {
    Options options;
    options.timeoutRequests = {p::kRequestConverterRead};
    Start(options);
    LoadTinyImage();
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(ReadConverter(reply, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(Send(p::kRequestDacWrite, 0, 0x1800), 0);
    EXPECT_EQ(ReadConverter(reply, 100), LIBUSB_ERROR_TIMEOUT);
}

TEST_F(LibusbBoard, UnplugAfterNRequestsLeavesOldHandlesDeadAfterReplug) {
    Options options;
    options.unplugAfter = 2;
    Start(options);
    LoadTinyImage();
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(Send(p::kRequestDacWrite, 0, 0x1800), 0);
    EXPECT_EQ(ReadConverter(reply), 2);   // the second one is still answered
    EXPECT_FALSE(board_->plugged());
    EXPECT_EQ(Send(p::kRequestDacWrite, 0, 0x1800), LIBUSB_ERROR_NO_DEVICE);

    board_->plug();
    EXPECT_EQ(Send(p::kRequestRamAccess, p::kCpucsAddress, 0, {p::kCpucsReset}), LIBUSB_ERROR_NO_DEVICE);
    libusb_device_handle* fresh = OpenBoard();
    ASSERT_NE(fresh, nullptr);
    std::swap(fresh, handle_);
    libusb_close(fresh);
    EXPECT_FALSE(board_->firmwareRunning());   // a replugged board starts without firmware
    LoadTinyImage();
    EXPECT_EQ(Send(p::kRequestDacWrite, 0, 0x1800), 0);   // and counts its requests afresh
    EXPECT_TRUE(board_->plugged());
}

}  // namespace
