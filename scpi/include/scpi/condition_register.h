// One SCPI status register of the STATus subsystem (OPERation, QUEStionable):
// the condition the instrument is in now, the event register that latches
// every condition bit that goes from 0 to 1 (and the bits of events that
// have no lasting condition) until it is read or cleared, and the enable mask
// whose bits sum the events up into the status byte. Bit 15 is never used.
#pragma once

#include <cstdint>

namespace tarnel::scpi {

class ConditionRegister {
public:
    static constexpr std::uint16_t kUsedBits = 0x7FFF;

    // Takes the condition now; the bits that rose are latched as events.
    void Update(std::uint16_t condition);
    // Latches an event that is no condition.
    void Latch(std::uint16_t bits) { event_ |= bits & kUsedBits; }

    std::uint16_t Condition() const { return condition_; }
    std::uint16_t TakeEvent();   // [:EVENt]?: read and cleared
    void ClearEvent() { event_ = 0; }

    void SetEnable(std::uint16_t mask) { enable_ = mask & kUsedBits; }
    std::uint16_t Enable() const { return enable_; }

    // An enabled event is latched: the register's bit in the status byte.
    bool Summary() const { return (event_ & enable_) != 0; }

private:
    std::uint16_t condition_ = 0;
    std::uint16_t event_ = 0;
    std::uint16_t enable_ = 0;
};

}  // namespace tarnel::scpi
