// Test doubles of the two board-access libraries. Each double exports the
// entry points of its variant, records every call, and answers with statuses
// and read-back bytes the test sets through the control functions below.
// Tests reach the control functions by dlopen of the same file the program
// binding loads, so both see one copy of the double's state.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

extern "C" {

struct DoubleCall {
    char operation[32];     // entry point name, e.g. "Vendor_Request"
    std::int64_t args[7];   // numeric arguments in call order
    char path[1024];        // the path argument of a firmware load, as bytes
};

// Control functions exported by each double.
void TarnelDouble_Reset();
void TarnelDouble_SetLoadStatus(std::int16_t status);
void TarnelDouble_SetRequestStatus(std::int16_t status);
void TarnelDouble_SetReadBytes(std::uint8_t byte0, std::uint8_t byte1, int fillsBuffer);
void TarnelDouble_SetSearchResult(std::uint8_t boardNumber, std::int32_t handle);
int TarnelDouble_CallCount();
const DoubleCall* TarnelDouble_Call(int index);
}

namespace tarnel::testing {

// The control side of one double library, opened by path.
class DoubleLibrary {
public:
    explicit DoubleLibrary(const std::string& path) : path_(path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW);
        if (handle_ == nullptr) throw std::runtime_error(std::string("cannot open double: ") + dlerror());
        Reset();
    }
    const std::string& path() const { return path_; }

    void Reset() { Get<void()>("TarnelDouble_Reset")(); }
    void SetLoadStatus(std::int16_t s) { Get<void(std::int16_t)>("TarnelDouble_SetLoadStatus")(s); }
    void SetRequestStatus(std::int16_t s) { Get<void(std::int16_t)>("TarnelDouble_SetRequestStatus")(s); }
    void SetReadBytes(std::uint8_t b0, std::uint8_t b1, bool fills = true) {
        Get<void(std::uint8_t, std::uint8_t, int)>("TarnelDouble_SetReadBytes")(b0, b1, fills ? 1 : 0);
    }
    // The next read answers with the bytes the board sends for `value`.
    void SetReadBack(std::uint16_t value) {
        const auto bytes = protocol::ConverterReplyBytes(value);
        SetReadBytes(bytes[0], bytes[1]);
    }
    void SetSearchResult(std::uint8_t board, std::int32_t handle) {
        Get<void(std::uint8_t, std::int32_t)>("TarnelDouble_SetSearchResult")(board, handle);
    }
    std::vector<DoubleCall> Calls() {
        std::vector<DoubleCall> calls;
        const int n = Get<int()>("TarnelDouble_CallCount")();
        for (int i = 0; i < n; ++i) calls.push_back(*Get<const DoubleCall*(int)>("TarnelDouble_Call")(i));
        return calls;
    }
    std::vector<std::string> Operations() {
        std::vector<std::string> names;
        for (const auto& c : Calls()) names.emplace_back(c.operation);
        return names;
    }

private:
    template <typename Fn>
    Fn* Get(const char* name) {
        void* symbol = dlsym(handle_, name);
        if (symbol == nullptr) throw std::runtime_error(std::string("double lacks ") + name);
        return reinterpret_cast<Fn*>(symbol);
    }
    std::string path_;
    void* handle_ = nullptr;   // kept open for the test process's life
};

}  // namespace tarnel::testing
