#include "core/system_library.h"

FARPROC LoadSystemProc(const wchar_t *dll, const char *name)
{
    // Once loaded, the loader hands back the same module; the reference is never released.
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr)
        return nullptr;
    return GetProcAddress(module, name);
}
