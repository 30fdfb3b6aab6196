#include "registration/shortcuts.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/setup_log.h"

#include <shobjidl.h>

bool ShortcutPath(REFKNOWNFOLDERID folder, wchar_t *out)
{
    wchar_t *folder_path = nullptr;
    HRESULT found = SHGetKnownFolderPath(folder, 0, nullptr, &folder_path);
    if (FAILED(found)) {
        LogFailedCall("SHGetKnownFolderPath", nullptr, (unsigned long)found);
        CoTaskMemFree(folder_path);
        return false;
    }
    bool fits = FormatWide(out, 260, L"%s\\Talvor.lnk", folder_path) >= 0;
    CoTaskMemFree(folder_path);
    return fits;
}

bool CreateShortcut(REFKNOWNFOLDERID folder)
{
    wchar_t shortcut[260];
    wchar_t target[260];
    if (!ShortcutPath(folder, shortcut) || FormatWide(target, 260, L"%s\\Talvor.exe", InstallFolder) < 0)
        return false;
    IShellLinkW *link = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link);
    if (FAILED(result)) {
        LogFailedCall("CoCreateInstance", shortcut, (unsigned long)result);
        return false;
    }
    link->SetPath(target);
    link->SetWorkingDirectory(InstallFolder);
    link->SetIconLocation(target, 0);
    link->SetDescription(L"Talvor · Tekvar Yazılım");
    IPersistFile *file = nullptr;
    const char *call = "QueryInterface";
    result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (SUCCEEDED(result)) {
        call = "IPersistFile::Save";
        result = file->Save(shortcut, TRUE);
        file->Release();
    }
    link->Release();
    if (FAILED(result))
        LogFailedCall(call, shortcut, (unsigned long)result);
    return SUCCEEDED(result);
}

void DeleteShortcut(REFKNOWNFOLDERID folder)
{
    wchar_t shortcut[260];
    if (ShortcutPath(folder, shortcut))
        DeleteFileW(shortcut);
}
