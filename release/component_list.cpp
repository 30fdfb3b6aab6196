#include "release/component_list.h"

#include <stdlib.h>
#include <string.h>

#include "release/version_text.h"

namespace {

const size_t kLineLimit = 512;

// Splits at '|' as strtok does: runs of separators are one, empty fields do not exist.
int SplitFields(char *line, char *fields[], int room)
{
    int count = 0;
    char *p = line;
    while (count < room) {
        while (*p == '|')
            p++;
        if (*p == 0)
            break;
        fields[count++] = p;
        while (*p != 0 && *p != '|')
            p++;
        if (*p == '|')
            *p++ = 0;
    }
    return count;
}

bool ParseSize(const char *text, uint64_t *size)
{
    char *stop = nullptr;
    unsigned long long value = strtoull(text, &stop, 10);
    if (stop == text || *stop != 0 || value < 1 || value > kPackageMaxSize)
        return false;
    *size = value;
    return true;
}

} // namespace

int HexDigitValue(int character)
{
    if (character >= '0' && character <= '9')
        return character - '0';
    if (character >= 'a' && character <= 'f')
        return character - 'a' + 10;
    if (character >= 'A' && character <= 'F')
        return character - 'A' + 10;
    return -1;
}

bool DecodeSha256Hex(const char *text, uint8_t out[32])
{
    if (text == nullptr || out == nullptr)
        return false;
    for (int i = 0; i < 32; i++) {
        int high = HexDigitValue((unsigned char)text[2 * i]);
        if (high < 0)
            return false;
        int low = HexDigitValue((unsigned char)text[2 * i + 1]);
        if (low < 0)
            return false;
        out[i] = (uint8_t)(high << 4 | low);
    }
    return text[64] == 0;
}

bool IsSafeComponentFileName(const char *text)
{
    if (text == nullptr || text[0] == 0 || text[0] == '.')
        return false;
    size_t length = 0;
    for (const char *p = text; *p != 0; p++, length++) {
        char c = *p;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == '_';
        if (!ok || length >= 127)
            return false;
    }
    return true;
}

bool IsValidPackageFileName(const char *text)
{
    if (text == nullptr)
        return false;
    size_t length = strlen(text);
    if (length < 5 || length > 100 || strstr(text, "..") != nullptr || text[0] == '.')
        return false;
    const char *suffix = text + length - 4;
    const char *tpk = ".tpk";
    for (int i = 0; i < 4; i++) {
        char c = suffix[i] >= 'A' && suffix[i] <= 'Z' ? (char)(suffix[i] + 32) : suffix[i];
        if (c != tpk[i])
            return false;
    }
    for (const char *p = text; *p != 0; p++) {
        if ((unsigned char)*p < 0x20 || strchr("\\/:*?<>|\"", *p) != nullptr)
            return false;
    }
    return true;
}

bool IsInstallableEntry(const ProgramEntry *entry)
{
    return IsValidVersion(entry->version) && IsValidPackageFileName(entry->package_file) && entry->size >= 1 &&
           entry->size <= kPackageMaxSize;
}

Status LookupManifestEntry(const SignedManifest *manifest, const char *key, ProgramEntry *entry)
{
    const char *text = GetManifestRecord(manifest, kComponentListTag);
    if (key == nullptr || entry == nullptr)
        return StatusInvalid;
    memset(entry, 0, sizeof *entry);
    if (text == nullptr)
        return StatusNotFound;

    size_t key_length = strlen(key);
    const char *line = text;
    size_t m = 0;
    for (;; line += m + 1) {
        if (*line == 0)
            return StatusNotFound;
        const char *feed = strchr(line, '\n');
        m = feed != nullptr ? (size_t)(feed - line) : strlen(line);
        if (m < kLineLimit && m > key_length && memcmp(line, key, key_length) == 0 && line[key_length] == '|')
            break;
        if (feed == nullptr)
            return StatusNotFound;
    }

    char copy[kLineLimit];
    memcpy(copy, line, m);
    copy[m] = 0;
    if (m > 0 && copy[m - 1] == '\r')
        copy[m - 1] = 0;

    char *fields[6];
    if (SplitFields(copy, fields, 6) != 5)
        return StatusInvalid;
    if (strlen(fields[0]) >= sizeof entry->name || strlen(fields[1]) >= sizeof entry->version)
        return StatusInvalid;
    if (!DecodeSha256Hex(fields[2], entry->sha256))
        return StatusInvalid;
    if (!IsSafeComponentFileName(fields[4]))
        return StatusInvalid;
    uint64_t size;
    if (!ParseSize(fields[3], &size))
        return StatusInvalid;
    entry->size = size;
    strcpy(entry->name, fields[0]);
    strcpy(entry->version, fields[1]);
    strcpy(entry->package_file, fields[4]);
    return StatusOk;
}
