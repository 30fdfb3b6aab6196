#include "install/acquisition.h"

#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "install/disk_room.h"
#include "fetch/release_source.h"
#include "release/digest.h"
#include "release/signature.h"
#include "release/signed_manifest.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

bool AcquireManifest(ProgramEntry *entry)
{
    SetStatus(L"Sürüm bilgisi alınıyor…", 2, 1);
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (!FetchReleaseFile(kManifestFileName, kManifestMaxSize, false, 0, &data, &size)) {
        if (Options.local_folder[0] != 0)
            return ReportError(kManifestNotInFolderMessage);
        return ReportError(kManifestNotFetchedMessage);
    }
    SignedManifest *manifest = nullptr;
    Status status = ParseSignedManifest(data, size, GetReleasePublicKey(), &manifest);
    free(data);
    if (status != StatusOk)
        return ReportError(L"Sürüm bilgisinin Tekvar Yazılım imzası doğrulanamadı. Kurulum güvenlik için durduruldu.");
    status = LookupManifestEntry(manifest, "program", entry);
    FreeManifest(manifest);
    if (status != StatusOk || !IsInstallableEntry(entry))
        return ReportError(L"İmzalı sürüm bilgisinde kurulabilir bir program bulunamadı.");
    LogLine("kurulacak surum: %s (%s, %llu bayt)", entry->version, entry->package_file,
            (unsigned long long)entry->size);
    return true;
}

bool AcquirePackage(const ProgramEntry *entry, const wchar_t *target)
{
    SetStatus(L"Program paketi indiriliyor…", 5, 1);
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (!FetchReleaseFile(entry->package_file, (uint32_t)entry->size, true, 5, &data, &size)) {
        // An older file at the target is no package of this entry either.
        DeleteFileW(target);
        // The flag itself, not CancelRequested: nothing has been changed yet whatever the lock says.
        if (Progress.cancel_requested)
            return ReportError(L"Kurulumdan vazgeçildi. Bilgisayarında hiçbir şey değiştirilmedi.");
        if (Options.local_folder[0] != 0)
            return ReportError(L"Kurulum klasöründe program paketi bulunamadı ya da boyutu tutmuyor.");
        return ReportError(L"Program paketi indirilemedi. İnternet bağlantını denetleyip yeniden dene.");
    }
    bool complete = size == entry->size;
    bool saved = complete && SaveBufferToFile(target, data, size);
    free(data);
    if (!saved) {
        DeleteFileW(target);
        // A write that failed for lack of room (another program filled the disk) says so.
        if (complete && !EnsureRoom(entry->size + kRoomMargin))
            return false;
        return ReportError(L"Program paketi kaydedilemedi ya da eksik indi.");
    }
    // Hashed from the disk, so that the check covers the write too.
    uint8_t digest[32];
    if (Sha256File(target, digest) != StatusOk || memcmp(digest, entry->sha256, 32) != 0) {
        DeleteFileW(target);
        return ReportError(L"Program paketi imzalı sürüm bilgisiyle eşleşmedi; kullanılmadı.");
    }
    LogLine("paket dogrulandi");
    return true;
}
