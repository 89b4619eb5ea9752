// The two built board-access libraries, loaded with dlopen from their build
// paths the way the programs load them, so the tests also check that each
// exports exactly the names the programs resolve.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include <tarnel/KTV_CYUSB_USB4.h>
#include <tarnel/Toveri.h>

namespace tarnel::boardaccess::testing {

class SharedLibrary {
public:
    explicit SharedLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    }
    // Kept loaded for the whole run, as the programs do.
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    template <class Function>
    Function* Resolve(const char* name) const {
        void* symbol = dlsym(handle_, name);
        if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
        return reinterpret_cast<Function*>(symbol);
    }

private:
    void* handle_;
};

struct NewerLibrary {
    static const NewerLibrary& Get() {
        static const NewerLibrary library;
        return library;
    }
    SharedLibrary file{TARNEL_NEWER_LIBRARY_FILE};
    decltype(Search_For_Boards)* search = file.Resolve<decltype(Search_For_Boards)>("Search_For_Boards");
    decltype(Connect)* connect = file.Resolve<decltype(Connect)>("Connect");
    decltype(Download_Firmware)* download = file.Resolve<decltype(Download_Firmware)>("Download_Firmware");
    decltype(Vendor_Request)* request = file.Resolve<decltype(Vendor_Request)>("Vendor_Request");
};

struct OlderLibrary {
    static const OlderLibrary& Get() {
        static const OlderLibrary library;
        return library;
    }
    SharedLibrary file{TARNEL_OLDER_LIBRARY_FILE};
    decltype(LoadFirmWare)* load = file.Resolve<decltype(LoadFirmWare)>("_Z12LoadFirmWarePc");
    decltype(VendorIORequest)* request = file.Resolve<decltype(VendorIORequest)>("_Z15VendorIORequestsiissPc");
};

}  // namespace tarnel::boardaccess::testing
