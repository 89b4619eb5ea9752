// The usbfs requests of the emulated board, made directly on its device node
// as a client without libusb would: the answers a Linux kernel gives for a
// device with only endpoint 0 and no kernel driver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace p = tarnel::protocol;
using tarnel::emulator::EmulatedBoard;
using tarnel::emulator::Options;

// errno of a failed ioctl, 0 when it succeeded.
int ErrorOf(int result) { return result < 0 ? errno : 0; }

class UsbfsRequestsTest : public ::testing::Test {
protected:
    void Open(const Options& options = {}) {
        board_ = std::make_unique<EmulatedBoard>(options);
        fd_ = ::open(board_->DeviceNode().c_str(), O_RDWR);
        ASSERT_GE(fd_, 0) << board_->DeviceNode();
    }
    void TearDown() override {
        if (fd_ >= 0) ::close(fd_);
    }
    // A converter read as one synchronous control transfer.
    int ReadConverter(unsigned timeoutMs) {
        usbdevfs_ctrltransfer transfer{0xC0, p::kRequestConverterRead, 0, 0, 2, timeoutMs, reply_};
        return ErrorOf(::ioctl(fd_, USBDEVFS_CONTROL, &transfer));
    }

    std::unique_ptr<EmulatedBoard> board_;
    int fd_ = -1;
    std::uint8_t reply_[2] = {};
};

TEST_F(UsbfsRequestsTest, DescriptorsReadFromTheNodeAndConnectionInfo) {
    Open();
    std::vector<std::uint8_t> bytes(18 + 9 + 9 + 5, 0xEE);
    ASSERT_EQ(::read(fd_, bytes.data(), 10), 10);
    ASSERT_EQ(::read(fd_, bytes.data() + 10, bytes.size() - 10), 26) << "the file position carries on";
    EXPECT_EQ(::read(fd_, bytes.data(), 1), 0) << "end of the descriptors";
    EXPECT_EQ(bytes[1], 1);    // device descriptor
    EXPECT_EQ(bytes[8] | bytes[9] << 8, p::kVendorId);
    EXPECT_EQ(bytes[10] | bytes[11] << 8, p::kProductId);
    EXPECT_EQ(bytes[19], 2);   // then the configuration

    usbdevfs_connectinfo info{};
    ASSERT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_CONNECTINFO, &info)), 0);
    EXPECT_EQ("/dev/bus/usb/001/" + std::string(3 - std::to_string(info.devnum).size(), '0') +
                  std::to_string(info.devnum),
              board_->DeviceNode());
    EXPECT_EQ(info.slow, 0);
    EXPECT_EQ(::write(fd_, bytes.data(), 1), -1) << "usbfs files cannot be written";
}

TEST_F(UsbfsRequestsTest, DeviceRequestsAnswerAsWithNoKernelDriver) {
    Open();
    unsigned interface = p::kInterfaceNumber;
    unsigned otherInterface = 1;
    usbdevfs_getdriver driver{};
    usbdevfs_ioctl disconnect{p::kInterfaceNumber, static_cast<int>(USBDEVFS_DISCONNECT), nullptr};
    usbdevfs_ioctl connect{p::kInterfaceNumber, static_cast<int>(USBDEVFS_CONNECT), nullptr};
    usbdevfs_ioctl hubQuery{p::kInterfaceNumber, static_cast<int>(_IOR('U', 17, char[8])), nullptr};
    const struct { const char* name; unsigned long request; void* argument; int error; } cases[] = {
        {"claim", USBDEVFS_CLAIMINTERFACE, &interface, 0},
        {"claim another interface", USBDEVFS_CLAIMINTERFACE, &otherInterface, ENOENT},
        {"driver bound", USBDEVFS_GETDRIVER, &driver, ENODATA},
        {"disconnect the driver", USBDEVFS_IOCTL, &disconnect, ENODATA},
        {"connect a driver", USBDEVFS_IOCTL, &connect, 0},
        {"a driver's own request", USBDEVFS_IOCTL, &hubQuery, ENOTTY},
        {"clear halt", USBDEVFS_CLEAR_HALT, &interface, 0},
        {"release", USBDEVFS_RELEASEINTERFACE, &interface, 0},
        {"not emulated", USBDEVFS_GET_SPEED, nullptr, ENOTTY},
    };
    for (const auto& c : cases) EXPECT_EQ(ErrorOf(::ioctl(fd_, c.request, c.argument)), c.error) << c.name;
}

TEST_F(UsbfsRequestsTest, SynchronousControlTransfersStallTimeOutAndEndWithTheBoard) {
    Options options;
    options.timeoutRequests = {p::kRequestRamAccess};
    Open(options);
    EXPECT_EQ(ReadConverter(1000), EPIPE) << "no firmware: the board stalls";
    std::vector<std::uint8_t> tooLong(4097);
    usbdevfs_ctrltransfer oversized{0xC0, p::kRequestRamAccess, 0, 0, 4097, 1000, tooLong.data()};
    EXPECT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_CONTROL, &oversized)), EINVAL) << "more than one page";
    usbdevfs_ctrltransfer unanswered{0xC0, p::kRequestRamAccess, 0xE000, 0, 1, 50, reply_};
    EXPECT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_CONTROL, &unanswered)), ETIMEDOUT);
    board_->Unplug();
    EXPECT_EQ(ReadConverter(1000), ENODEV);
}

TEST_F(UsbfsRequestsTest, UrbsAreReapedAndEndWithTheBoard) {
    Options options;
    options.timeoutRequests = {p::kRequestDacWrite};
    Open(options);
    std::uint8_t setup[8 + 2] = {0xC0, p::kRequestConverterRead, 0, 0, 0, 0, 2, 0};
    usbdevfs_urb read{};
    read.type = USBDEVFS_URB_TYPE_CONTROL;
    read.buffer = setup;
    read.buffer_length = sizeof setup;
    usbdevfs_urb* reaped = nullptr;
    EXPECT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_REAPURBNDELAY, &reaped)), EAGAIN) << "nothing submitted";
    ASSERT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_SUBMITURB, &read)), 0);
    ASSERT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_REAPURB, &reaped)), 0);
    EXPECT_EQ(reaped, &read);
    EXPECT_EQ(read.status, -EPIPE);

    // A URB the board never answers ends with ESHUTDOWN when it leaves; then nothing is left to reap.
    std::uint8_t dacSetup[8] = {0x40, p::kRequestDacWrite, 0, 0, 0x08, 0x18, 0, 0};
    usbdevfs_urb write{};
    write.type = USBDEVFS_URB_TYPE_CONTROL;
    write.buffer = dacSetup;
    write.buffer_length = sizeof dacSetup;
    ASSERT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_SUBMITURB, &write)), 0);
    board_->Unplug();
    ASSERT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_REAPURB, &reaped)), 0);
    EXPECT_EQ(reaped, &write);
    EXPECT_EQ(write.status, -ESHUTDOWN);
    EXPECT_EQ(ErrorOf(::ioctl(fd_, USBDEVFS_REAPURB, &reaped)), ENODEV);
}

}  // namespace
