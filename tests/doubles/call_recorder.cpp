// The state shared by both doubles: the recorded calls and the answers.
#include "call_recorder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct DoubleState {
    std::vector<DoubleCall> calls;
    std::int16_t loadStatus = 0;
    std::int16_t requestStatus = 0;
    std::uint8_t readBytes[2] = {0, 0};
    bool readFillsBuffer = true;
    std::uint8_t boardNumber = 0;
    std::int32_t handle = 1;
};

DoubleState& State() {
    static DoubleState state;
    return state;
}

}  // namespace

DoubleCall& RecordCall(const char* operation, std::initializer_list<std::int64_t> args, const char* path) {
    DoubleCall call{};
    std::strncpy(call.operation, operation, sizeof call.operation - 1);
    std::copy_n(args.begin(), std::min<std::size_t>(args.size(), 7), call.args);
    if (path != nullptr) std::strncpy(call.path, path, sizeof call.path - 1);
    State().calls.push_back(call);
    return State().calls.back();
}

std::int16_t LoadStatus() { return State().loadStatus; }
std::int16_t RequestStatus() { return State().requestStatus; }
std::uint8_t SearchBoardNumber() { return State().boardNumber; }
std::int32_t SearchHandle() { return State().handle; }

void AnswerRead(std::uint8_t* data, std::uint16_t length) {
    if (!State().readFillsBuffer || data == nullptr) return;
    for (std::uint16_t i = 0; i < length && i < 2; ++i) data[i] = State().readBytes[i];
}

extern "C" {

void TarnelDouble_Reset() { State() = DoubleState{}; }
void TarnelDouble_SetLoadStatus(std::int16_t status) { State().loadStatus = status; }
void TarnelDouble_SetRequestStatus(std::int16_t status) { State().requestStatus = status; }
void TarnelDouble_SetReadBytes(std::uint8_t byte0, std::uint8_t byte1, int fillsBuffer) {
    State().readBytes[0] = byte0;
    State().readBytes[1] = byte1;
    State().readFillsBuffer = fillsBuffer != 0;
}
void TarnelDouble_SetSearchResult(std::uint8_t boardNumber, std::int32_t handle) {
    State().boardNumber = boardNumber;
    State().handle = handle;
}
int TarnelDouble_CallCount() { return static_cast<int>(State().calls.size()); }
const DoubleCall* TarnelDouble_Call(int index) {
    if (index < 0 || index >= TarnelDouble_CallCount()) return nullptr;
    return &State().calls[static_cast<std::size_t>(index)];
}

}  // extern "C"
