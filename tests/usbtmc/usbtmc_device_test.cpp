// The USB meter on the emulated bus, in process under the umockdev preload,
// talked to with raw libusb as a USBTMC host driver would: its descriptors
// and strings, the class requests, messages and replies with their headers
// across packets, transfers and URBs, aborts, clear, the status byte on
// interrupt IN, the TRIGGER message and the device reset.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulated_meter.h"
#include "scpi/client/usbtmc_header.h"
#include "usbtmc_meter_device.h"

namespace {

using namespace tarnel::emulator;
namespace usbtmc = tarnel::scpi::client::usbtmc;
using Bytes = std::vector<std::uint8_t>;

constexpr double kProbeVolts = 1.234567;
constexpr std::uint8_t kBulkOut = 0x01;
constexpr std::uint8_t kBulkIn = 0x82;
constexpr std::uint8_t kInterruptIn = 0x83;
constexpr unsigned kTimeoutMs = 5000;
constexpr unsigned kShortTimeoutMs = 100;   // for reads that must find nothing
constexpr std::uint8_t kClassToInterface = 0xA1;
constexpr std::uint8_t kClassToEndpoint = 0xA2;

std::uint8_t Code(usbtmc::Request request) { return static_cast<std::uint8_t>(request); }
std::uint8_t Code(usbtmc::Status status) { return static_cast<std::uint8_t>(status); }

class UsbtmcDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        MeterOptions options;
        options.speed = 1000;
        meter_ = std::make_unique<EmulatedMeter>([](const MeterModel::Aperture&) { return kProbeVolts; }, options);
        device_ = std::make_unique<UsbtmcMeterDevice>(*meter_, UsbMeterOptions{});
        ASSERT_EQ(libusb_init(&context_), 0);
        handle_ = libusb_open_device_with_vid_pid(context_, UsbMeterOptions{}.vendorId, kDefaultMeterProductId);
        ASSERT_NE(handle_, nullptr) << "the meter is not on the bus";
        ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
    }
    void TearDown() override {
        if (handle_ != nullptr) libusb_close(handle_);
        if (context_ != nullptr) libusb_exit(context_);
        device_.reset();
        meter_.reset();
    }

    // A bulk transfer; its libusb status (0 or LIBUSB_ERROR_*).
    int Bulk(std::uint8_t endpoint, Bytes& bytes, unsigned timeoutMs = kTimeoutMs) {
        int moved = 0;
        const int status = libusb_bulk_transfer(handle_, endpoint, bytes.data(), static_cast<int>(bytes.size()), &moved, timeoutMs);
        bytes.resize(static_cast<std::size_t>(moved));
        return status;
    }
    void Send(std::uint8_t tag, const std::string& text, bool eom = true) {
        Bytes transfer = usbtmc::DevDepMsgOut(tag, text, eom);
        ASSERT_EQ(Bulk(kBulkOut, transfer), 0);
    }
    void RequestIn(std::uint8_t tag, std::uint32_t size, std::optional<char> termChar = std::nullopt) {
        const auto header = usbtmc::RequestDevDepMsgIn(tag, size, termChar);
        Bytes transfer(header.begin(), header.end());
        ASSERT_EQ(Bulk(kBulkOut, transfer), 0);
    }
    // One bulk-IN read into a buffer of `room` bytes.
    Bytes ReadIn(std::size_t room = 64 * 1024, unsigned timeoutMs = kTimeoutMs) {
        Bytes bytes(room);
        const int status = Bulk(kBulkIn, bytes, timeoutMs);
        EXPECT_EQ(status, 0) << libusb_error_name(status);
        return bytes;
    }
    // The text of one DEV_DEP_MSG_IN, checked against the request's tag.
    std::string MessageOf(const Bytes& transfer, std::uint8_t tag, bool* eom = nullptr) {
        const auto header = usbtmc::DecodeHeader(transfer);
        EXPECT_TRUE(header.has_value());
        if (!header) return {};
        EXPECT_EQ(header->msgId, usbtmc::MsgId::DevDepMsgIn);
        EXPECT_EQ(header->tag, tag);
        EXPECT_EQ(transfer.size(), usbtmc::kHeaderSize + usbtmc::Padded(header->transferSize)) << "padded to 4";
        if (eom != nullptr) *eom = (header->attributes & usbtmc::kEom) != 0;
        return {transfer.begin() + usbtmc::kHeaderSize, transfer.begin() + usbtmc::kHeaderSize + header->transferSize};
    }
    std::string Query(const std::string& text, std::uint8_t tag = 1) {
        Send(tag, text);
        RequestIn(usbtmc::NextTag(tag), 64 * 1024);
        bool eom = false;
        const std::string reply = MessageOf(ReadIn(), usbtmc::NextTag(tag), &eom);
        EXPECT_TRUE(eom);
        return reply;
    }
    // A class request answered on endpoint 0.
    Bytes ClassRequest(std::uint8_t requestType, usbtmc::Request request, std::uint16_t value, std::uint16_t index,
                       std::uint16_t length) {
        Bytes answer(length);
        const int moved = libusb_control_transfer(handle_, requestType, Code(request), value, index, answer.data(),
                                                  length, kTimeoutMs);
        EXPECT_GE(moved, 0) << libusb_error_name(moved);
        answer.resize(moved < 0 ? 0 : static_cast<std::size_t>(moved));
        return answer;
    }
    // READ_STATUS_BYTE; the status byte from the interrupt-IN notification.
    std::uint8_t StatusByte(std::uint8_t tag) {
        EXPECT_EQ(ClassRequest(kClassToInterface, usbtmc::Request::ReadStatusByte, tag, 0, 3),
                  (Bytes{Code(usbtmc::Status::Success), tag, 0}));
        Bytes notification(8);
        int moved = 0;
        EXPECT_EQ(libusb_interrupt_transfer(handle_, kInterruptIn, notification.data(), 8, &moved, kTimeoutMs), 0);
        EXPECT_EQ(moved, 2);
        EXPECT_EQ(notification[0], usbtmc::kStatusByteNotification | tag);
        return notification[1];
    }
    // Asks for the status byte until it is `expected` (a line runs on the
    // meter's own thread); the last one seen.
    std::uint8_t StatusByteBecomes(std::uint8_t expected) {
        std::uint8_t seen = 0;
        for (int attempt = 0; attempt < 500; ++attempt) {
            seen = StatusByte(static_cast<std::uint8_t>(2 + attempt % 100));
            if (seen == expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return seen;
    }

    std::unique_ptr<EmulatedMeter> meter_;
    std::unique_ptr<UsbtmcMeterDevice> device_;
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

TEST_F(UsbtmcDeviceTest, DescriptorsStringsAndResource) {
    EXPECT_EQ(device_->Resource(), "USB0::0x1209::0xB212::EMU0001::INSTR");
    libusb_device_descriptor device{};
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(handle_), &device), 0);
    EXPECT_EQ(device.bcdUSB, 0x0200);
    EXPECT_EQ(device.bDeviceClass, 0) << "class per interface";
    EXPECT_EQ(device.bNumConfigurations, 1);
    EXPECT_EQ(libusb_get_device_speed(libusb_get_device(handle_)), LIBUSB_SPEED_HIGH);

    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(libusb_get_device(handle_), &config), 0);
    ASSERT_EQ(config->bNumInterfaces, 1);
    const libusb_interface_descriptor& interface = config->interface[0].altsetting[0];
    EXPECT_EQ(interface.bInterfaceClass, 0xFE);
    EXPECT_EQ(interface.bInterfaceSubClass, 0x03);
    EXPECT_EQ(interface.bInterfaceProtocol, 0x01);
    struct Endpoint {
        std::uint8_t address, type;
        std::uint16_t maxPacket;
    };
    const Endpoint expected[] = {{kBulkOut, LIBUSB_TRANSFER_TYPE_BULK, 512},
                                 {kBulkIn, LIBUSB_TRANSFER_TYPE_BULK, 512},
                                 {kInterruptIn, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8}};
    ASSERT_EQ(interface.bNumEndpoints, 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(interface.endpoint[i].bEndpointAddress, expected[i].address);
        EXPECT_EQ(interface.endpoint[i].bmAttributes & 0x03, expected[i].type);
        EXPECT_EQ(interface.endpoint[i].wMaxPacketSize, expected[i].maxPacket);
    }
    libusb_free_config_descriptor(config);

    const std::pair<std::uint8_t, std::string> strings[] = {{device.iManufacturer, "Tarnel emulated bench"},
                                                            {device.iProduct, "Emulated 6.5-digit DMM"},
                                                            {device.iSerialNumber, "EMU0001"}};
    for (const auto& [index, text] : strings) {
        unsigned char buffer[128] = {};
        const int length = libusb_get_string_descriptor_ascii(handle_, index, buffer, sizeof buffer);
        ASSERT_GT(length, 0) << "string " << int(index);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(length)), text);
    }
    unsigned char languages[4] = {};
    ASSERT_EQ(libusb_get_string_descriptor(handle_, 0, 0, languages, 4), 4);
    EXPECT_EQ(languages[2] | languages[3] << 8, 0x0409);
    unsigned char none[8];
    EXPECT_EQ(libusb_get_string_descriptor(handle_, 9, 0x0409, none, 8), LIBUSB_ERROR_PIPE) << "no string 9";
}

