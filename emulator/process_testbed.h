// The process's one umockdev test bed and its bus, shared by every emulated
// USB device of the process (the boards and the USB meter). A USB context
// that outlives a device keeps listening for the test bed's events, so every
// device of the process goes into the same test bed; it is removed when the
// process ends.
#pragma once

#include <mutex>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace tarnel::emulator {

class ProcessTestbed {
public:
    // Creates the test bed on first use. Throws std::runtime_error when the
    // process does not run under the umockdev preload.
    static ProcessTestbed& Get();
    ~ProcessTestbed();
    ProcessTestbed(const ProcessTestbed&) = delete;
    ProcessTestbed& operator=(const ProcessTestbed&) = delete;

    UMockdevTestbed* Testbed() const { return testbed_; }
    const std::string& RootDir() const { return rootDir_; }

    // Each plug-in gets a new device number, as on a real bus.
    unsigned NextDeviceNumber();

    // Adds a device from its umockdev record and announces it with an "add"
    // event; throws std::runtime_error naming `what` when umockdev refuses it.
    void AddDevice(const std::string& record, const std::string& sysfsPath, const std::string& what);

private:
    ProcessTestbed();

    UMockdevTestbed* testbed_;
    std::string rootDir_;
    std::mutex mutex_;
    unsigned nextDeviceNumber_;
};

}  // namespace tarnel::emulator
