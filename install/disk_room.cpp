#include "install/disk_room.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"

#include <windows.h>

namespace {

const uint64_t kMegabyte = 1ull << 20;

bool FreeBytes(uint64_t *free)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(InstallFolder, &available, nullptr, nullptr)) {
        LogFailedCall("GetDiskFreeSpaceExW", InstallFolder, GetLastError());
        return false;
    }
    *free = available.QuadPart;
    return true;
}

bool ReportNoRoom(uint64_t needed, uint64_t free)
{
    // The drive the user knows, "C:", whichever volume is mounted in the install folder.
    wchar_t drive[3];
    FormatWide(drive, 3, L"%.2s", InstallFolder);
    LogLine("yer yetmiyor: %ls uzerinde gereken %llu bayt, bos %llu bayt", drive, (unsigned long long)needed,
            (unsigned long long)free);
    return ReportError(L"%s sürücüsünde yeterli boş yer yok: kurulum için %llu MB gerekiyor, %llu MB boş; yer açıp "
                       L"kurulumu yeniden çalıştır.",
                       drive, (unsigned long long)((needed + kMegabyte - 1) / kMegabyte),
                       (unsigned long long)(free / kMegabyte));
}

} // namespace

bool EnsureRoom(uint64_t needed)
{
    uint64_t free;
    if (!FreeBytes(&free) || free >= needed)
        return true;
    return ReportNoRoom(needed, free);
}

uint64_t RoomForFiles()
{
    uint64_t free;
    if (!FreeBytes(&free))
        return UINT64_MAX;
    return free > kRoomMargin ? free - kRoomMargin : 0;
}
