#pragma once

// What the kit's runner (calistir.cpp) shares with the test servers it starts for the download
// tests (loopback_servers.cpp).

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

// The kit's folder, and the report folder rapor in it.
extern std::wstring Root;
extern std::wstring Report;

struct Counts {
    long passed = 0, failed = 0, skipped = 0;
};

// How a program run ended.
enum RunEnd { RunExited, RunNotStarted, RunTimedOut };

// Prints the line and adds it to rapor\ozet.txt at once.
void Say(const char *format, ...);
std::string Narrow(const std::wstring &text);
// The file's bytes; none when it cannot be read.
std::string ReadAll(const std::wstring &path);

// Starts the command line suspended, with its output into `output`; false, having said why and
// with the error kept for GetLastError, when it could not be started.
bool Start(const std::wstring &program, const std::wstring &arguments, const std::wstring &folder,
           const std::wstring &output, PROCESS_INFORMATION *process);
// Runs the command line with its output into `output`, in a job of its own, so that one that runs
// out of time is ended with every process it started. *code receives the exit code, or the
// error when it could not be started.
RunEnd Run(const std::wstring &program, const std::wstring &arguments, const std::wstring &folder,
           const std::wstring &output, DWORD timeout_ms, long *code);

// The loopback servers of the download tests, started around fetch_test and wizard_test as
// tests/servers/with_servers.sh starts them on Linux: our test server (sunucu\test_http_server.py,
// run by the python.exe found on PATH) over HTTP and over HTTPS with a good, a misnamed and an
// untrusted certificate, the kit's test authority in the machine's trusted roots only while the
// program runs. The tests learn where from the TALVOR_TEST_* variables, or why they skip from
// TALVOR_TEST_SERVERS_MISSING. nginx is not in the kit (there is no Windows build of it to take):
// its tests skip.

struct TestServers {
    HANDLE job = nullptr;
    std::vector<HANDLE> processes;
    PCCERT_CONTEXT authority = nullptr;
    // The authority's SHA-1 hash, from when certutil is asked to trust it until it is gone again.
    std::wstring trusted;
};

// Whether the program's tests need the servers.
bool NeedsServers(const std::wstring &program);
// Starts the servers for PROGRAM. Without a Python 3 on PATH its tests skip with that reason;
// servers that fail to start otherwise make them skip too, and count as a failure.
void StartTestServers(TestServers *servers, const std::wstring &program, Counts *total);
// Ends the servers, takes the authority out of the machine's trusted roots and clears the
// variables; false when the authority stays trusted. Safe to call again.
bool StopTestServers(TestServers *servers);
