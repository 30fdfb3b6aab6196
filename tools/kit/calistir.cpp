// The Windows test kit's runner, started by calistir.cmd from an elevated command prompt:
//
//   calistir.cmd [--sinir=SECONDS] [PROGRAM[:FILTER] | denetle]...
//
// Runs each test program of the kit's tests folder (all those programlar.txt lists when none is
// named) with GoogleTest's XML output, and for "denetle" takes each release of the kit's denetim
// folder with the checker and the machine's own Compression API. Prints one line per program or
// release and a last line "N passed, N failed, N skipped"; writes every program's output and XML
// and ozet.txt (these lines, each as it is printed) into the folder rapor; exits 0 only when
// nothing failed. The product is taken off the machine with the kit's own setup before and after.
// Each program and release gets at most the time limit (--sinir, 20 minutes by default); one
// that runs out of it is ended with every process it started and counted as failed. Without an
// elevated token it refuses to start: every test would fail for that reason alone.
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

// The longest program takes about 7 minutes under Wine; the Windows job has 150 minutes for all
// of them, so a few programs that hang still leave room for the rest and the report.
const DWORD kDefaultLimitSeconds = 20 * 60;
const DWORD kRemovalTimeoutMs = 10 * 60 * 1000;

std::wstring Root;
std::wstring Report;
HANDLE SummaryFile = INVALID_HANDLE_VALUE;
DWORD LimitMs = kDefaultLimitSeconds * 1000;

struct Counts {
    long passed = 0, failed = 0, skipped = 0;
};

// How a program run ended.
enum RunEnd { RunExited, RunNotStarted, RunTimedOut };

void Say(const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printf("%s\n", line);
    fflush(stdout);
    if (SummaryFile == INVALID_HANDLE_VALUE)
        return;
    // Through to the disk at once: a run ended from outside keeps the lines of what finished.
    std::string text = std::string(line) + "\r\n";
    DWORD written;
    if (!WriteFile(SummaryFile, text.data(), (DWORD)text.size(), &written, nullptr))
        fprintf(stderr, "WriteFile ozet.txt failed, error %lu\n", GetLastError());
    else if (!FlushFileBuffers(SummaryFile))
        fprintf(stderr, "FlushFileBuffers ozet.txt failed, error %lu\n", GetLastError());
}

std::string Narrow(const std::wstring &text)
{
    char out[1024];
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), out, sizeof out, nullptr, nullptr);
    return std::string(out, length > 0 ? length : 0);
}

std::string ReadAll(const std::wstring &path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD got;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

// Whether the runner's token is elevated, as the tests need: they register a service and write
// under Program Files and HKEY_LOCAL_MACHINE.
bool Elevated()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        fprintf(stderr, "OpenProcessToken failed, error %lu\n", GetLastError());
        return false;
    }
    TOKEN_ELEVATION elevation = {};
    DWORD size;
    bool read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
    if (!read)
        fprintf(stderr, "GetTokenInformation TokenElevation failed, error %lu\n", GetLastError());
    CloseHandle(token);
    return read && elevation.TokenIsElevated != 0;
}

// Starts the command line suspended, with its output into `output`; false, having said why and
// with the error kept for GetLastError, when it could not be started.
bool Start(const std::wstring &program, const std::wstring &arguments, const std::wstring &folder,
           const std::wstring &output, PROCESS_INFORMATION *process)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    DWORD error = 0;
    bool started = false;
    if (out == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        fprintf(stderr, "CreateFileW %s failed, error %lu\n", Narrow(output).c_str(), error);
    } else if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                               folder.c_str(), &startup, process)) {
        error = GetLastError();
        fprintf(stderr, "CreateProcessW %s failed, error %lu\n", Narrow(program).c_str(), error);
    } else {
        started = true;
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    SetLastError(error);
    return started;
}

