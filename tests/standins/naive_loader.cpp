// Loads the DLL named on its command line with the default search order, as a careless
// program would: the application's folder first.
#include <windows.h>

int wmain(int count, wchar_t **arguments)
{
    return count == 2 && LoadLibraryW(arguments[1]) != nullptr ? 0 : 1;
}
