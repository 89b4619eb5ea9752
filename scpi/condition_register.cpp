#include "scpi/condition_register.h"

namespace tarnel::scpi {

void ConditionRegister::Update(std::uint16_t condition) {
    condition &= kUsedBits;
    event_ |= static_cast<std::uint16_t>(condition & ~condition_);
    condition_ = condition;
}

std::uint16_t ConditionRegister::TakeEvent() {
    const std::uint16_t event = event_;
    event_ = 0;
    return event;
}

}  // namespace tarnel::scpi
