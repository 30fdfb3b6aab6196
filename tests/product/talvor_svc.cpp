// Stand-in for the product's service program "talvor_svc.exe".
//
//   talvor_svc.exe kur   registers the service "Talvor" with this copy's quoted path as its
//                        image (or repoints the existing one) and exits: 0 on success, else 1.
//   as the service       reports running, stays in this process until asked to stop (at most
//                        10 minutes), then reports stopped.
//
// The file "talvor_svc.davranis" beside the program makes it misbehave, and every event goes as
// one line into "talvor_svc.kayit" beside it; both are described in README.md.
#include <windows.h>

#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "beside_self.h"

namespace {

const wchar_t ServiceName[] = L"Talvor";

// Also the longest the service runs without a stop request, so that nothing is left behind.
const DWORD LongestDelayMs = 600000;
// A slow start or stop given no delay lasts until a test sets this event (at most the longest
// delay): the test, not a race against the setup's own waits, decides when it ends. The service
// runs as LocalSystem, whose default security would let administrators only wait on the event:
// it grants the system and the administrators every access itself.
const wchar_t ReleaseEventName[] = L"Global\\talvor_svc_birak";
const wchar_t ReleaseEventSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
const DWORD UntilReleased = INFINITE;

enum Behaviour {
    BehaveNormally,
    FailKur,
    StopAtOnce,
    StopSlowly,
    ExitEarly,
    NeverRuns,
    StartSlowly,
    ExitWhileStarting,
    LingerAfterStop
};

struct Conduct {
    Behaviour behaviour;
    DWORD delay_ms; // StopAtOnce and ExitEarly: after reaching running; StopSlowly: after the request;
                    // NeverRuns, StartSlowly and ExitWhileStarting: while start-pending;
                    // LingerAfterStop: after reporting stopped; UntilReleased: see ReleaseEventName
};

struct Keyword {
    const char *text;
    Behaviour behaviour;
    DWORD default_ms;
};

const Keyword Keywords[] = {
    {"kur-hata", FailKur, 0},
    {"hemen-dur", StopAtOnce, 200},
    {"yavas-dur", StopSlowly, UntilReleased},
    {"coker", ExitEarly, 1000},   // within the setup's 3 s stability pause
    {"baslamaz", NeverRuns, 500}, // falls back to stopped while starting
    {"yavas-basla", StartSlowly, UntilReleased},
    {"baslarken-coker", ExitWhileStarting, 300}, // a crash in its start-up
    {"gec-cik", LingerAfterStop, 3000},          // its process, and the library it holds, stay
};

SERVICE_STATUS_HANDLE StatusHandle;
HANDLE StopEvent;
HANDLE ReleaseEvent;
DWORD Checkpoint;

// Auto-reset: a release lets exactly one held start or stop go on.
HANDLE CreateReleaseEvent()
{
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ReleaseEventSecurity, SDDL_REVISION_1, &security,
                                                              nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    HANDLE event = CreateEventW(&attributes, FALSE, FALSE, ReleaseEventName);
    LocalFree(security);
    return event;
}

// The behaviour file: a keyword, optionally followed by blanks and a delay in milliseconds.
// No file, or a keyword not listed, means normal behaviour.
Conduct ReadConduct()
{
    Conduct conduct = {BehaveNormally, 0};
    wchar_t path[MAX_PATH];
    if (!BesideSelf(L"talvor_svc.davranis", path, MAX_PATH))
        return conduct;
    char text[64] = {};
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return conduct;
    DWORD got = 0;
    ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    text[got] = 0;

    size_t length = strcspn(text, " \t\r\n");
    for (const Keyword &keyword : Keywords) {
        if (length != strlen(keyword.text) || strncmp(text, keyword.text, length) != 0)
            continue;
        conduct.behaviour = keyword.behaviour;
        conduct.delay_ms = keyword.default_ms;
        const char *number = text + length + strspn(text + length, " \t");
        if (*number >= '0' && *number <= '9') {
            conduct.delay_ms = (DWORD)strtoul(number, nullptr, 10);
            if (conduct.delay_ms > LongestDelayMs)
                conduct.delay_ms = LongestDelayMs;
        }
    }
    return conduct;
}

// One line "<event> <process id>", with `extra` after a blank when given.
void Record(const char *event, const char *extra = nullptr)
{
    wchar_t path[MAX_PATH];
    if (!BesideSelf(L"talvor_svc.kayit", path, MAX_PATH))
        return;
    char line[128];
    snprintf(line, sizeof line, "%s %lu%s%s", event, GetCurrentProcessId(), extra ? " " : "", extra ? extra : "");
    AppendLine(path, line);
}

int RegisterSelf()
{
    if (ReadConduct().behaviour == FailKur) {
        Record("kur-hata");
        return 1;
    }
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    wchar_t image[MAX_PATH + 2];
    _snwprintf(image, MAX_PATH + 2, L"\"%s\"", self);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        return 1;
    SC_HANDLE service = CreateServiceW(manager, ServiceName, ServiceName, SERVICE_CHANGE_CONFIG,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, image,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    bool ok = service != nullptr;
    if (service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
        service = OpenServiceW(manager, ServiceName, SERVICE_CHANGE_CONFIG);
        ok = service != nullptr &&
             ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, image,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (ok)
        Record("kur");
    return ok ? 0 : 1;
}

void ReportStatus(DWORD state, DWORD wait_hint_ms)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwCheckPoint = state == SERVICE_STOP_PENDING ? ++Checkpoint : 0;
    status.dwWaitHint = wait_hint_ms;
    SetServiceStatus(StatusHandle, &status);
}

DWORD WINAPI HandleControl(DWORD control, DWORD, void *, void *)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        SetEvent(StopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Waits the delay, or until the test releases the service when it has none.
void Delay(DWORD delay_ms)
{
    if (delay_ms == UntilReleased)
        WaitForSingleObject(ReleaseEvent, LongestDelayMs);
    else
        Sleep(delay_ms);
}

DWORD WaitHint(DWORD delay_ms)
{
    return (delay_ms == UntilReleased ? LongestDelayMs : delay_ms) + 2000;
}

void WINAPI ServiceMain(DWORD, wchar_t **)
{
    Conduct conduct = ReadConduct();
    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ReleaseEvent = CreateReleaseEvent();
    StatusHandle = RegisterServiceCtrlHandlerExW(ServiceName, HandleControl, nullptr);
    if (StopEvent == nullptr || ReleaseEvent == nullptr || StatusHandle == nullptr) {
        if (StopEvent != nullptr)
            CloseHandle(StopEvent);
        if (ReleaseEvent != nullptr)
            CloseHandle(ReleaseEvent);
        return;
    }
    if (conduct.behaviour == NeverRuns) {
        ReportStatus(SERVICE_START_PENDING, WaitHint(conduct.delay_ms));
        Delay(conduct.delay_ms);
        CloseHandle(StopEvent);
        CloseHandle(ReleaseEvent);
        Record("baslamadi");
        ReportStatus(SERVICE_STOPPED, 0);
        return;
    }
    if (conduct.behaviour == StartSlowly || conduct.behaviour == ExitWhileStarting) {
        ReportStatus(SERVICE_START_PENDING, WaitHint(conduct.delay_ms));
        Delay(conduct.delay_ms);
    }
    if (conduct.behaviour == ExitWhileStarting) {
        Record("cikti");
        ExitProcess(3);
    }
    // As the product's service keeps the packet library loaded: held without delete sharing until
    // the process ends.
    wchar_t library[MAX_PATH];
    if (conduct.behaviour == LingerAfterStop && BesideSelf(L"WinDivert.dll", library, MAX_PATH))
        CreateFileW(library, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ReportStatus(SERVICE_RUNNING, 0);
    Record("basladi");

    DWORD run_ms = LongestDelayMs;
    if (conduct.behaviour == StopAtOnce || conduct.behaviour == ExitEarly)
        run_ms = conduct.delay_ms;
    bool asked = WaitForSingleObject(StopEvent, run_ms) == WAIT_OBJECT_0;
    if (conduct.behaviour == ExitEarly && !asked) {
        // A crash: the process ends without a word to the service control manager.
        Record("cikti");
        ExitProcess(3);
    }
    DWORD stop_ms = asked && conduct.behaviour == StopSlowly ? conduct.delay_ms : 0;
    if (asked) {
        char delay[16] = "birakilinca";
        if (stop_ms != UntilReleased)
            snprintf(delay, sizeof delay, "%lu", stop_ms);
        Record("durduruluyor", delay);
    }
    ReportStatus(SERVICE_STOP_PENDING, WaitHint(stop_ms));
    Delay(stop_ms);
    CloseHandle(StopEvent);
    CloseHandle(ReleaseEvent);
    Record("durdu");
    ReportStatus(SERVICE_STOPPED, 0);
}

} // namespace

int wmain(int count, wchar_t **arguments)
{
    if (count == 2 && wcscmp(arguments[1], L"kur") == 0)
        return RegisterSelf();
    SERVICE_TABLE_ENTRYW table[] = {{(wchar_t *)ServiceName, ServiceMain}, {nullptr, nullptr}};
    bool dispatched = StartServiceCtrlDispatcherW(table) != 0;
    // The dispatcher returns once the service reported stopped; the process would end with it.
    Conduct conduct = ReadConduct();
    if (dispatched && conduct.behaviour == LingerAfterStop)
        Sleep(conduct.delay_ms);
    return dispatched ? 0 : 1;
}
