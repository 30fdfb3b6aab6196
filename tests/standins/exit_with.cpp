// "exit_with.exe CODE [MS]": writes the folder it runs in to calisma_klasoru.txt there, waits MS
// milliseconds (at most two minutes), and exits with CODE.
#include <windows.h>

#include <stdlib.h>

int main(int argc, char **argv)
{
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    HANDLE file = CreateFileA("calisma_klasoru.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, folder, length, &written, nullptr);
        CloseHandle(file);
    }
    if (argc > 2) {
        unsigned long ms = strtoul(argv[2], nullptr, 10);
        Sleep(ms < 120000 ? ms : 120000);
    }
    return argc > 1 ? atoi(argv[1]) : 0;
}