// Runs the command line with its output into `output`, in a job of its own, so that one that runs
// out of time is ended with every process it started. *code receives the exit code, or the
// error when it could not be started.
RunEnd Run(const std::wstring &program, const std::wstring &arguments, const std::wstring &folder,
           const std::wstring &output, DWORD timeout_ms, long *code)
{
    PROCESS_INFORMATION process;
    if (!Start(program, arguments, folder, output, &process)) {
        *code = (long)GetLastError();
        return RunNotStarted;
    }
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr)
        fprintf(stderr, "CreateJobObjectW failed, error %lu\n", GetLastError());
    else if (!AssignProcessToJobObject(job, process.hProcess))
        fprintf(stderr, "AssignProcessToJobObject failed, error %lu\n", GetLastError());
    ResumeThread(process.hThread);
    RunEnd end = RunExited;
    if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
        end = RunTimedOut;
        if (!TerminateJobObject(job, ERROR_TIMEOUT) && !TerminateProcess(process.hProcess, ERROR_TIMEOUT))
            fprintf(stderr, "TerminateProcess failed, error %lu\n", GetLastError());
        WaitForSingleObject(process.hProcess, 30000);
    }
    DWORD exit_code;
    if (!GetExitCodeProcess(process.hProcess, &exit_code))
        exit_code = (DWORD)-1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job != nullptr)
        CloseHandle(job);
    *code = (long)exit_code;
    return end;
}

// Says the line of a run that did not end by itself, and whether there was one.
bool SaidRunFailure(const std::string &name, RunEnd end, long code)
{
    if (end == RunNotStarted)
        Say("%s: could not be started (error %ld)", name.c_str(), code);
    else if (end == RunTimedOut)
        Say("%s: ran out of its time limit of %lu s and was ended", name.c_str(), LimitMs / 1000);
    return end != RunExited;
}

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The test cases of a GoogleTest XML report: skipped ones carry result="skipped", failed ones a
// <failure> element. False when there is no report.
bool CountReport(const std::string &xml, Counts *counts)
{
    if (xml.find("<testsuites") == std::string::npos)
        return false;
    for (size_t at = xml.find("<testcase "); at != std::string::npos; at = xml.find("<testcase ", at + 1)) {
        size_t head_end = xml.find('>', at);
        if (head_end == std::string::npos)
            return false;
        size_t end = xml[head_end - 1] == '/' ? head_end : xml.find("</testcase>", head_end);
        std::string head = xml.substr(at, head_end - at);
        std::string body = end == std::string::npos ? "" : xml.substr(head_end, end - head_end);
        if (body.find("<failure") != std::string::npos)
            counts->failed++;
        else if (head.find("result=\"skipped\"") != std::string::npos)
            counts->skipped++;
        else
            counts->passed++;
    }
    return true;
}

// The loopback servers of the download tests, started around fetch_test and wizard_test as
// tests/servers/with_servers.sh starts them on Linux: our test server (sunucu\test_http_server.py,
// run by the python.exe found on PATH) over HTTP and over HTTPS with a good, a misnamed and an
// untrusted certificate, the kit's test authority in the machine's trusted roots only while the
// program runs. The tests learn where from the TALVOR_TEST_* variables, or why they skip from
// TALVOR_TEST_SERVERS_MISSING. nginx is not in the kit (there is no Windows build of it to take):
// its tests skip.

const DWORD kServerStartMs = 20 * 1000;
const DWORD kServerStopMs = 10 * 1000;
const DWORD kToolTimeoutMs = 2 * 60 * 1000;

const wchar_t *const kServerVariables[] = {L"TALVOR_TEST_HTTP", L"TALVOR_TEST_HTTPS", L"TALVOR_TEST_HTTPS_WRONG_NAME",
                                           L"TALVOR_TEST_HTTPS_UNTRUSTED", L"TALVOR_TEST_REFUSED",
                                           L"TALVOR_TEST_SERVE_DIR", L"TALVOR_TEST_SERVERS_MISSING"};

struct TestServer {
    const wchar_t *name, *variable, *scheme, *options;
};
const TestServer kTestServers[] = {
    {L"http", L"TALVOR_TEST_HTTP", L"http", L""},
    {L"https", L"TALVOR_TEST_HTTPS", L"https", L"--cert=sertifika/server.pem --key=sertifika/server.key"},
    {L"wrongname", L"TALVOR_TEST_HTTPS_WRONG_NAME", L"https",
     L"--cert=sertifika/wrongname.pem --key=sertifika/wrongname.key"},
    {L"untrusted", L"TALVOR_TEST_HTTPS_UNTRUSTED", L"https",
     L"--cert=sertifika/untrusted.pem --key=sertifika/untrusted.key"},
};

struct TestServers {
    HANDLE job = nullptr;
    std::vector<HANDLE> processes;
    PCCERT_CONTEXT authority = nullptr;
    // The authority's SHA-1 hash, from when certutil is asked to trust it until it is gone again.
    std::wstring trusted;
};