TEST_F(UsbtmcDeviceTest, Capabilities) {
    const Bytes answer = ClassRequest(kClassToInterface, usbtmc::Request::GetCapabilities, 0, 0, 0x18);
    ASSERT_EQ(answer.size(), 0x18u);
    const std::pair<std::size_t, std::uint8_t> expected[] = {
        {0, Code(usbtmc::Status::Success)},
        {2, 0x00}, {3, 0x01},   // USBTMC 1.00
        {4, usbtmc::kIndicatorPulseCapable},
        {5, usbtmc::kTermCharCapable},
        {12, 0x00}, {13, 0x01},   // USB488 1.00
        {14, usbtmc::kUsb488Capable | usbtmc::kRenControlCapable | usbtmc::kTriggerCapable},
        {15, usbtmc::kScpiCompliant | usbtmc::kRemoteLocalCapable | usbtmc::kDeviceTriggerCapable},
    };
    for (const auto& [byte, value] : expected) EXPECT_EQ(answer[byte], value) << "byte " << byte;
    // The requests without data of their own answer success.
    for (const auto request : {usbtmc::Request::IndicatorPulse, usbtmc::Request::RenControl, usbtmc::Request::GoToLocal,
                               usbtmc::Request::LocalLockout}) {
        EXPECT_EQ(ClassRequest(kClassToInterface, request, 1, 0, 1), Bytes{Code(usbtmc::Status::Success)});
    }
    Bytes ignored(1);
    EXPECT_EQ(libusb_control_transfer(handle_, kClassToInterface, Code(usbtmc::Request::GetCapabilities), 0, 1,
                                      ignored.data(), 1, kTimeoutMs),
              LIBUSB_ERROR_PIPE)
        << "there is no interface 1";
}

