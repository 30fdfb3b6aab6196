// python.exe for the Windows test kit under Wine (tests/kit/kit_test.sh), where there is no
// Windows Python: runs the host's python3 with this command line, through host_python.py beside
// it. Wine starts a Linux program without handing back a process to wait for or to end, so the
// relay reports the exit code over a loopback connection and ends python3 when that connection
// drops: this process lives and exits as the Python does, and ending it (as the kit runner's job
// does) ends the Python.
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

typedef char *(CDECL *UnixFileNameFn)(const wchar_t *);

const int kConnectMs = 20 * 1000;
const int kRunMs = 3 * 60 * 60 * 1000;

bool Readable(SOCKET socket, int limit_ms)
{
    fd_set sockets;
    FD_ZERO(&sockets);
    FD_SET(socket, &sockets);
    timeval limit = {limit_ms / 1000, (limit_ms % 1000) * 1000};
    return select(0, &sockets, nullptr, nullptr, &limit) == 1;
}

// This program's command line after its own name.
const wchar_t *Arguments()
{
    const wchar_t *line = GetCommandLineW();
    if (*line == L'"') {
        line = wcschr(line + 1, L'"');
        return line != nullptr ? line + 1 : L"";
    }
    while (*line != 0 && *line != L' ' && *line != L'\t')
        line++;
    return line;
}

// The relay's Linux path, or "".
std::wstring RelayPath()
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring relay(self, length < MAX_PATH ? length : 0);
    relay = relay.substr(0, relay.find_last_of(L'\\') + 1) + L"host_python.py";
    UnixFileNameFn unix_name = (UnixFileNameFn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                              "wine_get_unix_file_name");
    char *path = unix_name != nullptr ? unix_name(relay.c_str()) : nullptr;
    if (path == nullptr)
        return L"";
    wchar_t wide[MAX_PATH * 4];
    int wide_length = MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH * 4);
    HeapFree(GetProcessHeap(), 0, path);
    return wide_length > 0 ? std::wstring(wide) : L"";
}

}  // namespace

int wmain()
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        fprintf(stderr, "host_python: WSAStartup failed\n");
        return 255;
    }
    int code = 255;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET link = INVALID_SOCKET;
    std::wstring relay = RelayPath();
    if (relay.empty())
        fprintf(stderr, "host_python: host_python.py has no Linux path: not running under Wine?\n");
    else if (listener == INVALID_SOCKET || bind(listener, (sockaddr *)&address, sizeof address) != 0 ||
             getsockname(listener, (sockaddr *)&address, &size) != 0 || listen(listener, 1) != 0)
        fprintf(stderr, "host_python: listening failed (error %d)\n", WSAGetLastError());
    else {
        std::wstring command = L"Z:\\usr\\bin\\python3 \"" + relay + L"\" " + std::to_wstring(ntohs(address.sin_port)) +
                               L" " + Arguments();
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOW startup = {sizeof startup};
        // Named, or Wine gives a Linux program none of them.
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process = {};
        bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        // Wine hands back no handles for a Linux program; close any it does.
        if (process.hThread != nullptr)
            CloseHandle(process.hThread);
        if (process.hProcess != nullptr)
            CloseHandle(process.hProcess);
        if (!started)
            fprintf(stderr, "host_python: CreateProcessW failed (error %lu)\n", GetLastError());
        else if (!Readable(listener, kConnectMs) || (link = accept(listener, nullptr, nullptr)) == INVALID_SOCKET)
            fprintf(stderr, "host_python: the relay did not connect within %d s\n", kConnectMs / 1000);
    }
    int got = 0;
    char reported[4];
    while (link != INVALID_SOCKET && got < 4 && Readable(link, kRunMs)) {
        int more = recv(link, reported + got, 4 - got, 0);
        if (more <= 0)
            break;
        got += more;
    }
    if (got == 4)
        memcpy(&code, reported, 4);
    if (link != INVALID_SOCKET)
        closesocket(link);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    WSACleanup();
    return code;
}
