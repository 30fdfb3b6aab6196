// Publishing a release into the folder that setups read: the package first, under a temporary
// name and renamed when complete, then the signed manifest, replaced in one rename. Setups may
// download while this runs, so the folder serves the old release whole until the manifest is
// swapped, and the package the old manifest names stays behind for a setup that read it a
// moment earlier. Nothing goes live before it has been checked the way the setup takes it.

#include "tools/yayin/yayin.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "install/required_files.h"
#include "release/component_list.h"
#include "release/little_endian.h"
#include "release/manifest_freshness.h"
#include "release/signed_manifest.h"

namespace {

const ProgressStep kCheckingStep = {"dogrulama", "Doğrulanıyor", "Doğrulandı"};

struct Publication {
    const PublishRequest *request;
    EVP_PKEY *key;
    uint8_t public_key[64];
    int folder_lock; // the release folder, held with an exclusive lock
    bool folder_made;
    std::vector<uint8_t> current_manifest; // as served now; empty when the folder has none
    uint64_t current_serial;
    std::string current_version; // empty when the folder has no usable release
    std::string current_package;
    std::string package_name;
};

std::string InFolder(const Publication &publication, const std::string &name)
{
    return std::string(publication.request->release_folder) + "/" + name;
}

// The three groups of a version text as numbers; the text has passed the setup's version rule.
void VersionNumbers(const std::string &version, unsigned numbers[3])
{
    sscanf(version.c_str(), "%u.%u.%u", &numbers[0], &numbers[1], &numbers[2]);
}

bool IsNewerVersion(const std::string &version, const std::string &than)
{
    unsigned a[3];
    unsigned b[3];
    VersionNumbers(version, a);
    VersionNumbers(than, b);
    for (int i = 0; i < 3; i++) {
        if (a[i] != b[i])
            return a[i] > b[i];
    }
    return false;
}

Status CheckPublicKeyFile(const Publication &publication, const char *path)
{
    uint8_t built_in[64];
    Status status = ReadPublicKeyFile(path, built_in);
    if (status == StatusOk && memcmp(built_in, publication.public_key, sizeof built_in) != 0) {
        PrintError("özel anahtarın açık anahtarı %s ile aynı değil; bu anahtarla imzalanan sürümü o anahtarı "
                   "taşıyan kurulum reddeder",
                   path);
        status = StatusInvalid;
    }
    return status;
}

// The setup carries its release key as 64 plain bytes; a setup built with another key does not
// hold ours anywhere.
Status CheckSetupKey(const Publication &publication, const char *path)
{
    std::vector<uint8_t> setup;
    Status status = LoadFile(path, kSetupMaxSize, &setup);
    if (status == StatusOk &&
        memmem(setup.data(), setup.size(), publication.public_key, sizeof publication.public_key) == nullptr) {
        PrintError("%s bu özel anahtarın açık anahtarını taşımıyor; o kurulum bu sürümü reddeder", path);
        status = StatusInvalid;
    }
    return status;
}

// Opens the release folder, making it when it does not exist, and locks it against a second
// publish into it.
Status LockReleaseFolder(Publication *publication)
{
    const char *folder = publication->request->release_folder;
    if (mkdir(folder, 0755) == 0)
        publication->folder_made = true;
    else if (errno != EEXIST) {
        PrintError("%s oluşturulamıyor: %s", folder, strerror(errno));
        return StatusIoError;
    }
    publication->folder_lock = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (publication->folder_lock < 0) {
        PrintError("%s bir klasör olarak açılamıyor: %s", folder, strerror(errno));
        return StatusIoError;
    }
    if (flock(publication->folder_lock, LOCK_EX | LOCK_NB) != 0) {
        PrintError("%s klasörüne şu an başka bir yayın yapılıyor", folder);
        return StatusIoError;
    }
    return StatusOk;
}

// Reads the manifest the folder serves now, which must verify with our key: a folder signed
// with another key is either another product's or a sign that the wrong key was picked up.
Status ReadCurrentRelease(Publication *publication)
{
    std::string path = InFolder(*publication, kManifestFileName);
    if (access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return StatusOk;
    std::vector<uint8_t> data;
    Status status = LoadFile(path.c_str(), kManifestMaxSize, &data);
    if (status != StatusOk)
        return status;
    SignedManifest *manifest = nullptr;
    status = ParseSignedManifest(data.data(), (uint32_t)data.size(), publication->public_key, &manifest);
    if (status != StatusOk) {
        PrintError("%s bu anahtarla doğrulanmıyor; yanlış anahtar ya da başka bir ürünün klasörü", path.c_str());
        return StatusInvalid;
    }
    publication->current_manifest = data;
    publication->current_serial = manifest->header_u64;
    // A manifest without an installable program serves nothing a setup could take, so there is
    // no release to keep and no version to compare with.
    ProgramEntry entry;
    if (LookupManifestEntry(manifest, "program", &entry) == StatusOk && IsInstallableEntry(&entry)) {
        publication->current_version = entry.version;
        publication->current_package = entry.package_file;
    }
    FreeManifest(manifest);
    return StatusOk;
}

Status CheckVersionOrder(const Publication &publication)
{
    const char *version = publication.request->version;
    const char *replacing = publication.request->replacing_version;
    const std::string &current = publication.current_version;
    if (replacing != nullptr && current != replacing) {
        PrintError("--yayindaki=%s verildi ama klasörde yayımlanan sürüm %s", replacing,
                   current.empty() ? "yok" : current.c_str());
        return StatusInvalid;
    }
    if (!current.empty() && replacing == nullptr && !IsNewerVersion(version, current)) {
        PrintError("%s, yayımlanan %s sürümünden yeni değil; yine de yayımlamak için --yayindaki=%s", version,
                   current.c_str(), current.c_str());
        return StatusInvalid;
    }
    // Replacing the package a live manifest names would hand a setup that read that manifest a
    // package that no longer matches it.
    if (publication.package_name == publication.current_package) {
        PrintError("%s yayımlanan bildirimin paketi; üzerine yazılmaz, yeni bir sürüm numarası gerekli",
                   publication.package_name.c_str());
        return StatusInvalid;
    }
    return StatusOk;
}

bool IsRequiredFile(const std::string &name, const wchar_t *required)
{
    size_t i = 0;
    for (; i < name.size() && required[i] != 0; i++) {
        if (required[i] > 0x7f || tolower((unsigned char)name[i]) != tolower((int)required[i]))
            return false;
    }
    return i == name.size() && required[i] == 0;
}

// Re-reads the package as written and decodes every entry against its digest with our own
// decoder, and requires the files without which the setup refuses the unpacked version. Names
// are compared without regard to letter case, as Windows finds them.
Status CheckWrittenPackage(const char *path, ProgressMode progress_mode, unsigned workers)
{
    std::vector<uint8_t> file;
    std::vector<PackageEntry> entries;
    Status status = ReadPackageFile(path, &file, &entries);
    if (status != StatusOk)
        return status;
    uint64_t total = 0;
    for (const PackageEntry &entry : entries)
        total += entry.size;
    Progress progress = StartProgress(progress_mode, kCheckingStep, entries.size(), total);
    // Each worker decodes one entry at a time into a buffer of its own; the faults are reported
    // in the order of the entries, the first one ending the check.
    std::vector<PackageFault> faults(entries.size(), PackageFaultNone);
    auto start = [&](size_t i, const SubmitTask &submit) -> Status {
        submit([&entries, &faults, i] {
            std::vector<uint8_t> bytes;
            faults[i] = DecodeEntry(entries[i], &bytes);
        });
        return StatusOk;
    };
    auto finish = [&](size_t i) -> Status {
        Status checked = ReportEntryFault(path, entries[i], faults[i]);
        if (checked == StatusOk)
            AdvanceProgress(&progress, 1, entries[i].size);
        return checked;
    };
    // A decoded entry lives only as long as its task: the items hold nothing until then.
    status = RunInOrder(workers, std::vector<uint64_t>(entries.size(), 0), start, finish);
    if (status == StatusOk)
        FinishProgress(progress);
    for (int r = 0; r < kRequiredFileCount && status == StatusOk; r++) {
        bool found = false;
        for (const PackageEntry &entry : entries)
            found = found || IsRequiredFile(entry.name, RequiredFiles[r]);
        if (!found) {
            PrintError("pakette %ls yok; kurulum bu sürümü eksik bulur", RequiredFiles[r]);
            status = StatusInvalid;
        }
    }
    return status;
}

void Notify(const PublishRequest &request, const char *step)
{
    if (request.observer != nullptr)
        request.observer(step);
}

// Removes what no manifest names any more: packages of this tool's naming other than the new
// one and the one the replaced manifest named, and temporary files of runs that were killed
// (the lock makes sure no other run is writing them). A failure here costs a warning only.
void PruneReleaseFolder(const Publication &publication)
{
    DIR *listing = fdopendir(dup(publication.folder_lock));
    if (listing == nullptr) {
        fprintf(stderr, "talvor-yayin: uyarı: %s listelenemiyor; eski paketler kaldı\n",
                publication.request->release_folder);
        return;
    }
    while (const struct dirent *item = readdir(listing)) {
        std::string name = item->d_name;
        bool package = name.size() > 10 && name.compare(0, 6, "paket-") == 0 &&
                       name.compare(name.size() - 4, 4, ".tpk") == 0 &&
                       ComponentDraftFault("program", name.substr(6, name.size() - 10), name) == nullptr;
        bool leftover = name.size() > 8 && name[0] == '.' && name[name.size() - 7] == '.' &&
                        (name.compare(1, strlen(kManifestFileName) + 1, std::string(kManifestFileName) + ".") == 0 ||
                         name.compare(1, 6, "paket-") == 0);
        if ((package && name != publication.package_name && name != publication.current_package) || leftover) {
            if (unlinkat(dirfd(listing), name.c_str(), 0) == 0)
                printf("silindi=%s\n", name.c_str());
            else
                fprintf(stderr, "talvor-yayin: uyarı: %s/%s silinemedi: %s\n", publication.request->release_folder,
                        name.c_str(), strerror(errno));
        }
    }
    closedir(listing);
}

// Takes the key, checks it against what the request names, locks the release folder and reads
// the release it serves now.
Status OpenRelease(Publication *publication)
{
    const PublishRequest &request = *publication->request;
    Status status = LoadPrivateKey(request.private_key_path, &publication->key);
    if (status == StatusOk)
        status = GetPublicKeyBytes(publication->key, publication->public_key);
    if (status == StatusOk && request.public_key_path != nullptr)
        status = CheckPublicKeyFile(*publication, request.public_key_path);
    if (status == StatusOk && request.setup_path != nullptr)
        status = CheckSetupKey(*publication, request.setup_path);
    if (status == StatusOk)
        status = LockReleaseFolder(publication);
    if (status == StatusOk)
        status = ReadCurrentRelease(publication);
    return status;
}

// The new manifest's serial, and its expiry record after the others when the request asks for
// one. A serial given by hand that does not rise is the maker's choice, but every setup that
// took the live manifest will refuse the new one, so they are told.
Status NewManifestValues(const Publication &publication, time_t now, uint64_t *serial,
                         std::vector<ManifestRecord> *records)
{
    const PublishRequest &request = *publication.request;
    Status status = StatusOk;
    if (!request.serial_given) {
        status = NextSerial(now, publication.current_serial, serial);
    } else {
        *serial = request.serial;
        if (!publication.current_manifest.empty() && *serial <= publication.current_serial)
            fprintf(stderr,
                    "talvor-yayin: uyarı: --seri=%llu yayımlanan bildirimin serisinden (%llu) büyük değil; o "
                    "bildirimi almış kurulumlar bu bildirimi reddeder\n",
                    (unsigned long long)*serial, (unsigned long long)publication.current_serial);
    }
    if (status == StatusOk && request.valid_days != 0) {
        records->emplace_back();
        status = ExpiryRecord(now, request.valid_days, &records->back());
    }
    return status;
}

Status Publish(Publication *publication)
{
    const PublishRequest &request = *publication->request;
    Status status = OpenRelease(publication);
    if (status == StatusOk)
        status = CheckVersionOrder(*publication);
    std::vector<ManifestRecord> records(1);
    uint64_t serial = 0;
    if (status == StatusOk)
        status = NewManifestValues(*publication, time(nullptr), &serial, &records);
    if (status != StatusOk)
        return status;

    std::string package_path = InFolder(*publication, publication->package_name);
    status = BuildPackageFile(request.product_folder, package_path.c_str(), request.progress_mode, request.workers);
    if (status != StatusOk)
        return status;
    status = CheckWrittenPackage(package_path.c_str(), request.progress_mode, request.workers);
    std::string line;
    if (status == StatusOk)
        status = PackageComponentLine("program", request.version, package_path.c_str(), &line);
    records[0].tag = kComponentListTag;
    if (status == StatusOk)
        status = JoinComponentList({line}, &records[0].value);
    // The package's name reaches the disk before a manifest that names it can.
    if (status == StatusOk && fsync(publication->folder_lock) != 0) {
        PrintError("%s diske yazılamıyor: %s", request.release_folder, strerror(errno));
        status = StatusIoError;
    }
    if (status == StatusOk) {
        Notify(request, "paket");
        status = WriteManifestFile(InFolder(*publication, kManifestFileName).c_str(), publication->key, 0, serial,
                                   records);
    }
    if (status != StatusOk) {
        unlink(package_path.c_str());
        return status;
    }
    Notify(request, "bildirim");
    printf("yayinlandi=%s\nbilesen=%s\n", request.version, line.c_str());
    if (!publication->current_version.empty())
        printf("onceki=%s\n", publication->current_version.c_str());
    PruneReleaseFolder(*publication);
    return StatusOk;
}

// Signs the live manifest again with a new serial and expiry. Its header value A and its other
// records stay byte for byte, so it names the same package, which stays where it is.
Status Renew(Publication *publication)
{
    Status status = OpenRelease(publication);
    if (status != StatusOk)
        return status;
    const std::vector<uint8_t> &live = publication->current_manifest;
    if (live.empty()) {
        PrintError("%s klasöründe yayımlanmış bir bildirim yok; önce yayinla ile yayımlayın",
                   publication->request->release_folder);
        return StatusInvalid;
    }
    std::vector<ManifestRecord> records = ManifestRecords(live);
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const ManifestRecord &record) { return record.tag == kExpiryTag; }),
                  records.end());
    uint64_t serial = 0;
    status = NewManifestValues(*publication, time(nullptr), &serial, &records);
    if (status == StatusOk)
        status = WriteManifestFile(InFolder(*publication, kManifestFileName).c_str(), publication->key,
                                   ReadU32(&live[8]), serial, records);
    if (status != StatusOk)
        return status;
    const std::string &version = publication->current_version;
    printf("yenilendi=%s\nseri=%llu\n", version.empty() ? "-" : version.c_str(), (unsigned long long)serial);
    if (publication->request->valid_days != 0)
        printf("gecerlilik=%s\n", records.back().value.c_str());
    return StatusOk;
}

// Runs a publish or a renewal with the folder unlocked, the key freed and a folder that the run
// made removed again when it fails.
Status RunOnReleaseFolder(const PublishRequest &request, const std::string &package_name,
                          Status (*run)(Publication *publication))
{
    Publication publication = {&request, nullptr, {}, -1, false, {}, 0, "", "", package_name};
    Status status = run(&publication);
    if (status != StatusOk && publication.folder_made)
        rmdir(request.release_folder);
    if (publication.folder_lock >= 0)
        close(publication.folder_lock);
    EVP_PKEY_free(publication.key);
    return status;
}

} // namespace

Status PublishRelease(const PublishRequest &request)
{
    return RunOnReleaseFolder(request, std::string("paket-") + request.version + ".tpk", Publish);
}

Status RenewRelease(const PublishRequest &request)
{
    return RunOnReleaseFolder(request, "", Renew);
}
