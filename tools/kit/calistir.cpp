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
#include "calistir.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

// The longest program takes about 7 minutes under Wine; the Windows job has 150 minutes for all
// of them, so a few programs that hang still leave room for the rest and the report.
const DWORD kDefaultLimitSeconds = 20 * 60;
const DWORD kRemovalTimeoutMs = 10 * 60 * 1000;

HANDLE SummaryFile = INVALID_HANDLE_VALUE;
DWORD LimitMs = kDefaultLimitSeconds * 1000;

} // namespace

std::wstring Root;
std::wstring Report;

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

namespace {

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
