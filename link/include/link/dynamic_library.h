// A shared library loaded at the first use of any of its entry points, each
// entry point resolved at its own first use, and kept until the program ends.
#pragma once

#include <map>
#include <string>

namespace tarnel::link {

class DynamicLibrary {
public:
    // location is an absolute path, or a bare file name found by the ordinary
    // library search of the executable.
    explicit DynamicLibrary(std::string location);
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The entry point `symbol` as a function of type Fn. Raises RunTimeError
    // naming the library or the symbol when either cannot be found.
    template <typename Fn>
    Fn* Function(const char* symbol) {
        return reinterpret_cast<Fn*>(Resolve(symbol));
    }

    const std::string& Location() const { return location_; }

private:
    void* Resolve(const char* symbol);

    std::string location_;
    void* handle_ = nullptr;             // never closed: the library stays for the run
    std::map<std::string, void*> resolved_;
};

}  // namespace tarnel::link
