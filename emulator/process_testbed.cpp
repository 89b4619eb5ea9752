#include "process_testbed.h"

#include <umockdev.h>

#include <memory>
#include <stdexcept>

namespace tarnel::emulator {

namespace {

constexpr unsigned kFirstDeviceNumber = 2;   // 1 is the root hub
constexpr unsigned kLastDeviceNumber = 127;

}  // namespace

ProcessTestbed& ProcessTestbed::Get() {
    static std::mutex creation;
    static std::unique_ptr<ProcessTestbed> instance;
    std::lock_guard lock(creation);
    if (!instance) instance.reset(new ProcessTestbed());
    return *instance;
}

ProcessTestbed::ProcessTestbed() : testbed_(umockdev_testbed_new()), nextDeviceNumber_(kFirstDeviceNumber) {
    // The check looks at /sys through the preload, so it needs the test
    // bed (and its UMOCKDEV_DIR) in place.
    if (!umockdev_in_mock_environment()) {
        g_object_unref(testbed_);
        throw std::runtime_error(
            "the emulated board needs the umockdev preload from process start — run the program under "
            "umockdev-wrapper or board-emulator");
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    rootDir_ = root;
    g_free(root);
}

ProcessTestbed::~ProcessTestbed() { g_object_unref(testbed_); }

unsigned ProcessTestbed::NextDeviceNumber() {
    std::lock_guard lock(mutex_);
    const unsigned number = nextDeviceNumber_;
    nextDeviceNumber_ = number >= kLastDeviceNumber ? kFirstDeviceNumber : number + 1;
    return number;
}

void ProcessTestbed::AddDevice(const std::string& record, const std::string& sysfsPath, const std::string& what) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error(what + ": cannot add the USB device to the test bed: " + message);
    }
    umockdev_testbed_uevent(testbed_, sysfsPath.c_str(), "add");
}

}  // namespace tarnel::emulator
