#include "tools/yayin/yayin.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

void PrintError(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    EndProgressLine();
    fputs("talvor-yayin: ", stderr);
    vfprintf(stderr, format, arguments);
    fputc('\n', stderr);
    va_end(arguments);
}

std::string EscapeText(const char *text, size_t length)
{
    std::string shown;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == '\\') {
            shown += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            char escape[5];
            snprintf(escape, sizeof escape, "\\x%02x", c);
            shown += escape;
        } else {
            shown += (char)c;
        }
    }
    return shown;
}

void AppendLittleEndian(std::vector<uint8_t> *out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out->push_back((uint8_t)(value >> (8 * i)));
}

const char *FileNamePart(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

std::string HexDigest(const uint8_t digest[32])
{
    char hex[65];
    for (int i = 0; i < 32; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

Status ReadFilePieces(const char *path, Status (*take)(const uint8_t *piece, size_t size, void *context),
                      void *context)
{
    FILE *file = fopen(path, "rb");
    if (file == nullptr) {
        int error = errno;
        PrintError("%s açılamıyor: %s", path, strerror(error));
        return error == ENOENT ? StatusNotFound : StatusIoError;
    }
    std::vector<uint8_t> piece(65536);
    Status status = StatusOk;
    for (;;) {
        size_t got = fread(piece.data(), 1, piece.size(), file);
        if (got < piece.size() && ferror(file)) {
            PrintError("%s okunamıyor: %s", path, strerror(errno));
            status = StatusIoError;
            break;
        }
        if (got > 0)
            status = take(piece.data(), got, context);
        if (status != StatusOk || got < piece.size())
            break;
    }
    fclose(file);
    return status;
}

namespace {

struct WholeFile {
    std::vector<uint8_t> *data;
    size_t limit;
};

Status AppendPiece(const uint8_t *piece, size_t size, void *context)
{
    WholeFile *whole = (WholeFile *)context;
    if (size > whole->limit - whole->data->size())
        return StatusBufferTooSmall;
    whole->data->insert(whole->data->end(), piece, piece + size);
    return StatusOk;
}

} // namespace

bool WriteAllBytes(int descriptor, const void *data, size_t size)
{
    const uint8_t *bytes = (const uint8_t *)data;
    while (size > 0) {
        ssize_t written = write(descriptor, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= (size_t)written;
    }
    return true;
}

Status LoadFile(const char *path, size_t limit, std::vector<uint8_t> *data)
{
    data->clear();
    WholeFile whole = {data, limit};
    Status status = ReadFilePieces(path, AppendPiece, &whole);
    if (status == StatusBufferTooSmall)
        PrintError("%s %zu bayttan büyük", path, limit);
    return status;
}

Status WriteTemporaryFile(const char *path, const void *data, size_t size, mode_t mode, std::string *temp_path)
{
    // Beside the target, so that the final rename or link never crosses a file system.
    std::string name = path;
    size_t slash = name.rfind('/');
    name.insert(slash == std::string::npos ? 0 : slash + 1, ".");
    name += ".XXXXXX";
    int descriptor = mkstemp(&name[0]);
    if (descriptor < 0) {
        PrintError("%s için geçici dosya oluşturulamıyor: %s", path, strerror(errno));
        return StatusIoError;
    }
    mode_t mask = umask(0);
    umask(mask);
    bool written = fchmod(descriptor, mode & ~mask) == 0 && WriteAllBytes(descriptor, data, size) &&
                   fsync(descriptor) == 0;
    int error = errno;
    if (close(descriptor) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(name.c_str());
        PrintError("%s yazılamıyor: %s", name.c_str(), strerror(error));
        return StatusIoError;
    }
    *temp_path = name;
    return StatusOk;
}

Status PublishFile(const std::string &temp_path, const char *path, bool replace)
{
    // link() refuses an existing target where rename() would silently replace it.
    int result = replace ? rename(temp_path.c_str(), path) : link(temp_path.c_str(), path);
    int error = errno;
    if (!replace || result != 0)
        unlink(temp_path.c_str());
    if (result == 0)
        return StatusOk;
    if (error == EEXIST)
        PrintError("%s zaten var; üzerine yazılmaz", path);
    else
        PrintError("%s yazılamıyor: %s", path, strerror(error));
    return StatusIoError;
}

Status WriteFileAtomically(const char *path, const void *data, size_t size, mode_t mode, bool replace)
{
    std::string temp_path;
    Status status = WriteTemporaryFile(path, data, size, mode, &temp_path);
    return status == StatusOk ? PublishFile(temp_path, path, replace) : status;
}
