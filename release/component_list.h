#pragma once

#include <stdint.h>

#include "core/status.h"
#include "release/package_format.h"
#include "release/signed_manifest.h"

// One line of the component list (manifest record 9):
//   name|version|sha256 as 64 hex digits|size in bytes|package file name
struct ProgramEntry {
    char name[16];
    char version[32];
    uint8_t sha256[32];
    uint64_t size;
    char package_file[128];
};

// Fills `entry` from the first line of record 9 of fewer than 512 bytes that begins with `key`
// and '|'. StatusNotFound when there is no such line (or no manifest or record); StatusInvalid
// for a null key or entry (left untouched) and for a taken line that breaks a rule, after which
// the entry must not be used.
Status LookupManifestEntry(const SignedManifest *manifest, const char *key, ProgramEntry *entry);

// Decodes exactly 64 hexadecimal digits (either case) into 32 bytes; stops at the first bad
// character, so nothing behind a terminator is read.
bool DecodeSha256Hex(const char *text, uint8_t out[32]);

// 0 to 15 for a hexadecimal digit, -1 for anything else.
int HexDigitValue(int character);

// 1 to 127 bytes of A-Z a-z 0-9 . - _, not beginning with '.'.
bool IsSafeComponentFileName(const char *text);

// 5 to 100 bytes ending in ".tpk" (any case), no "..", no leading '.', no control character
// and none of \ / : * ? < > | ".
bool IsValidPackageFileName(const char *text);

// The further rules an install applies to a found entry: a version text, a package file name
// and a size from 1 byte to 512 MiB.
bool IsInstallableEntry(const ProgramEntry *entry);
