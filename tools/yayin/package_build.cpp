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
#include <memory>
#include <utility>

#include "release/digest.h"
#include "release/package_format.h"

namespace {

struct Collection {
    const char *root; // the folder as given, for messages
    std::vector<std::pair<std::string, uint64_t>> files; // relative paths and sizes as listed
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
        } else if (collection->files.size() == kPackageMaxEntries) {
            status = RefuseFile(*collection, relative, "4096'dan fazla dosya; bir paket en çok 4096 dosya taşır");
        } else {
            collection->files.emplace_back(relative, (uint64_t)info.st_size);
            collection->bytes += (uint64_t)info.st_size;
        }
        if (status != StatusOk)
            break;
    }
    closedir(listing);
    return status;
}

const ProgressStep kPackingStep = {"paket", "Paketleniyor", "Paketlendi"};

// One entry's file and what the workers make of it: its digest, and each chunk's part of the
// LZMS frame. The jobs are independent of each other and may run on any thread.
struct EntryWork {
    std::vector<uint8_t> data;
    Status digest_status;
    uint8_t digest[32];
    std::vector<std::vector<uint8_t>> parts;
};

// The digest, then one job per chunk.
size_t EntryJobCount(const EntryWork &work)
{
    return 1 + LzmsChunkCount(work.data.size());
}

void RunEntryJob(EntryWork *work, size_t job)
{
    if (job == 0)
        work->digest_status = Sha256Buffer(work->data.data(), (uint32_t)work->data.size(), work->digest);
    else
        CompressLzmsChunk(work->data.data(), work->data.size(), job - 1, &work->parts[job - 1]);
}

void PrepareEntryWork(EntryWork *work)
{
    work->digest_status = StatusIoError;
    work->parts.assign(LzmsChunkCount(work->data.size()), {});
}

Status AppendEntryWork(const char *root, const std::string &name, const EntryWork &work,
                       std::vector<uint8_t> *package)
{
    if (work.digest_status != StatusOk) {
        PrintError("SHA-256 hesaplanamıyor");
        return StatusIoError;
    }
    const std::vector<uint8_t> &data = work.data;
    std::vector<uint8_t> framed;
    if (!data.empty()) {
        Status status = JoinLzmsChunks(data.size(), work.parts, &framed);
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
    package->insert(package->end(), work.digest, work.digest + sizeof work.digest);
    package->insert(package->end(), stored.begin(), stored.end());
    return StatusOk;
}

} // namespace

Status AppendPackageEntry(const char *root, const std::string &name, const std::vector<uint8_t> &data,
                          std::vector<uint8_t> *package)
{
    EntryWork work;
    work.data = data;
    PrepareEntryWork(&work);
    for (size_t job = 0; job < EntryJobCount(work); job++)
        RunEntryJob(&work, job);
    return AppendEntryWork(root, name, work, package);
}

Status BuildPackageFile(const char *folder, const char *package_path, ProgressMode progress_mode, unsigned workers)
{
    Collection collection = {folder, {}, 0};
    Status status = CollectFolder(AT_FDCWD, folder, 0, "", &collection);
    if (status != StatusOk)
        return status;
    if (collection.files.empty()) {
        PrintError("%s içinde hiç dosya yok; boş paket yapılmaz", folder);
        return StatusInvalid;
    }
    std::sort(collection.files.begin(), collection.files.end());
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    for (const auto &file : collection.files) {
        names.push_back(file.first);
        sizes.push_back(file.second);
    }
    status = CheckNameCollisions(names);
    if (status != StatusOk)
        return status;

    std::vector<uint8_t> package(kPackageMagic, kPackageMagic + sizeof kPackageMagic);
    AppendLittleEndian(&package, (uint32_t)names.size(), 4);
    Progress progress = StartProgress(progress_mode, kPackingStep, names.size(), collection.bytes);
    // The files are read here, in order; their digests and chunks are made by the workers; and
    // the entries are added here in order again, so that the bytes do not depend on `workers`.
    std::vector<std::unique_ptr<EntryWork>> works(names.size());
    auto start = [&](size_t i, const SubmitTask &submit) -> Status {
        works[i].reset(new EntryWork);
        EntryWork *work = works[i].get();
        Status loaded = LoadFile((std::string(folder) + "/" + names[i]).c_str(), kPackageMaxUnpackedSize, &work->data);
        if (loaded != StatusOk)
            return loaded;
        PrepareEntryWork(work);
        for (size_t job = 0; job < EntryJobCount(*work); job++)
            submit([work, job] { RunEntryJob(work, job); });
        return StatusOk;
    };
    auto finish = [&](size_t i) -> Status {
        Status appended = AppendEntryWork(folder, names[i], *works[i], &package);
        if (appended == StatusOk)
            AdvanceProgress(&progress, 1, works[i]->data.size());
        works[i].reset();
        return appended;
    };
    status = RunInOrder(workers, sizes, start, finish);
    // The step ends once the package is on disk: writing it can take a while too.
    if (status == StatusOk)
        status = WriteFileAtomically(package_path, package.data(), package.size(), 0644, true);
    if (status == StatusOk)
        FinishProgress(progress);
    return status;
}