TEST_F(UsbtmcDeviceTest, QueryRepliesWithHeaderAndEchoesTags) {
    for (const std::uint8_t tag : {1, 2, 127, 254}) {
        SCOPED_TRACE(int(tag));
        Send(tag, "*IDN?\n");
        const std::uint8_t replyTag = usbtmc::NextTag(tag);
        RequestIn(replyTag, 1000);
        const Bytes transfer = ReadIn();
        ASSERT_GE(transfer.size(), usbtmc::kHeaderSize);
        EXPECT_EQ(transfer[2], static_cast<std::uint8_t>(~replyTag));
        bool eom = false;
        const std::string reply = MessageOf(transfer, replyTag, &eom);
        EXPECT_TRUE(eom);
        EXPECT_EQ(reply.rfind("Velorn,Tarnel Emulated DMM,", 0), 0u) << reply;
        EXPECT_EQ(reply.back(), '\n');
        for (std::size_t i = usbtmc::kHeaderSize + reply.size(); i < transfer.size(); ++i) EXPECT_EQ(transfer[i], 0);
    }
    const double reading = std::stod(Query("MEAS:VOLT:DC?"));
    EXPECT_NEAR(reading, kProbeVolts, 20e-6);
}

TEST_F(UsbtmcDeviceTest, MessagesSpanTransfersAndUrbs) {
    // A line over two transfers, the first without EOM; EOM ends a line without LF.
    Send(1, "*ID", false);
    Send(2, "N?", true);
    RequestIn(3, 1000);
    EXPECT_EQ(MessageOf(ReadIn(), 3).rfind("Velorn,", 0), 0u);
    // One transfer in three URBs, the header itself cut in two.
    const Bytes whole = usbtmc::DevDepMsgOut(4, "SAMP:COUN 7;:SAMP:COUN?\n", true);
    for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 5}, {5, 15}, {15, whole.size()}}) {
        Bytes part(whole.begin() + static_cast<std::ptrdiff_t>(from), whole.begin() + static_cast<std::ptrdiff_t>(to));
        ASSERT_EQ(Bulk(kBulkOut, part), 0);
    }
    RequestIn(5, 1000);
    EXPECT_EQ(MessageOf(ReadIn(), 5), "7\n");
    // Two lines in one transfer: two replies, one message each.
    Send(6, "*OPC?\nSAMP:COUN?\n");
    RequestIn(7, 1000);
    EXPECT_EQ(MessageOf(ReadIn(), 7), "1\n");
    RequestIn(8, 1000);
    EXPECT_EQ(MessageOf(ReadIn(), 8), "7\n");
}

