// Stand-in for the product's launcher "Talvor.exe": appends the arguments it was started with,
// as one UTF-8 line, to "Talvor.kayit" beside itself, and exits.
#include <windows.h>

#include <stdlib.h>

#include "beside_self.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t *arguments, int)
{
    wchar_t path[MAX_PATH];
    if (!BesideSelf(L"Talvor.kayit", path, MAX_PATH))
        return 1;
    int size = WideCharToMultiByte(CP_UTF8, 0, arguments, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return 1;
    char *line = (char *)malloc((size_t)size);
    if (line == nullptr)
        return 1;
    bool ok = WideCharToMultiByte(CP_UTF8, 0, arguments, -1, line, size, nullptr, nullptr) == size &&
              AppendLine(path, line);
    free(line);
    return ok ? 0 : 1;
}
