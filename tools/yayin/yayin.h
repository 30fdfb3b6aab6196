#pragma once

// talvor-yayin: the maker's release tool. It generates the release key pair, writes signed
// manifests and shows them, checking every component line with the setup's own reader.

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include <openssl/evp.h>

#include "core/status.h"

const int kExitOk = 0;
const int kExitFailure = 1; // I/O, cryptography, verification or refused content
const int kExitUsage = 2;   // a bad command line

// --- io.cpp ---------------------------------------------------------------------------------

// Prints "talvor-yayin: " and the message as one line on stderr.
void ReportError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// `length` bytes of `text` with backslash, control characters and DEL written as \\ and \xHH,
// so that a value can never break or forge an output line.
std::string EscapeText(const char *text, size_t length);

// Reads the file in pieces of up to 64 KiB and hands each to `take`, stopping at the first
// status other than StatusOk. Open and read failures are reported; `take` reports its own.
Status ReadFilePieces(const char *path, Status (*take)(const uint8_t *piece, size_t size, void *context),
                      void *context);

// The whole file; StatusBufferTooSmall (reported) when it is larger than `limit` bytes.
Status ReadWholeFile(const char *path, size_t limit, std::vector<uint8_t> *data);

// Writes `data` to a new temporary file in the folder of `path` with `mode` less the umask,
// flushed to disk, and names it in `*temp_path`. Nothing is left behind on failure.
Status WriteTemporaryFile(const char *path, const void *data, size_t size, mode_t mode, std::string *temp_path);

// Gives the temporary file the name `path`, replacing an existing file only when `replace`.
// The temporary name is gone afterwards, whatever the outcome.
Status PublishFile(const std::string &temp_path, const char *path, bool replace);

// WriteTemporaryFile followed by PublishFile: `path` holds either all of `data` or what it held.
Status WriteFileAtomically(const char *path, const void *data, size_t size, mode_t mode, bool replace);

// --- keys.cpp -------------------------------------------------------------------------------

// A new P-256 key pair: the private key as PKCS#8 PEM (mode 0600) and the public key as 64 raw
// bytes. Neither file may exist yet; a failed run leaves neither behind.
Status GenerateKeyFiles(const char *private_path, const char *public_path);

// An unencrypted PEM private key that must be on P-256. The caller frees `*key`.
Status LoadPrivateKey(const char *path, EVP_PKEY **key);

// The public point of `key` as X then Y, 32 big-endian bytes each.
Status GetPublicKeyBytes(EVP_PKEY *key, uint8_t public_key[64]);

// An ECDSA signature of a SHA-256 digest as r then s, 32 big-endian bytes each.
Status SignDigest(EVP_PKEY *key, const uint8_t digest[32], uint8_t signature[64]);

// A public key file of exactly 64 bytes.
Status ReadPublicKeyFile(const char *path, uint8_t public_key[64]);

// --- components.cpp -------------------------------------------------------------------------

// The rule a component line breaks, as a sentence for the user, or null when the setup finds
// the line under its name and would install it.
const char *ComponentLineFault(const std::string &line);

// The component line for a package file: its SHA-256 as lowercase hex, its size and its base
// name as the package file name.
Status PackageComponentLine(const std::string &name, const std::string &version, const char *path,
                            std::string *line);

// Checks every line (each refused line is reported) and joins them with "\n" in their order.
// Refuses an empty list and a name that an earlier line already uses.
Status JoinComponentList(const std::vector<std::string> &lines, std::string *list);

// --- manifest.cpp ---------------------------------------------------------------------------

struct ManifestRecord {
    uint16_t tag;
    std::string value;
};

// Header and records of a manifest file, everything but the signature.
std::vector<uint8_t> EncodeManifestBody(uint32_t a, uint64_t b, const std::vector<ManifestRecord> &records);

// Appends the signature over all of `file` to it.
Status SignManifest(EVP_PKEY *key, std::vector<uint8_t> *file);

// Writes the signed manifest whose only record is the component list `list` to `path`,
// replacing it only once the new file, read back from disk, passes the setup's own check.
Status WriteManifestFile(const char *path, EVP_PKEY *key, uint32_t a, uint64_t b, const std::string &list);

// Verifies the manifest file at `path` with `public_key` and prints its lines to stdout, or
// "bildirim=<status>" when the setup would refuse it.
Status ShowManifestFile(const char *path, const uint8_t public_key[64]);

// --- commands.cpp ---------------------------------------------------------------------------

// The whole program: the command line in, an exit code out.
int RunYayin(int argc, char **argv);
