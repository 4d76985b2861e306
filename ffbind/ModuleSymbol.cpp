// Entry points of a module opened with dlopen, taken from the module itself.
#include "ModuleSymbol.h"

#include <dlfcn.h>
#include <link.h>

bool DefinedInModule(void* handle, const void* address) {
    link_map* module = nullptr;
    link_map* owner = nullptr;
    Dl_info info;
    return dlinfo(handle, RTLD_DI_LINKMAP, &module) == 0 &&
           dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) != 0 &&
           owner == module;
}

void* ModuleSymbol(void* handle, const char* name) {
    void* address = dlsym(handle, name);
    dlerror();
    return address && DefinedInModule(handle, address) ? address : nullptr;
}
