// "unelevated.exe COMMAND_LINE": runs the command line with the token linked to this program's
// elevated one, the same user's unelevated token (as from a command prompt opened without "Run
// as administrator"), and exits with its exit code, or 255 when it could not be run.
#include <windows.h>

#include <stdio.h>

int wmain(int count, wchar_t **arguments)
{
    HANDLE own = nullptr, primary = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size, code = 255;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (count != 2 || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) ||
        !GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size) ||
        !DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, &primary) ||
        !CreateProcessAsUserW(primary, nullptr, arguments[1], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &process)) {
        fprintf(stderr, "unelevated: could not run the command, error %lu\n", GetLastError());
    } else {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code))
            code = 255;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (primary != nullptr)
        CloseHandle(primary);
    if (linked.LinkedToken != nullptr)
        CloseHandle(linked.LinkedToken);
    if (own != nullptr)
        CloseHandle(own);
    return (int)code;
}