TEST_F(UsbtmcDeviceTest, LongRepliesSpanPacketsAndTransfers) {
    Send(1, "SAMP:COUN 200");
    Send(2, "READ?");
    RequestIn(3, 64 * 1024);
    // The transfer (about 3 kB) is read 1024 bytes at a time: whole packets, then the short rest.
    Bytes transfer;
    while (true) {
        const Bytes part = ReadIn(1024);
        transfer.insert(transfer.end(), part.begin(), part.end());
        if (part.size() < 1024) break;
    }
    bool eom = false;
    const std::string all = MessageOf(transfer, 3, &eom);
    EXPECT_TRUE(eom);
    ASSERT_GT(all.size(), 512u);
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), 199);

    // The same readings asked for 100 bytes at a time: EOM on the last transfer only.
    Send(4, "FETC?");
    std::string pieced;
    std::uint8_t tag = 5;
    for (eom = false; !eom; tag = usbtmc::NextTag(tag)) {
        RequestIn(tag, 100);
        const std::string piece = MessageOf(ReadIn(), tag, &eom);
        ASSERT_LE(piece.size(), 100u);
        if (!eom) {
            ASSERT_EQ(piece.size(), 100u);
        }
        pieced += piece;
        ASSERT_LT(pieced.size(), 10000u) << "no EOM";
    }
    EXPECT_EQ(pieced, all);

    // With TermChar ',' a transfer ends after the first comma.
    Send(1, "FETC?");
    RequestIn(2, 1000, ',');
    const Bytes first = ReadIn();
    const std::string piece = MessageOf(first, 2, &eom);
    EXPECT_FALSE(eom);
    EXPECT_EQ(first[8], usbtmc::kEndedAtTermChar);
    EXPECT_EQ(piece, all.substr(0, all.find(',') + 1));
}

