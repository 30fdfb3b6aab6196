#include "support/test_package.h"

#include "release/digest.h"

static void PutLittleEndian(std::string &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out += (char)(value >> (8 * i));
}

std::string Sha256Of(const std::string &data)
{
    uint8_t digest[32];
    Sha256Buffer((const uint8_t *)data.data(), (uint32_t)data.size(), digest);
    return std::string((const char *)digest, 32);
}

std::string HexOf(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string PackageBytes(const std::vector<TestEntry> &entries, int64_t count)
{
    std::string out = "TPK1";
    PutLittleEndian(out, count >= 0 ? (uint64_t)count : entries.size(), 4);
    for (const TestEntry &e : entries) {
        const std::string &stored = e.method == 0 && e.stored.empty() ? e.data : e.stored;
        PutLittleEndian(out, e.name_length >= 0 ? (uint64_t)e.name_length : e.name.size(), 2);
        out += e.name;
        PutLittleEndian(out, e.unpacked_size >= 0 ? (uint64_t)e.unpacked_size : e.data.size(), 4);
        PutLittleEndian(out, e.stored_size >= 0 ? (uint64_t)e.stored_size : stored.size(), 4);
        out += (char)e.method;
        out += e.digest.empty() ? Sha256Of(e.data) : e.digest;
        out += stored;
    }
    return out;
}
