// The Windows test kit's runner, started by calistir.cmd from an elevated command prompt:
//
//   calistir.cmd [PROGRAM[:FILTER] | denetle]...
//
// Runs each test program of the kit's tests folder (all those programlar.txt lists when none is
// named) with GoogleTest's XML output, and for "denetle" takes each release of the kit's denetim
// folder with the checker and the machine's own Compression API. Prints one line per program or
// release and a last line "N passed, N failed, N skipped"; writes every program's output and XML
// and ozet.txt (these lines) into the folder rapor; exits 0 only when nothing failed. The product
// is taken off the machine with the kit's own setup before and after.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

const DWORD kProgramTimeoutMs = 90 * 60 * 1000;
const DWORD kRemovalTimeoutMs = 10 * 60 * 1000;

std::wstring Root;
std::wstring Report;
std::string Summary;

struct Counts {
    long passed = 0, failed = 0, skipped = 0;
};

void Say(const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printf("%s\n", line);
    fflush(stdout);
    Summary += std::string(line) + "\r\n";
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

// Runs the command line with its output into `output`; its exit code, or -1 when it could not be
// started, or ended after the time-out.
long Run(const std::wstring &program, const std::wstring &arguments, const std::wstring &folder,
         const std::wstring &output, DWORD timeout_ms)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    BOOL started = out != INVALID_HANDLE_VALUE && CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                                                0, nullptr, folder.c_str(), &startup, &process);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (!started)
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, (UINT)-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (long)code;
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
    ULONGLONG start = GetTickCount64();
    long code = Run(program, arguments, Root + L"\\tests", Report + L"\\" + name + L".txt", kProgramTimeoutMs);
    unsigned seconds = (unsigned)((GetTickCount64() - start) / 1000);
    Counts counts;
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
        long code = Run(Root + L"\\bin\\talvor-denetle.exe", L"\"--yerel=" + Root + L"\\denetim\\" + name + L"\"",
                        Root, output, kProgramTimeoutMs);
        bool decoded = code == 0 && ReadAll(output).find("tam=1") != std::string::npos;
        Say("denetle %s: %s (exit %ld)", Narrow(name).c_str(), decoded ? "passed" : "failed", code);
        (decoded ? total->passed : total->failed)++;
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

void RemoveProduct(const wchar_t *when)
{
    long code = Run(Root + L"\\bin\\Talvor-Kurulum.exe", L"/kaldir /sessiz", Root,
                    Report + L"\\kaldirma-" + when + L".txt", kRemovalTimeoutMs);
    if (code != 0)
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

} // namespace

int wmain(int count, wchar_t **arguments)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    Root.assign(self, length);
    Root.erase(Root.find_last_of(L'\\'));
    Report = Root + L"\\rapor";
    CreateDirectoryW(Report.c_str(), nullptr);

    std::vector<std::wstring> selection(arguments + 1, arguments + count);
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

    HANDLE summary = CreateFileW((Report + L"\\ozet.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    if (summary != INVALID_HANDLE_VALUE) {
        WriteFile(summary, Summary.data(), (DWORD)Summary.size(), &written, nullptr);
        CloseHandle(summary);
    }
    return total.failed == 0 ? 0 : 1;
}
