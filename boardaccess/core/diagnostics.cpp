#include "diagnostics.h"

#include <cstdio>
#include <new>
#include <string>

namespace tarnel::boardaccess {

void ReportFailure(std::string_view speaker, std::string_view message) noexcept {
    // Composed into one string so the line reaches stderr in a single write;
    // if even that allocation fails, a fixed line says so.
    try {
        std::string line;
        line.reserve(speaker.size() + message.size() + 3);
        line.append(speaker).append(": ");
        for (const char c : message) {
            line.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
        }
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
        std::fprintf(stderr, "%.*s: out of memory while reporting a failure — free some memory\n",
                     static_cast<int>(speaker.size()), speaker.data());
    }
    std::fflush(stderr);
}

std::int16_t ReportCurrentException(std::string_view speaker) noexcept {
    try {
        throw;
    } catch (const BoardError& error) {
        ReportFailure(speaker, error.what());
        return static_cast<std::int16_t>(error.kind());
    } catch (const std::bad_alloc&) {
        ReportFailure(speaker, "out of memory — close other programs and try again");
    } catch (const std::exception& error) {
        ReportFailure(speaker, std::string("internal failure: ") + error.what() +
                                   " — report this to the maintainers of the board software");
    } catch (...) {
        ReportFailure(speaker, "internal failure — report this to the maintainers of the board software");
    }
    return static_cast<std::int16_t>(FailureKind::Internal);
}

}  // namespace tarnel::boardaccess
