// Makes poll() on the emulated device node behave like usbfs: writable only
// while a completed URB waits to be reaped.
//
// A plain file, which poll() always reports writable, would make libusb's
// event loop spin at full CPU, and after the board is gone reap a device that
// no longer answers. The node is a FIFO shrunk to one page instead: kept
// full, poll() blocks; drained, poll() reports it writable and libusb reaps.
#pragma once

#include <string>

namespace tarnel::emulator {

class ReapSignal {
public:
    // Creates the FIFO, initially full, at `nodePath` (the test bed's copy of
    // the device node), in place of anything there. Throws
    // std::runtime_error on failure.
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
