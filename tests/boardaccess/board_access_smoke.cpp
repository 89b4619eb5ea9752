// Runs inside board-emulator: loads one of the libraries by path, loads the
// test firmware, writes a DAC word and reads the converter, as a program
// would. Usage: board_access_smoke newer|older works|fails-to-load
// Exits 0 when the library behaved as the second argument says.
#include <cstdio>
#include <cstring>
#include <string>

#include <tarnel/board_protocol.h>

#include "board_libraries.h"

namespace {

namespace protocol = tarnel::protocol;
using namespace tarnel::boardaccess::testing;

// Returns whether the firmware load succeeded; requests follow only then.
bool RunNewer(bool& requestsDone) {
    const NewerLibrary& lib = NewerLibrary::Get();
    std::int32_t count = 0;
    std::int32_t handle = 0;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
    lib.search(protocol::kVendorId, protocol::kProductId, &count, list);
    lib.connect(protocol::kVendorId, protocol::kProductId, list[0], &handle);
    if (lib.download(handle, TARNEL_TEST_FIRMWARE_FILE) != 0) return false;
    std::uint8_t buffer[2] = {};
    requestsDone = lib.request(handle, protocol::kRequestDacWrite, 0xFFFC, 0x180F, 0, 0, buffer) == 0 &&
                   lib.request(handle, protocol::kRequestConverterRead, 0, 0, 1, 2, buffer) == 0;
    return true;
}

bool RunOlder(bool& requestsDone) {
    const OlderLibrary& lib = OlderLibrary::Get();
    std::string path = TARNEL_TEST_FIRMWARE_FILE;
    if (lib.load(path.data()) <= 0) return false;
    char buffer[2] = {};
    requestsDone = lib.request(protocol::kRequestDacWrite, 0xFFFC, 0x180F, 0, 0, buffer) > 0 &&
                   lib.request(protocol::kRequestConverterRead, 0, 0, 1, 2, buffer) > 0;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s newer|older works|fails-to-load\n", argv[0]);
        return 2;
    }
    bool requestsDone = false;
    const bool loaded = std::strcmp(argv[1], "newer") == 0 ? RunNewer(requestsDone) : RunOlder(requestsDone);
    const bool expectWorking = std::strcmp(argv[2], "works") == 0;
    if (expectWorking) return loaded && requestsDone ? 0 : 1;
    return loaded ? 1 : 0;
}