TEST_F(UsbtmcDeviceTest, AbortBulkIn) {
    const auto abort = [&](std::uint8_t tag) {
        return ClassRequest(kClassToEndpoint, usbtmc::Request::InitiateAbortBulkIn, tag, kBulkIn, 2);
    };
    const auto check = [&] { return ClassRequest(kClassToEndpoint, usbtmc::Request::CheckAbortBulkInStatus, 0, kBulkIn, 8); };
    EXPECT_EQ(abort(9)[0], Code(usbtmc::Status::Failed)) << "nothing to abort";

    // A request for a reply that never comes: the read times out, the abort ends it with a short packet.
    Send(1, "*CLS");
    RequestIn(2, 1000);
    Bytes nothing(1024);
    EXPECT_EQ(Bulk(kBulkIn, nothing, kShortTimeoutMs), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(abort(3), (Bytes{Code(usbtmc::Status::TransferNotInProgress), 2})) << "another tag";
    EXPECT_EQ(abort(2), (Bytes{Code(usbtmc::Status::Success), 2}));
    EXPECT_EQ(ReadIn(1024).size(), 0u) << "the short packet";
    EXPECT_EQ(check(), (Bytes{Code(usbtmc::Status::Success), 0, 0, 0, 0, 0, 0, 0}));

    // A transfer queued and not read: the host reads it to its end while the check says pending.
    Send(4, "*IDN?");
    RequestIn(5, 10);
    ASSERT_EQ(StatusByteBecomes(0x10), 0x10) << "the reply is queued by the meter's own thread";
    const Bytes aborted = abort(5);
    ASSERT_EQ(aborted, (Bytes{Code(usbtmc::Status::Success), 5}));
    EXPECT_EQ(check()[0], Code(usbtmc::Status::Pending));
    EXPECT_EQ(MessageOf(ReadIn(), 5).size(), 10u);
    EXPECT_EQ(check(), (Bytes{Code(usbtmc::Status::Success), 0, 0, 0, 10, 0, 0, 0}));
    // The rest of the aborted reply is gone; the next query is answered.
    EXPECT_EQ(Query("SAMP:COUN?", 6), "1\n");
}

TEST_F(UsbtmcDeviceTest, AbortBulkOutDropsTheTransfer) {
    const auto abort = [&](std::uint8_t tag) {
        return ClassRequest(kClassToEndpoint, usbtmc::Request::InitiateAbortBulkOut, tag, kBulkOut, 2);
    };
    EXPECT_EQ(abort(1)[0], Code(usbtmc::Status::Failed)) << "nothing to abort";
    // A transfer that announces 100 bytes and sends 20.
    const Bytes announced = usbtmc::DevDepMsgOut(7, std::string(100, 'x'), true);
    Bytes partial(announced.begin(), announced.begin() + usbtmc::kHeaderSize + 20);
    ASSERT_EQ(Bulk(kBulkOut, partial), 0);
    EXPECT_EQ(abort(8), (Bytes{Code(usbtmc::Status::TransferNotInProgress), 7}));
    EXPECT_EQ(abort(7), (Bytes{Code(usbtmc::Status::Success), 7}));
    EXPECT_EQ(ClassRequest(kClassToEndpoint, usbtmc::Request::CheckAbortBulkOutStatus, 0, kBulkOut, 8),
              (Bytes{Code(usbtmc::Status::Success), 0, 0, 0, 20, 0, 0, 0}));
    EXPECT_EQ(abort(7)[0], Code(usbtmc::Status::Failed)) << "already aborted";
    ASSERT_EQ(libusb_clear_halt(handle_, kBulkOut), 0);
    EXPECT_EQ(Query("SYST:ERR?", 9), "0,\"No error\"\n") << "the dropped bytes never ran";
}

TEST_F(UsbtmcDeviceTest, ClearAndResetDropWhatIsUnderWayButKeepSettings) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "clear");
        Send(1, "SAMP:COUN 3;*IDN?");
        ASSERT_EQ(StatusByteBecomes(0x10), 0x10) << "the reply waits";
        if (reset) {
            ASSERT_EQ(libusb_reset_device(handle_), 0);
        } else {
            EXPECT_EQ(ClassRequest(kClassToInterface, usbtmc::Request::InitiateClear, 0, 0, 1),
                      Bytes{Code(usbtmc::Status::Success)});
            EXPECT_EQ(ClassRequest(kClassToInterface, usbtmc::Request::CheckClearStatus, 0, 0, 2),
                      (Bytes{Code(usbtmc::Status::Success), 0}));
            ASSERT_EQ(libusb_clear_halt(handle_, kBulkOut), 0);
        }
        RequestIn(2, 1000);
        Bytes dropped(1024);
        EXPECT_EQ(Bulk(kBulkIn, dropped, kShortTimeoutMs), LIBUSB_ERROR_TIMEOUT) << "the *IDN? reply was dropped";
        // The request that found nothing goes, as after any timeout.
        ASSERT_EQ(ClassRequest(kClassToInterface, usbtmc::Request::InitiateClear, 0, 0, 1)[0], 1);
        EXPECT_EQ(Query("SAMP:COUN?", 3), "3\n") << "the meter keeps its settings";
    }
}

