// Unpacking a package into a new folder, never writing outside it: every file and folder is
// created relative to a folder already opened, without following links, and only when it does
// not exist yet.

#include "tools/yayin/yayin.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

// Creates the folders of `name` below the open folder `root`, then the file itself, and
// writes it. A folder that exists already is entered only when it is a folder and not a link.
Status WriteEntryFile(int root, const char *folder, const std::string &name, const std::vector<uint8_t> &bytes)
{
    int parent = dup(root);
    int error = errno;
    size_t start = 0;
    for (size_t slash = name.find('/'); parent >= 0 && slash != std::string::npos; slash = name.find('/', start)) {
        std::string component = name.substr(start, slash - start);
        int child = -1;
        if (mkdirat(parent, component.c_str(), 0755) == 0 || errno == EEXIST)
            child = openat(parent, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        error = errno;
        close(parent);
        parent = child;
        start = slash + 1;
    }
    bool written = false;
    if (parent >= 0) {
        int file = openat(parent, name.c_str() + start, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        written = file >= 0 && WriteAllBytes(file, bytes.data(), bytes.size());
        error = errno;
        if (file >= 0 && close(file) != 0 && written) {
            written = false;
            error = errno;
        }
        close(parent);
    }
    if (!written) {
        PrintError("%s/%s yazılamıyor: %s", folder, name.c_str(), strerror(error));
        return StatusIoError;
    }
    return StatusOk;
}

Status UnpackEntries(const char *package, const char *folder, const std::vector<PackageEntry> &entries)
{
    int root = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (root < 0) {
        PrintError("%s açılamıyor: %s", folder, strerror(errno));
        return StatusIoError;
    }
    Status status = StatusOk;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < entries.size() && status == StatusOk; i++) {
        status = UnpackEntry(package, entries[i], &bytes);
        if (status == StatusOk)
            status = WriteEntryFile(root, folder, entries[i].name, bytes);
    }
    close(root);
    return status;
}

} // namespace

Status ExtractPackageFile(const char *package, const char *folder)
{
    struct stat info;
    if (lstat(folder, &info) == 0) {
        PrintError("%s zaten var; paket yalnız yeni bir klasöre açılır", folder);
        return StatusInvalid;
    }
    if (errno != ENOENT) {
        PrintError("%s denetlenemiyor: %s", folder, strerror(errno));
        return StatusIoError;
    }
    std::vector<uint8_t> file;
    std::vector<PackageEntry> entries;
    Status status = ReadPackageFile(package, &file, &entries);
    if (status != StatusOk)
        return status;
    if (mkdir(folder, 0755) != 0) {
        PrintError("%s oluşturulamıyor: %s", folder, strerror(errno));
        return StatusIoError;
    }
    status = UnpackEntries(package, folder, entries);
    if (status != StatusOk) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        return status;
    }
    printf("dosya=%zu\n", entries.size());
    return StatusOk;
}