bool NeedsServers(const std::wstring &program)
{
    return program == L"fetch_test" || program == L"wizard_test";
}

std::wstring SystemProgram(const wchar_t *name)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        Say("test servers: GetSystemDirectoryW failed (error %lu)", GetLastError());
    return std::wstring(folder, length < MAX_PATH ? length : 0) + L"\\" + name;
}

// The first python.exe in an absolute folder of PATH: the runner is elevated, and a relative
// folder would be the one it happened to start in.
std::wstring FindPython()
{
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetEnvironmentVariableW(L"PATH", buffer.data(), (DWORD)buffer.size());
    std::wstring path(buffer.data(), length < buffer.size() ? length : 0);
    for (size_t start = 0, end; start < path.size(); start = end + 1) {
        end = path.find(L';', start);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring folder = path.substr(start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        bool absolute = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                        folder.compare(0, 2, L"\\\\") == 0;
        if (!absolute)
            continue;
        std::wstring candidate = folder + (folder.back() == L'\\' ? L"" : L"\\") + L"python.exe";
        DWORD attributes = GetFileAttributesW(candidate.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return candidate;
    }
    return L"";
}

// A port on 127.0.0.1 that nothing listened on a moment ago, or 0.
unsigned FreePort()
{
    WSADATA winsock;
    int error = WSAStartup(MAKEWORD(2, 2), &winsock);
    if (error != 0) {
        Say("test servers: WSAStartup failed (error %d)", error);
        return 0;
    }
    unsigned port = 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        Say("test servers: socket failed (error %d)", WSAGetLastError());
    else if (bind(probe, (sockaddr *)&address, sizeof address) != 0 ||
             getsockname(probe, (sockaddr *)&address, &size) != 0)
        Say("test servers: bind or getsockname failed (error %d)", WSAGetLastError());
    else
        port = ntohs(address.sin_port);
    if (probe != INVALID_SOCKET)
        closesocket(probe);
    WSACleanup();
    return port;
}

// Whether the machine's trusted roots hold the certificate, in *held; false when that cannot be
// read.
bool InMachineRoots(PCCERT_CONTEXT certificate, bool *held)
{
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root");
    if (store == nullptr) {
        Say("test servers: CertOpenStore of the machine's Root failed (error 0x%08lx)", GetLastError());
        return false;
    }
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
    *held = found != nullptr;
    if (found != nullptr)
        CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
    return true;
}

// A tool's exit code, or -1 when it could not be started or ran out of its time.
long RunTool(const std::wstring &program, const std::wstring &arguments, const std::wstring &folder,
             const std::wstring &output)
{
    long code;
    return Run(program, arguments, folder, output, kToolTimeoutMs, &code) == RunExited ? code : -1;
}

// certutil, the documented way to change the machine's trusted roots without a prompt. Its exit
// code alone is not taken for the change: the callers read the store back.
bool Certutil(const std::wstring &arguments, const wchar_t *output)
{
    long code = RunTool(SystemProgram(L"certutil.exe"), arguments, Root, Report + L"\\" + output);
    if (code != 0)
        Say("test servers: certutil %s: exit %ld (rapor\\%s)", Narrow(arguments).c_str(), code,
            Narrow(output).c_str());
    return code == 0;
}

bool TrustAuthority(TestServers *servers)
{
    std::wstring file = Root + L"\\sunucu\\sertifika\\ca.der";
    std::string der = ReadAll(file);
    servers->authority = CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE *)der.data(), (DWORD)der.size());
    if (servers->authority == nullptr) {
        Say("test servers: CertCreateCertificateContext failed: %s (error 0x%08lx)", Narrow(file).c_str(),
            GetLastError());
        return false;
    }
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(servers->authority, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        Say("test servers: CertGetCertificateContextProperty failed (error 0x%08lx)", GetLastError());
        return false;
    }
    wchar_t hex[2 * sizeof hash + 1];
    for (DWORD i = 0; i < size; i++)
        swprintf(hex + 2 * i, 3, L"%02X", hash[i]);
    servers->trusted.assign(hex, 2 * size);
    bool held = false;
    if (!Certutil(L"-addstore -f Root \"" + file + L"\"", L"sunucu-guven-ekle.txt") ||
        !InMachineRoots(servers->authority, &held))
        return false;
    if (!held)
        Say("test servers: certutil reported success, but the machine's trusted roots lack the test authority");
    return held;
}

