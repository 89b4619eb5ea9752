#include "probe_steps.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

#include <tarnel/board_protocol.h>

#include "intel_hex.h"
#include "load_plan.h"

namespace tarnel::emulator::probe {

namespace {

namespace p = tarnel::protocol;

// Holds the CPU in reset, writes the image, lets it run; the first fault ends it.
ControlResult Load(const VendorRequest& request, const std::string& path) {
    std::vector<boardaccess::RamWrite> writes = boardaccess::PlanLoad(boardaccess::ReadIntelHexFile(path));
    std::uint8_t reset = p::kCpucsReset;
    std::uint8_t run = p::kCpucsRun;
    ControlResult result = request(false, p::kRequestRamAccess, p::kCpucsAddress, 0, {&reset, 1});
    for (auto& write : writes) {
        if (!result.fault.empty()) return result;
        result = request(false, p::kRequestRamAccess, write.address, 0, write.bytes);
    }
    if (!result.fault.empty()) return result;
    return request(false, p::kRequestRamAccess, p::kCpucsAddress, 0, {&run, 1});
}

void Print(const char* step, const ControlResult& result, const std::string& done) {
    std::printf("%s: %s\n", step, result.fault.empty() ? done.c_str() : result.fault.c_str());
    std::fflush(stdout);
}

}  // namespace

int Run(int argc, char** argv, const VendorRequest& request) {
    std::optional<std::string> image;
    std::optional<std::uint32_t> word;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0 && i + 1 < argc) {
            image = argv[++i];
        } else {
            word = static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 16));
        }
    }
    if (image) {
        ControlResult loaded;
        try {
            loaded = Load(request, *image);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "probe: %s\n", error.what());
            return 2;
        }
        Print("load", loaded, "ok");
        if (!loaded.fault.empty()) return 0;
    }
    if (word) {
        const p::DacWriteFields fields = p::PackDacWrite(p::kDacRegisterLength, *word);
        const ControlResult written = request(false, p::kRequestDacWrite, fields.value, fields.index, {});
        Print("dac write", written, "ok");
        if (!written.fault.empty()) return 0;
    }
    std::uint8_t reply[p::kConverterReadLength] = {};
    const ControlResult read = request(true, p::kRequestConverterRead, 0, 0, reply);
    const int code = p::ConverterCodeOf(p::ConverterReplyValue(reply[0], reply[1]));
    Print("converter read", read, "code " + std::to_string(code));
    return 0;
}

}  // namespace tarnel::emulator::probe
