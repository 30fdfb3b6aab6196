#include "app/install_folder.h"

#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>

#include "core/format.h"

Status GetInstallFolder(wchar_t *buffer, size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return StatusInvalid;
    wchar_t *program_files = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &program_files))) {
        CoTaskMemFree(program_files);
        return StatusIoError;
    }
    int length = FormatWide(buffer, capacity, L"%s\\Talvor", program_files);
    CoTaskMemFree(program_files);
    return length < 1 ? StatusBufferTooSmall : StatusOk;
}