// Takes the authority out of the machine's trusted roots; false when it stays there.
bool UntrustAuthority(TestServers *servers)
{
    if (servers->trusted.empty())
        return true;
    bool held = true;
    if (InMachineRoots(servers->authority, &held) && held) {
        Certutil(L"-delstore Root " + servers->trusted, L"sunucu-guven-sil.txt");
        if (!InMachineRoots(servers->authority, &held))
            held = true;
    }
    if (held) {
        Say("test servers: the test authority is still trusted on this machine; remove it: certutil -delstore Root %s",
            Narrow(servers->trusted).c_str());
        return false;
    }
    servers->trusted.clear();
    return true;
}

// Starts our test server in the servers' job; its port once it listens, or 0.
unsigned StartServer(TestServers *servers, const std::wstring &python, const TestServer &server)
{
    std::wstring folder = Root + L"\\sunucu";
    std::wstring port_file = folder + L"\\calisma\\" + server.name + L".port";
    if (!DeleteFileW(port_file.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        Say("test servers: DeleteFileW failed: %s (error %lu)", Narrow(port_file).c_str(), GetLastError());
        return 0;
    }
    std::wstring arguments = L"-u test_http_server.py --port-file=calisma/" + std::wstring(server.name) +
                             L".port --root=calisma/sunulan " + server.options;
    PROCESS_INFORMATION process;
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    if (!Start(python, arguments, folder, Report + L"\\sunucu-" + server.name + L".txt", &process)) {
        Say("test servers: CreateProcessW failed: %s (error %lu)", Narrow(python).c_str(), GetLastError());
        return 0;
    }
    servers->processes.push_back(process.hProcess);
    bool running = AssignProcessToJobObject(servers->job, process.hProcess);
    if (!running) {
        Say("test servers: AssignProcessToJobObject failed (error %lu)", GetLastError());
        TerminateProcess(process.hProcess, 1);
    } else if (ResumeThread(process.hThread) == (DWORD)-1) {
        Say("test servers: ResumeThread failed (error %lu)", GetLastError());
        running = false;
    }
    CloseHandle(process.hThread);
    unsigned port = 0;
    for (ULONGLONG start = GetTickCount64(); running && port == 0;) {
        port = strtoul(ReadAll(port_file).c_str(), nullptr, 10);
        if (port != 0)
            break;
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
            Say("test servers: %s ended while starting (rapor\\sunucu-%s.txt)", Narrow(server.name).c_str(),
                Narrow(server.name).c_str());
            running = false;
        } else if (GetTickCount64() - start > kServerStartMs) {
            Say("test servers: %s did not listen within %lu s", Narrow(server.name).c_str(), kServerStartMs / 1000);
            running = false;
        }
    }
    return port;
}

// Ends the servers, takes the authority out of the machine's trusted roots and clears the
// variables; false when the authority stays trusted. Safe to call again.
bool StopTestServers(TestServers *servers)
{
    if (servers->job != nullptr) {
        if (!TerminateJobObject(servers->job, 1))
            Say("test servers: TerminateJobObject failed (error %lu)", GetLastError());
        for (HANDLE process : servers->processes) {
            if (WaitForSingleObject(process, kServerStopMs) != WAIT_OBJECT_0)
                Say("test servers: a server did not end within %lu s", kServerStopMs / 1000);
            CloseHandle(process);
        }
        CloseHandle(servers->job);
    }
    servers->job = nullptr;
    servers->processes.clear();
    bool removed = UntrustAuthority(servers);
    if (servers->authority != nullptr)
        CertFreeCertificateContext(servers->authority);
    servers->authority = nullptr;
    for (const wchar_t *variable : kServerVariables)
        SetEnvironmentVariableW(variable, nullptr);
    RunTool(SystemProgram(L"cmd.exe"), L"/c rmdir /s /q calisma", Root + L"\\sunucu",
            Report + L"\\sunucu-temizlik.txt");
    return removed;
}

