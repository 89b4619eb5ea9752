// Drives either board-access library through the same three steps the
// programs take (load the firmware, write a DAC word, read the converter),
// capturing what each call writes to stderr.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "board_libraries.h"

namespace tarnel::boardaccess::testing {

// One library call: whether its status says done, and the lines it wrote to
// stderr under its own name.
struct CallResult {
    bool done = false;
    std::vector<std::string> lines;
};

// Runs call with stderr captured. Checks the reporting rule: a failure
// writes exactly one line, a success none.
template <class Call, class Done>
CallResult RunCaptured(const std::string& speaker, Call&& call, Done&& isDone) {
    ::testing::internal::CaptureStderr();
    const auto status = call();
    const std::string text = ::testing::internal::GetCapturedStderr();
    CallResult result;
    result.done = isDone(status);
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (line.rfind(speaker + ": ", 0) == 0) result.lines.push_back(line);
    }
    EXPECT_EQ(result.lines.size(), result.done ? 0u : 1u) << "status " << status << ", stderr:\n" << text;
    return result;
}

inline bool AnyLineContains(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& line : lines) {
        if (line.find(part) != std::string::npos) return true;
    }
    return false;
}

class LibraryDriver {
public:
    virtual ~LibraryDriver() = default;
    virtual std::string Speaker() const = 0;
    // Everything the program does at start-up to get the firmware running.
    virtual CallResult Load(const std::string& firmwarePath) = 0;
    virtual CallResult Request(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t direction,
                               std::uint16_t length, std::uint8_t* data) = 0;
};

class NewerDriver : public LibraryDriver {
public:
    std::string Speaker() const override { return "libKTV_CYUSB_USB4"; }

    // Search, connect to list byte 0 and download, each reported on its own;
    // the lines of all three are returned, done is the download's.
    CallResult Load(const std::string& firmwarePath) override {
        const NewerLibrary& lib = NewerLibrary::Get();
        std::int32_t count = 0;
        std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
        CallResult search = Run([&] { return lib.search(protocol::kVendorId, protocol::kProductId, &count, list); });
        CallResult connect =
            Run([&] { return lib.connect(protocol::kVendorId, protocol::kProductId, list[0], &handle_); });
        CallResult download = Run([&] { return lib.download(handle_, firmwarePath.c_str()); });
        download.lines.insert(download.lines.begin(), connect.lines.begin(), connect.lines.end());
        download.lines.insert(download.lines.begin(), search.lines.begin(), search.lines.end());
        return download;
    }

    CallResult Request(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t direction,
                       std::uint16_t length, std::uint8_t* data) override {
        return Run([&] {
            return NewerLibrary::Get().request(handle_, request, value, index, direction, length, data);
        });
    }

    std::int32_t handle() const { return handle_; }

    template <class Call>
    CallResult Run(Call&& call) const {
        return RunCaptured(Speaker(), call, [](auto status) { return status == 0; });
    }

private:
    std::int32_t handle_ = 0;
};

class OlderDriver : public LibraryDriver {
public:
    std::string Speaker() const override { return "libToveri"; }

    CallResult Load(const std::string& firmwarePath) override {
        std::vector<char> path(firmwarePath.begin(), firmwarePath.end());
        path.push_back('\0');
        return Run([&] { return OlderLibrary::Get().load(path.data()); });
    }

    CallResult Request(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t direction,
                       std::uint16_t length, std::uint8_t* data) override {
        return Run([&] {
            return OlderLibrary::Get().request(request, value, index, direction, static_cast<std::int16_t>(length),
                                               reinterpret_cast<char*>(data));
        });
    }

    template <class Call>
    CallResult Run(Call&& call) const {
        return RunCaptured(Speaker(), call, [](auto status) { return status > 0; });
    }
};

enum class Variant { Newer, Older };

inline std::unique_ptr<LibraryDriver> DriverFor(Variant variant) {
    if (variant == Variant::Newer) return std::make_unique<NewerDriver>();
    return std::make_unique<OlderDriver>();
}

inline const char* NameOf(Variant variant) { return variant == Variant::Newer ? "Newer" : "Older"; }

}  // namespace tarnel::boardaccess::testing
