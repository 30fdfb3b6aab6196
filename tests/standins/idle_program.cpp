// Stays until it is ended, at most a minute, so that a test can show it in the process list.
// Given a path, it holds that file or folder open without delete sharing meanwhile: a file in
// use, or a folder that cannot be renamed.
#include <windows.h>

int main(int argc, char **argv)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    // The test that waits for the hold probes the path with an exclusive open of its own, which
    // this open meets now and then: it is tried again while that probe holds it.
    for (int i = 0; argc > 1 && i < 100; i++) {
        held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
        if (held != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        Sleep(20);
    }
    Sleep(60000);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    return 0;
}
