#include "service/legacy_driver.h"

#include "core/setup_log.h"
#include "service/service_control.h"

#include <wchar.h>

static const wchar_t kLegacyDriverService[] = L"WinDivert";
static const wchar_t kProductFolderMarker[] = L"\\talvor\\";

void RemoveLegacyDriverService()
{
    wchar_t image[520];
    if (!SvcQueryImagePath(kLegacyDriverService, image, 520))
        return;
    if (!PathHasProductFolder(image))
        return;
    LogLine("eski WinDivert kaydi kaldiriliyor");
    SvcStopAndDelete(kLegacyDriverService);
}

bool PathHasProductFolder(const wchar_t *path)
{
    if (path == nullptr)
        return false;
    size_t marker_length = wcslen(kProductFolderMarker);
    size_t length = wcslen(path);
    for (size_t start = 0; start + marker_length <= length; start++)
        if (_wcsnicmp(path + start, kProductFolderMarker, marker_length) == 0)
            return true;
    return false;
}
