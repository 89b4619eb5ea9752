// Binds the program to a test double of either board-access library variant
// and starts every test from the process-start control state.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "double_control.h"
#include "link/board_library.h"
#include "link/newer_library_binding.h"
#include "link/older_library_binding.h"
#include "link/usb_stuff.h"
#include "state/declare.h"

namespace tarnel::testing {

enum class Variant { Newer, Older };

inline std::string VariantName(const ::testing::TestParamInfo<Variant>& info) {
    return info.param == Variant::Newer ? "Newer" : "Older";
}

// Each test process keeps one binding per variant, as a program does.
inline link::BoardLibrary& BindingFor(Variant variant) {
    static link::NewerLibraryBinding newer(TARNEL_NEWER_DOUBLE);
    static link::OlderLibraryBinding older(TARNEL_OLDER_DOUBLE);
    return variant == Variant::Newer ? static_cast<link::BoardLibrary&>(newer) : older;
}

inline DoubleLibrary& DoubleFor(Variant variant) {
    static DoubleLibrary newer(TARNEL_NEWER_DOUBLE);
    static DoubleLibrary older(TARNEL_OLDER_DOUBLE);
    return variant == Variant::Newer ? newer : older;
}

// Status each variant uses for a request that is done / failed.
inline std::int16_t DoneStatus(Variant v) { return v == Variant::Newer ? 0 : 1; }
inline std::int16_t FailedStatus(Variant v) { return v == Variant::Newer ? -1 : 0; }

class SpineTest : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override {
        Declare::ResetControlState();
        USBStuff::ResetUsbStuff();
        Double().Reset();
        Double().SetRequestStatus(DoneStatus(GetParam()));
        link::SetActiveBoardLibrary(&BindingFor(GetParam()));
    }
    void TearDown() override { link::SetActiveBoardLibrary(nullptr); }

    DoubleLibrary& Double() { return DoubleFor(GetParam()); }

    // The request code, value, index, direction and length of every request.
    struct Request {
        std::int64_t code, value, index, direction, length;
        bool operator==(const Request&) const = default;
    };
    std::vector<Request> Requests() {
        std::vector<Request> requests;
        for (const auto& call : Double().Calls()) {
            const std::string op = call.operation;
            if (op == "Vendor_Request") {
                requests.push_back({call.args[1], call.args[2], call.args[3], call.args[4], call.args[5]});
            } else if (op == "VendorIORequest") {
                requests.push_back({call.args[0], call.args[1], call.args[2], call.args[3], call.args[4]});
            }
        }
        return requests;
    }
};

}  // namespace tarnel::testing
