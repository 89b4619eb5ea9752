// Makes poll() on the emulated device node behave like usbfs: writable only
// while a completed URB waits to be reaped.
//
// umockdev backs a USB device node with a plain file, which poll() always
// reports writable, so libusb's event loop would spin at full CPU. The node is
// replaced by a FIFO shrunk to one page: kept full, poll() blocks; drained,
// poll() reports it writable and libusb reaps.
#pragma once

#include <string>

namespace tarnel::emulator {

class ReapSignal {
public:
    // Replaces the file at `nodePath` (the test bed's copy of the device node)
    // with the FIFO, initially full. Throws std::runtime_error on failure.
    explicit ReapSignal(std::string nodePath);
    ~ReapSignal();
    ReapSignal(const ReapSignal&) = delete;
    ReapSignal& operator=(const ReapSignal&) = delete;

    // Never blocks; cheap when the state does not change.
    void SetReapable(bool reapable);
    // Removes the node from the test bed; clients that have it open keep theirs.
    void RemoveNode();

private:
    void Fill();
    void Drain();

    std::string path_;
    int fd_ = -1;
    bool reapable_ = false;
};

}  // namespace tarnel::emulator
