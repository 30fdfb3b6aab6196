// Test infrastructure: loads cabinet.dll from the system folder as the setup does and tells by
// its exit code what it got: 0 one with the Compression API (Windows' own, or under Wine the
// stand-in), 1 one without (Wine's own), 2 none.
#include <windows.h>

int wmain()
{
    HMODULE cabinet = LoadLibraryExW(L"cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (cabinet == nullptr)
        return 2;
    return GetProcAddress(cabinet, "CreateDecompressor") != nullptr ? 0 : 1;
}