// Trusts the authority and starts every server in a job that ends them all, also should the
// runner itself end; sets the variables for the tests. False, having said why, when that failed.
bool LaunchTestServers(TestServers *servers, const std::wstring &python)
{
    std::wstring work = Root + L"\\sunucu\\calisma";
    std::wstring served = work + L"\\sunulan";
    CreateDirectoryW(work.c_str(), nullptr);
    if (!CreateDirectoryW(served.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Say("test servers: CreateDirectoryW failed: %s (error %lu)", Narrow(served).c_str(), GetLastError());
        return false;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    servers->job = CreateJobObjectW(nullptr, nullptr);
    if (servers->job == nullptr ||
        !SetInformationJobObject(servers->job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        Say("test servers: CreateJobObjectW or SetInformationJobObject failed (error %lu)", GetLastError());
        return false;
    }
    if (!TrustAuthority(servers))
        return false;
    for (const TestServer &server : kTestServers) {
        unsigned port = StartServer(servers, python, server);
        if (port == 0)
            return false;
        std::wstring url = std::wstring(server.scheme) + L"://127.0.0.1:" + std::to_wstring(port) + L"/";
        SetEnvironmentVariableW(server.variable, url.c_str());
    }
    unsigned refused = FreePort();
    if (refused == 0)
        return false;
    SetEnvironmentVariableW(L"TALVOR_TEST_REFUSED", (L"http://127.0.0.1:" + std::to_wstring(refused) + L"/").c_str());
    SetEnvironmentVariableW(L"TALVOR_TEST_SERVE_DIR", served.c_str());
    return true;
}

// Starts the servers for PROGRAM. Without a Python 3 on PATH its tests skip with that reason;
// servers that fail to start otherwise make them skip too, and count as a failure.
void StartTestServers(TestServers *servers, const std::wstring &program, Counts *total)
{
    std::string missing;
    std::wstring python = FindPython();
    if (python.empty()) {
        missing = "no python.exe on PATH";
    } else {
        long code = RunTool(python, L"-c \"import sys; sys.exit(sys.version_info < (3, 7))\"", Root,
                            Report + L"\\sunucu-python.txt");
        if (code != 0) {
            missing = Narrow(python) + " is no Python 3.7 or later (exit " + std::to_string(code) + ")";
        } else if (!LaunchTestServers(servers, python)) {
            StopTestServers(servers);
            total->failed++;
            missing = "the kit's runner could not start them (rapor\\ozet.txt)";
        }
    }
    if (missing.empty())
        return;
    Say("%s: the test servers are not running: %s", Narrow(program).c_str(), missing.c_str());
    std::string reason = "no test servers: " + missing;
    SetEnvironmentVariableW(L"TALVOR_TEST_SERVERS_MISSING", std::wstring(reason.begin(), reason.end()).c_str());
}

void RunTestProgram(const std::wstring &selection, Counts *total)
{
    size_t colon = selection.find(L':');
    std::wstring name = selection.substr(0, colon);
    std::wstring program = Root + L"\\tests\\" + name + L".exe";
    if (!Exists(program)) {
        Say("%s: missing", Narrow(name).c_str());
        total->failed++;
        return;
    }
    std::wstring xml = Report + L"\\" + name + L".xml";
    DeleteFileW(xml.c_str());
    std::wstring arguments = L"\"--gtest_output=xml:" + xml + L"\"";
    if (colon != std::wstring::npos)
        arguments += L" \"--gtest_filter=" + selection.substr(colon + 1) + L"\"";
    TestServers servers;
    if (NeedsServers(name))
        StartTestServers(&servers, name, total);
    ULONGLONG start = GetTickCount64();
    long code;
    RunEnd end = Run(program, arguments, Root + L"\\tests", Report + L"\\" + name + L".txt", LimitMs, &code);
    unsigned seconds = (unsigned)((GetTickCount64() - start) / 1000);
    if (!StopTestServers(&servers))
        total->failed++;
    Counts counts;
    if (SaidRunFailure(Narrow(name), end, code)) {
        total->failed++;
        return;
    }
    if (!CountReport(ReadAll(xml), &counts)) {
        Say("%s: no report (exit %ld, %u s)", Narrow(name).c_str(), code, seconds);
        total->failed++;
        return;
    }
    // A program that fails without a failed case (a crash after the report) fails once more.
    if (code != 0 && counts.failed == 0)
        counts.failed = 1;
    Say("%s: %ld passed, %ld failed, %ld skipped (%u s)", Narrow(name).c_str(), counts.passed, counts.failed,
        counts.skipped, seconds);
    total->passed += counts.passed;
    total->failed += counts.failed;
    total->skipped += counts.skipped;
}

// Each release of the denetim folder, taken by the checker as the setup takes it.
void CheckReleases(Counts *total)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((Root + L"\\denetim\\*").c_str(), &entry);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
        std::wstring name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L"..")
            continue;
        std::wstring output = Report + L"\\denetle-" + name + L".txt";
        long code;
        RunEnd end = Run(Root + L"\\bin\\talvor-denetle.exe", L"\"--yerel=" + Root + L"\\denetim\\" + name + L"\"",
                         Root, output, LimitMs, &code);
        bool decoded = end == RunExited && code == 0 && ReadAll(output).find("tam=1") != std::string::npos;
        if (!SaidRunFailure("denetle " + Narrow(name), end, code))
            Say("denetle %s: %s (exit %ld)", Narrow(name).c_str(), decoded ? "passed" : "failed", code);
        (decoded ? total->passed : total->failed)++;
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

void RemoveProduct(const wchar_t *when)
{
    long code;
    RunEnd end = Run(Root + L"\\bin\\Talvor-Kurulum.exe", L"/kaldir /sessiz", Root,
                     Report + L"\\kaldirma-" + when + L".txt", kRemovalTimeoutMs, &code);
    if (!SaidRunFailure("product removal " + Narrow(when), end, code) && code != 0)
        Say("product removal %s: exit %ld", Narrow(when).c_str(), code);
}

std::vector<std::wstring> DefaultSelection()
{
    std::vector<std::wstring> names;
    std::string list = ReadAll(Root + L"\\programlar.txt");
    size_t start = 0;
    for (size_t end; (end = list.find('\n', start)) != std::string::npos || start < list.size(); start = end + 1) {
        if (end == std::string::npos)
            end = list.size();
        std::string name = list.substr(start, end - start);
        while (!name.empty() && (name.back() == '\r' || name.back() == ' '))
            name.pop_back();
        if (!name.empty())
            names.push_back(std::wstring(name.begin(), name.end()));
    }
    return names;
}

// "--sinir=SECONDS" sets the time limit of each program; false when it is not a number from 1 to
// a day.
bool ReadLimit(const std::wstring &option)
{
    const wchar_t *digits = option.c_str() + wcslen(L"--sinir=");
    wchar_t *end;
    unsigned long seconds = wcstoul(digits, &end, 10);
    if (*digits < L'0' || *digits > L'9' || *end != 0 || seconds == 0 || seconds > 24 * 3600)
        return false;
    LimitMs = (DWORD)seconds * 1000;
    return true;
}

// rapor\ozet.txt, new for this run, written line by line by Say.
void OpenSummary()
{
    if (!CreateDirectoryW(Report.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        fprintf(stderr, "CreateDirectoryW rapor failed, error %lu\n", GetLastError());
    SummaryFile = CreateFileW((Report + L"\\ozet.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (SummaryFile == INVALID_HANDLE_VALUE)
        fprintf(stderr, "CreateFileW ozet.txt failed, error %lu\n", GetLastError());
}

} // namespace

int wmain(int count, wchar_t **arguments)
{
    if (!Elevated()) {
        printf("calistir: not elevated; run it from a command prompt opened with \"Run as administrator\". "
               "Nothing was run.\n");
        return 2;
    }
    std::vector<std::wstring> selection;
    for (int i = 1; i < count; i++) {
        std::wstring item = arguments[i];
        if (item.compare(0, 8, L"--sinir=") != 0)
            selection.push_back(item);
        else if (!ReadLimit(item)) {
            printf("calistir: --sinir takes the time limit of each program in seconds, 1 to 86400.\n");
            return 2;
        }
    }
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    Root.assign(self, length);
    Root.erase(Root.find_last_of(L'\\'));
    Report = Root + L"\\rapor";
    OpenSummary();

    if (selection.empty())
        selection = DefaultSelection();
    Counts total;
    RemoveProduct(L"once");
    for (const std::wstring &item : selection) {
        if (item == L"denetle")
            CheckReleases(&total);
        else
            RunTestProgram(item, &total);
    }
    RemoveProduct(L"sonra");
    Say("%ld passed, %ld failed, %ld skipped", total.passed, total.failed, total.skipped);
    if (SummaryFile != INVALID_HANDLE_VALUE)
        CloseHandle(SummaryFile);
    return total.failed == 0 ? 0 : 1;
}
