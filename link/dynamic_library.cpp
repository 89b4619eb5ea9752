#include "link/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

#include "state/run_time_error.h"

namespace tarnel::link {

namespace {

std::string LastDlError() {
    const char* text = dlerror();
    return text != nullptr ? text : "no further detail";
}

}  // namespace

DynamicLibrary::DynamicLibrary(std::string location) : location_(std::move(location)) {}

void* DynamicLibrary::Resolve(const char* symbol) {
    if (handle_ == nullptr) {
        // This call sits in the program itself, so a bare name is searched
        // with the executable's RUNPATH ($ORIGIN): the copy beside it first.
        handle_ = dlopen(location_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            throw RunTimeError("Cannot load the board-access library " + location_ + ": " + LastDlError());
        }
    }
    if (const auto known = resolved_.find(symbol); known != resolved_.end()) return known->second;

    dlerror();
    void* address = dlsym(handle_, symbol);
    if (address == nullptr) {
        throw RunTimeError("The board-access library " + location_ + " has no entry point " + symbol + ": " +
                           LastDlError());
    }
    resolved_.emplace(symbol, address);
    return address;
}

}  // namespace tarnel::link
