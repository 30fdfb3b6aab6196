// The loopback servers of the download tests, for the kit's runner (calistir.h).
#include "calistir.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

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

} // namespace

bool NeedsServers(const std::wstring &program)
{
    return program == L"fetch_test" || program == L"wizard_test";
}

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

