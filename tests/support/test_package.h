#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// One entry of a package made by a test, with every field open to a fault.
struct TestEntry {
    std::string name;
    std::string data;           // the unpacked bytes
    uint8_t method = 0;
    std::string stored;         // method 1: the compressed bytes; method 0: empty means `data`
    int64_t unpacked_size = -1; // -1: the size of `data`
    int64_t stored_size = -1;   // -1: the size of the stored bytes
    std::string digest;         // empty: the SHA-256 of `data`
    int name_length = -1;       // -1: the size of `name`
};

// "TPK1", the entry count (-1: the real number) and the entries.
std::string PackageBytes(const std::vector<TestEntry> &entries, int64_t count = -1);

std::string Sha256Of(const std::string &data);
// Lower-case hexadecimal digits of the bytes.
std::string HexOf(const std::string &bytes);