TEST_F(UsbtmcDeviceTest, StatusByteOnInterruptIn) {
    struct Case {
        const char* message;
        std::uint8_t statusByte;
    };
    const Case cases[] = {
        {"*CLS", 0x00},
        {"NO:SUCH:COMMAND", 0x04},        // the error queue holds an entry
        {"*CLS;*IDN?", 0x10},             // a reply waits
        {"*CLS;*SRE 16;*IDN?", 0x50},     // ... and asks for service
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_EQ(libusb_reset_device(handle_), 0);   // no reply left from the case before
        Send(1, "*SRE 0");
        Send(2, c.message);
        EXPECT_EQ(StatusByteBecomes(c.statusByte), c.statusByte);
    }
    EXPECT_EQ(ClassRequest(kClassToInterface, usbtmc::Request::ReadStatusByte, 1, 0, 3)[0],
              Code(usbtmc::Status::Failed))
        << "tag 1 is not a status tag";
}

TEST_F(UsbtmcDeviceTest, TriggerMessageRunsBusTrigger) {
    Send(1, "*RST;:TRIG:SOUR BUS;:INIT");
    Bytes trigger(usbtmc::kHeaderSize);
    const auto header = usbtmc::EncodeHeader({usbtmc::MsgId::Trigger, 2, 0, 0, 0});
    std::copy(header.begin(), header.end(), trigger.begin());
    ASSERT_EQ(Bulk(kBulkOut, trigger), 0);
    EXPECT_NEAR(std::stod(Query("FETC?", 3)), kProbeVolts, 20e-6);
    EXPECT_EQ(Query("SYST:ERR?", 5), "0,\"No error\"\n");
}

TEST_F(UsbtmcDeviceTest, SynchronousBulkIoctls) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(libusb_get_device(handle_)),
                  libusb_get_device_address(libusb_get_device(handle_)));
    const int fd = ::open(node, O_RDWR);
    ASSERT_GE(fd, 0) << node;
    Bytes request = usbtmc::DevDepMsgOut(1, "SAMP:COUN?\n", true);
    usbdevfs_bulktransfer out{kBulkOut, static_cast<unsigned>(request.size()), kTimeoutMs, request.data()};
    EXPECT_EQ(::ioctl(fd, USBDEVFS_BULK, &out), static_cast<int>(request.size()));
    const auto ask = usbtmc::RequestDevDepMsgIn(2, 100, std::nullopt);
    Bytes askBytes(ask.begin(), ask.end());
    usbdevfs_bulktransfer askOut{kBulkOut, static_cast<unsigned>(askBytes.size()), kTimeoutMs, askBytes.data()};
    EXPECT_EQ(::ioctl(fd, USBDEVFS_BULK, &askOut), static_cast<int>(askBytes.size()));
    Bytes reply(512);
    usbdevfs_bulktransfer in{kBulkIn, 512, kTimeoutMs, reply.data()};
    const int moved = ::ioctl(fd, USBDEVFS_BULK, &in);
    ASSERT_EQ(moved, static_cast<int>(usbtmc::kHeaderSize + 4));
    reply.resize(static_cast<std::size_t>(moved));
    EXPECT_EQ(MessageOf(reply, 2), "1\n");
    // Nothing asked for: the read waits out its timeout.
    usbdevfs_bulktransfer idle{kBulkIn, 512, static_cast<unsigned>(kShortTimeoutMs), reply.data()};
    EXPECT_EQ(::ioctl(fd, USBDEVFS_BULK, &idle), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    ::close(fd);
}

}  // namespace
