#include "app/conflict_check.h"

#include "core/ascii_case.h"
#include "service/process_list.h"

namespace {

const wchar_t *const kServiceNames[] = {L"klif", L"klflt", L"klwfp", L"kneps", L"AVP"};
const wchar_t *const kProcessNames[] = {L"avp.exe", L"avpui.exe", L"ksde.exe", L"ksdeui.exe"};

// Stops the walk at the first listed process, noting it in the bool behind `found`.
bool NoteListedProcess(const wchar_t *image_name, DWORD, const FILETIME *, void *found)
{
    for (const wchar_t *name : kProcessNames) {
        if (SameIgnoringAsciiCase(image_name, name)) {
            *(bool *)found = true;
            return false;
        }
    }
    return true;
}

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
    bool found = false;
    ForEachProcess(NoteListedProcess, &found);
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
