// Stays until it is ended, at most a minute, so that a test can show it in the process list.
// Given a path, it holds that file or folder open without delete sharing meanwhile: a file in
// use, or a folder that cannot be renamed.
#include <windows.h>

int main(int argc, char **argv)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc > 1)
        held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    Sleep(60000);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    return 0;
}
