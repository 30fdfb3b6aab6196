#include "tools/yayin/yayin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>

#include "release/component_list.h"
#include "release/signed_manifest.h"
#include "release/version_text.h"

namespace {

// Splits at every '|'. Unlike the setup, which merges runs of separators, empty fields are kept
// so that a line like "a||b" is refused instead of meaning something other than it shows.
std::vector<std::string> SplitFields(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

// Plain decimal digits only: the setup's strtoull would also take signs and spaces.
bool IsPackageSize(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long size = strtoull(text.c_str(), nullptr, 10);
    return size >= 1 && size <= kPackageMaxSize;
}

struct FieldRule {
    bool (*holds)(const std::string &field);
    const char *rule;
};

const FieldRule kFieldRules[5] = {
    {[](const std::string &f) { return f.size() < sizeof(ProgramEntry::name); }, "bileşen adı 1-15 bayt olmalı"},
    {[](const std::string &f) { return IsValidVersion(f.c_str()); },
     "sürüm N.N.N biçiminde olmalı (her grupta 1-4 rakam)"},
    {[](const std::string &f) {
         uint8_t digest[32];
         return DecodeSha256Hex(f.c_str(), digest);
     },
     "SHA-256 özeti tam 64 onaltılık rakam olmalı"},
    {IsPackageSize, "boyut 1 ile 536870912 arasında bir ondalık sayı olmalı"},
    {[](const std::string &f) { return IsSafeComponentFileName(f.c_str()) && IsValidPackageFileName(f.c_str()); },
     "paket dosyası adı 5-100 bayt, .tpk ile biten, yalnız A-Z a-z 0-9 . - _ içeren, '.' ile başlamayan ve "
     "\"..\" içermeyen bir ad olmalı"},
};

// Whether the setup's own reader, given a component list of just this line, finds the line
// under `name` and would install what it describes.
bool SetupAcceptsLine(const std::string &line, const std::string &name)
{
    SignedManifest *manifest = (SignedManifest *)calloc(1, sizeof *manifest);
    char *text = (char *)malloc(line.size() + 1);
    bool accepted = false;
    if (manifest != nullptr && text != nullptr) {
        memcpy(text, line.c_str(), line.size() + 1);
        manifest->records[kComponentListTag] = text;
        text = nullptr; // freed with the manifest
        ProgramEntry entry;
        accepted = LookupManifestEntry(manifest, name.c_str(), &entry) == StatusOk && IsInstallableEntry(&entry) &&
                   name == entry.name;
    }
    free(text);
    FreeManifest(manifest);
    return accepted;
}

struct PackageHash {
    EVP_MD_CTX *context;
    uint64_t size;
};

Status DigestFailure()
{
    PrintError("SHA-256 hesaplanamıyor");
    return StatusIoError;
}

Status HashPiece(const uint8_t *piece, size_t size, void *context)
{
    PackageHash *hash = (PackageHash *)context;
    hash->size += size;
    return EVP_DigestUpdate(hash->context, piece, size) == 1 ? StatusOk : DigestFailure();
}

Status HashFile(const char *path, uint8_t digest[32], uint64_t *size)
{
    PackageHash hash = {EVP_MD_CTX_new(), 0};
    Status status = hash.context != nullptr && EVP_DigestInit_ex(hash.context, EVP_sha256(), nullptr) == 1
                        ? ReadFilePieces(path, HashPiece, &hash)
                        : DigestFailure();
    if (status == StatusOk && EVP_DigestFinal_ex(hash.context, digest, nullptr) != 1)
        status = DigestFailure();
    EVP_MD_CTX_free(hash.context);
    *size = hash.size;
    return status;
}

} // namespace

const char *ComponentLineFault(const std::string &line)
{
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return "satırda \\r, \\n ya da NUL karakteri olamaz";
    std::vector<std::string> fields = SplitFields(line);
    bool empty_field = false;
    for (const std::string &field : fields)
        empty_field = empty_field || field.empty();
    if (fields.size() != 5 || empty_field)
        return "satır '|' ile ayrılmış, hiçbiri boş olmayan tam beş alandan oluşmalı: ad|sürüm|sha256|boyut|paket";
    for (size_t i = 0; i < 5; i++) {
        if (!kFieldRules[i].holds(fields[i]))
            return kFieldRules[i].rule;
    }
    // The rules above say why a line is refused; the setup's reader has the last word.
    if (!SetupAcceptsLine(line, fields[0]))
        return "kurulum programının okuyucusu bu satırı kabul etmiyor";
    return nullptr;
}

Status PackageComponentLine(const std::string &name, const std::string &version, const char *path,
                            std::string *line)
{
    uint8_t digest[32];
    uint64_t size = 0;
    Status status = HashFile(path, digest, &size);
    if (status != StatusOk)
        return status;
    *line = name + "|" + version + "|" + HexDigest(digest) + "|" + std::to_string(size) + "|" + FileNamePart(path);
    return StatusOk;
}

Status JoinComponentList(const std::vector<std::string> &lines, std::string *list)
{
    list->clear();
    if (lines.empty()) {
        PrintError("bileşen listesi boş: en az bir --bilesen ya da --paket gerekli");
        return StatusInvalid;
    }
    Status status = StatusOk;
    std::set<std::string> names;
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string &line = lines[i];
        const char *fault = ComponentLineFault(line);
        // The setup takes the first line of a name, so a later one would silently never be used.
        if (fault == nullptr && !names.insert(line.substr(0, line.find('|'))).second)
            fault = "bu bileşen adı daha önceki bir satırda var";
        if (fault != nullptr) {
            PrintError("bileşen satırı reddedildi: \"%s\": %s", EscapeText(line.data(), line.size()).c_str(), fault);
            status = StatusInvalid;
        }
        *list += (i > 0 ? "\n" : "") + line;
    }
    return status;
}

const char *ComponentDraftFault(const std::string &name, const std::string &version, const std::string &package_file)
{
    return ComponentLineFault(name + "|" + version + "|" + std::string(64, '0') + "|1|" + package_file);
}
