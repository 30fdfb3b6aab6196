#include "app/conflict_check.h"

#include "core/ascii_case.h"

#include <tlhelp32.h>

namespace {

const wchar_t *const kServiceNames[] = {L"klif", L"klflt", L"klwfp", L"kneps", L"AVP"};
const wchar_t *const kProcessNames[] = {L"avp.exe", L"avpui.exe", L"ksde.exe", L"ksdeui.exe"};

} // namespace

bool ServiceKnown(SC_HANDLE manager, const wchar_t *name)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return false;
    CloseServiceHandle(service);
    return true;
}

bool ProcessRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        for (const wchar_t *name : kProcessNames)
            found = found || SameIgnoringAsciiCase(entry.szExeFile, name);
    }
    CloseHandle(snapshot);
    return found;
}

int DetectConflictingSoftware()
{
    bool found = false;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager != nullptr) {
        for (const wchar_t *name : kServiceNames) {
            if (ServiceKnown(manager, name)) {
                found = true;
                break;
            }
        }
        CloseServiceHandle(manager);
    }
    return found || ProcessRunning() ? 1 : 0;
}

const char *ConflictWarningText()
{
    return "Kaspersky kurulu. Kaspersky, Talvor'ın kullandığı WinDivert sürücüsünü engelleyebilir. "
           "Kaspersky ayarlarında Talvor klasörünü ve WinDivert64.sys dosyasını istisnalara "
           "(güvenilen uygulamalar) ekle. Yine de engellenirse Kaspersky'yi geçici olarak devre dışı "
           "bırakman gerekebilir.";
}
