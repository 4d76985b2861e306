// Entry points of a module opened with dlopen, taken from the module itself: dlsym also searches
// the libraries the module depends on, and a name found there is not the module's own.
#ifndef SOUNDPICK_FFBIND_MODULESYMBOL_H
#define SOUNDPICK_FFBIND_MODULESYMBOL_H

// True when the address lies in the module of the handle.
bool DefinedInModule(void* handle, const void* address);

// The module's own definition of the name; null when it has none (dlerror is left cleared).
void* ModuleSymbol(void* handle, const char* name);

#endif
