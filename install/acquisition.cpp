#include "install/acquisition.h"

#include "core/format.h"
#include "core/process_values.h"
#include "core/progress_state.h"
#include "core/setup_log.h"
#include "core/whole_file.h"
#include "install/disk_room.h"
#include "fetch/release_source.h"
#include "release/digest.h"
#include "release/manifest_freshness.h"
#include "release/signature.h"
#include "release/signed_manifest.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace {

// What the user can do about a manifest that is refused though signed.
const wchar_t kGetLatestRelease[] = L"en son yayını Tekvar Yazılım'dan edinip yeniden dene";

// Seconds since 1970, UTC.
uint64_t SecondsNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = (uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime;
    return ticks / 10000000 - 11644473600ULL;
}

// The manifest the installed product came from and its "program" entry, authenticated again:
// the file lies in the install folder, and what it says decides what this run may install. One
// that is missing, unreadable or not the release key's counts as none (a product installed
// before manifests were kept) and gives null.
SignedManifest *ReadKeptManifest(ProgramEntry *entry)
{
    wchar_t path[260];
    if (!KeptManifestPath(path) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        LogLine("kurulu surumun surum bilgisi yok; yayin sirasi denetlenmiyor");
        return nullptr;
    }
    uint8_t *data = nullptr;
    uint32_t size = 0;
    SignedManifest *kept = nullptr;
    if (ReadWholeFile(path, kManifestMaxSize, true, &data, &size) &&
        ParseSignedManifest(data, size, GetReleasePublicKey(), &kept) == StatusOk &&
        LookupManifestEntry(kept, "program", entry) != StatusOk) {
        FreeManifest(kept);
        kept = nullptr;
    }
    free(data);
    if (kept == nullptr)
        LogLine("kurulu surumun surum bilgisi okunamadi ya da imzasi tutmadi; yok sayiliyor");
    return kept;
}

// Refuses a manifest past its expiry and one published before the one the installed product
// came from: served again, it would put back a release the maker has since replaced. The same
// serial is the same release, so it may only repair the version it installed.
bool CheckFreshness(const SignedManifest *manifest, const ProgramEntry *entry)
{
    bool has_expiry = false;
    uint64_t expires_at = 0;
    if (!ReadManifestExpiry(manifest, &has_expiry, &expires_at)) {
        LogLine("surum bilgisinin gecerlilik kaydi sayi degil: %.24s", GetManifestRecord(manifest, kExpiryTag));
        return ReportError(L"İmzalı sürüm bilgisinin geçerlilik kaydı bozuk olduğundan sürüm bilgisi kullanılamadı; "
                           L"bilgisayarında hiçbir şey değiştirilmedi, %s.",
                           kGetLatestRelease);
    }
    uint64_t now = SecondsNow();
    if (has_expiry && expires_at < now) {
        LogLine("surum bilgisinin suresi dolmus: gecerlilik %llu, simdi %llu", (unsigned long long)expires_at,
                (unsigned long long)now);
        return ReportError(L"Sunulan sürüm bilgisinin geçerlilik süresi dolmuş, güncel olmayan bir yayın sunuluyor "
                           L"olabilir; bilgisayarında hiçbir şey değiştirilmedi, bir süre sonra yeniden dene.");
    }
    ProgramEntry kept_entry;
    SignedManifest *kept = ReadKeptManifest(&kept_entry);
    if (kept == nullptr)
        return true;
    unsigned long long offered = manifest->header_u64;
    unsigned long long installed = kept->header_u64;
    FreeManifest(kept);
    LogLine("yayin sirasi: sunulan %llu (%s), kurulu %llu (%s)", offered, entry->version, installed,
            kept_entry.version);
    if (offered < installed)
        return ReportError(L"Sunulan sürüm bilgisi kurulu olandan eski (yayın %llu < %llu), eski bir yayın yeniden "
                           L"sunulmuş olabilir; kurulu Talvor olduğu gibi bırakıldı, %s.",
                           offered, installed, kGetLatestRelease);
    if (offered == installed && strcmp(entry->version, kept_entry.version) != 0)
        return ReportError(L"Sunulan sürüm bilgisi %hs sürümünü kurulu %hs sürümünün yayın numarasıyla (%llu) "
                           L"getiriyor, yayın değiştirilmiş olabilir; kurulu Talvor olduğu gibi bırakıldı, %s.",
                           entry->version, kept_entry.version, offered, kGetLatestRelease);
    return true;
}

} // namespace

bool KeptManifestPath(wchar_t *out)
{
    return FormatWide(out, 260, L"%s\\%hs", InstallFolder, kManifestFileName) >= 0;
}

bool AcquireManifest(ProgramEntry *entry, uint8_t **manifest_bytes, uint32_t *manifest_size)
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
    if (status != StatusOk) {
        free(data);
        return ReportError(L"Sürüm bilgisinin Tekvar Yazılım imzası doğrulanamadı. Kurulum güvenlik için durduruldu.");
    }
    status = LookupManifestEntry(manifest, "program", entry);
    bool usable = status == StatusOk && IsInstallableEntry(entry);
    bool taken = usable ? CheckFreshness(manifest, entry)
                        : ReportError(L"İmzalı sürüm bilgisinde kurulabilir bir program bulunamadı.");
    FreeManifest(manifest);
    if (taken && manifest_bytes != nullptr) {
        *manifest_bytes = data;
        *manifest_size = size;
    } else {
        free(data);
    }
    if (!taken)
        return false;
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
