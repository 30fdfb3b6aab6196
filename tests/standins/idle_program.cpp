// Stays until it is ended, at most a minute, so that a test can show it in the process list.
// Given a file path, it holds that file open without delete sharing meanwhile: a file in use.
#include <windows.h>

int main(int argc, char **argv)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc > 1)
        held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Sleep(60000);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    return 0;
}
