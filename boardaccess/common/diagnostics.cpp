#include "diagnostics.h"

#include <cstdio>
#include <new>

namespace tarnel::boardaccess {
namespace {

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

}  // namespace

void Reporter::Succeeded() noexcept {
    const std::lock_guard lock(mutex_);
    lastReported_.clear();
}

void Reporter::ReportOnce(const std::string& message) noexcept {
    const std::lock_guard lock(mutex_);
    if (message == lastReported_) return;
    ReportFailure(speaker_, message);
    try {
        lastReported_ = message;
    } catch (...) {
        lastReported_.clear();   // out of memory: the next failure is reported again
    }
}

std::int16_t Reporter::ReportCurrentException() noexcept {
    try {
        throw;
    } catch (const BoardError& error) {
        ReportOnce(error.what());
        return static_cast<std::int16_t>(error.Kind());
    } catch (const std::bad_alloc&) {
        ReportFailure(speaker_, "out of memory — close other programs and try again");
    } catch (const std::exception& error) {
        ReportFailure(speaker_, std::string("internal failure: ") + error.what() +
                                    " — report this to the maintainers of the board software");
    } catch (...) {
        ReportFailure(speaker_, "internal failure — report this to the maintainers of the board software");
    }
    return static_cast<std::int16_t>(FailureKind::Internal);
}

}  // namespace tarnel::boardaccess
