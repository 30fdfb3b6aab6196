#include "registration/shortcuts.h"

#include "core/format.h"
#include "core/process_values.h"

#include <shobjidl.h>

bool ShortcutPath(REFKNOWNFOLDERID folder, wchar_t *out)
{
    wchar_t *folder_path = nullptr;
    if (FAILED(SHGetKnownFolderPath(folder, 0, nullptr, &folder_path)))
        return false;
    bool fits = FormatWide(out, 260, L"%s\\Talvor.lnk", folder_path) > 0;
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
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)))
        return false;
    link->SetPath(target);
    link->SetWorkingDirectory(InstallFolder);
    link->SetIconLocation(target, 0);
    link->SetDescription(L"Talvor · Tekvar Yazılım");
    IPersistFile *file = nullptr;
    bool saved = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        saved = SUCCEEDED(file->Save(shortcut, TRUE));
        file->Release();
    }
    link->Release();
    return saved;
}

void DeleteShortcut(REFKNOWNFOLDERID folder)
{
    wchar_t shortcut[260];
    if (ShortcutPath(folder, shortcut))
        DeleteFileW(shortcut);
}
