// Building a package from a folder: every regular file an entry under its relative path, in
// byte order of the names, so that the same folder always gives the same bytes.

#include "tools/yayin/yayin.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "release/digest.h"
#include "release/package_format.h"

namespace {

struct Collection {
    const char *root; // the folder as given, for messages
    std::vector<std::string> names;
    uint64_t bytes; // their sizes as listed, the measure of the progress
};

Status RefuseFile(const Collection &collection, const std::string &name, const char *why, Status status = StatusInvalid)
{
    std::string shown = EscapeText(name.data(), name.size());
    PrintError("%s/%s: %s", collection.root, shown.c_str(), why);
    return status;
}

// Adds the regular files below the folder `name` of the open folder `parent` to the
// collection; `prefix` is that folder's relative path with a '/' at its end, or empty.
Status CollectFolder(int parent, const char *name, int open_flags, const std::string &prefix, Collection *collection)
{
    int descriptor = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | open_flags);
    DIR *listing = descriptor >= 0 ? fdopendir(descriptor) : nullptr;
    if (listing == nullptr) {
        RefuseFile(*collection, prefix, strerror(errno));
        if (descriptor >= 0)
            close(descriptor);
        return StatusIoError;
    }
    Status status = StatusOk;
    for (;;) {
        errno = 0;
        const struct dirent *item = readdir(listing);
        if (item == nullptr) {
            if (errno != 0)
                status = RefuseFile(*collection, prefix, strerror(errno), StatusIoError);
            break;
        }
        if (strcmp(item->d_name, ".") == 0 || strcmp(item->d_name, "..") == 0)
            continue;
        std::string relative = prefix + item->d_name;
        struct stat info;
        if (fstatat(dirfd(listing), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            status = RefuseFile(*collection, relative, strerror(errno), StatusIoError);
        } else if (S_ISDIR(info.st_mode)) {
            status = CollectFolder(dirfd(listing), item->d_name, O_NOFOLLOW, relative + "/", collection);
        } else if (S_ISLNK(info.st_mode)) {
            status = RefuseFile(*collection, relative, "sembolik bağlantı; pakete yalnız normal dosyalar girer");
        } else if (!S_ISREG(info.st_mode)) {
            status = RefuseFile(*collection, relative, "normal bir dosya ya da klasör değil");
        } else if (const char *fault = EntryNameFault(relative)) {
            status = RefuseFile(*collection, relative, fault);
        } else if ((uint64_t)info.st_size > kPackageMaxUnpackedSize) {
            status = RefuseFile(*collection, relative, "536870912 bayttan büyük");
        } else if (collection->names.size() == kPackageMaxEntries) {
            status = RefuseFile(*collection, relative, "4096'dan fazla dosya; bir paket en çok 4096 dosya taşır");
        } else {
            collection->names.push_back(relative);
            collection->bytes += (uint64_t)info.st_size;
        }
        if (status != StatusOk)
            break;
    }
    closedir(listing);
    return status;
}

const ProgressStep kPackingStep = {"paket", "Paketleniyor", "Paketlendi"};

} // namespace

Status AppendPackageEntry(const char *root, const std::string &name, const std::vector<uint8_t> &data,
                          std::vector<uint8_t> *package)
{
    uint8_t digest[32];
    if (Sha256Buffer(data.data(), (uint32_t)data.size(), digest) != StatusOk) {
        PrintError("SHA-256 hesaplanamıyor");
        return StatusIoError;
    }
    std::vector<uint8_t> framed;
    if (!data.empty()) {
        Status status = CompressLzmsBuffer(data.data(), data.size(), &framed);
        if (status != StatusOk)
            return status;
    }
    bool compressed = !data.empty() && framed.size() < data.size();
    const std::vector<uint8_t> &stored = compressed ? framed : data;
    uint64_t grown = (uint64_t)package->size() + kEntryOverhead + name.size() + stored.size();
    if (grown > kPackageMaxSize) {
        PrintError("%s/%s ile paket %" PRIu64 " bayt olurdu; en çok %" PRIu32 " bayt olabilir", root, name.c_str(),
                   grown, kPackageMaxSize);
        return StatusInvalid;
    }
    AppendLittleEndian(package, (uint32_t)name.size(), 2);
    package->insert(package->end(), name.begin(), name.end());
    AppendLittleEndian(package, (uint32_t)data.size(), 4);
    AppendLittleEndian(package, (uint32_t)stored.size(), 4);
    package->push_back(compressed ? kPackageMethodLzms : kPackageMethodStored);
    package->insert(package->end(), digest, digest + sizeof digest);
    package->insert(package->end(), stored.begin(), stored.end());
    return StatusOk;
}

Status BuildPackageFile(const char *folder, const char *package_path, ProgressMode progress_mode)
{
    Collection collection = {folder, {}, 0};
    Status status = CollectFolder(AT_FDCWD, folder, 0, "", &collection);
    if (status != StatusOk)
        return status;
    if (collection.names.empty()) {
        PrintError("%s içinde hiç dosya yok; boş paket yapılmaz", folder);
        return StatusInvalid;
    }
    std::vector<std::string> &names = collection.names;
    std::sort(names.begin(), names.end());
    status = CheckNameCollisions(names);
    if (status != StatusOk)
        return status;

    std::vector<uint8_t> package(kPackageMagic, kPackageMagic + sizeof kPackageMagic);
    AppendLittleEndian(&package, (uint32_t)names.size(), 4);
    Progress progress = StartProgress(progress_mode, kPackingStep, names.size(), collection.bytes);
    std::vector<uint8_t> data;
    for (size_t i = 0; i < names.size() && status == StatusOk; i++) {
        status = LoadFile((std::string(folder) + "/" + names[i]).c_str(), kPackageMaxUnpackedSize, &data);
        if (status == StatusOk)
            status = AppendPackageEntry(folder, names[i], data, &package);
        if (status == StatusOk)
            AdvanceProgress(&progress, 1, data.size());
    }
    // The step ends once the package is on disk: writing it can take a while too.
    if (status == StatusOk)
        status = WriteFileAtomically(package_path, package.data(), package.size(), 0644, true);
    if (status == StatusOk)
        FinishProgress(progress);
    return status;
}
