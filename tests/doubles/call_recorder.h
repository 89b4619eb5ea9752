// Recording and answering, shared by the two test doubles.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "double_control.h"

DoubleCall& RecordCall(const char* operation, std::initializer_list<std::int64_t> args,
                       const char* path = nullptr);
std::int16_t LoadStatus();
std::int16_t RequestStatus();
std::uint8_t SearchBoardNumber();
std::int32_t SearchHandle();
// Fills up to two bytes of a read request's buffer, unless told not to.
void AnswerRead(std::uint8_t* data, std::uint16_t length);
