#include "core/system_library.h"

FARPROC LoadSystemProc(const wchar_t *dll, const char *name, DWORD *error)
{
    // Once loaded, the loader hands back the same module; the reference is never released.
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    FARPROC proc = module != nullptr ? GetProcAddress(module, name) : nullptr;
    if (proc == nullptr && error != nullptr)
        *error = GetLastError();
    return proc;
}
