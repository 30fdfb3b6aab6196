#pragma once

// talvor-yayin: the maker's release tool. It generates the release key pair, writes signed
// manifests and shows them, checking every component line with the setup's own reader, and
// builds, lists and unpacks packages.

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>
#include <time.h>

#include <functional>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "core/status.h"
#include "release/package_reader.h"

const int kExitOk = 0;
const int kExitFailure = 1; // I/O, cryptography, verification or refused content
const int kExitUsage = 2;   // a bad command line

// A setup executable is a few MiB; anything far larger is not one.
const size_t kSetupMaxSize = 256u << 20;

// --- io.cpp ---------------------------------------------------------------------------------

// Prints "talvor-yayin: " and the message as one line on stderr.
void PrintError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// `length` bytes of `text` with backslash, control characters and DEL written as \\ and \xHH,
// so that a value can never break or forge an output line.
std::string EscapeText(const char *text, size_t length);

// Appends the low `bytes` bytes of `value`, least significant first.
void AppendLittleEndian(std::vector<uint8_t> *out, uint64_t value, int bytes);

// What follows the last '/' of the path, or all of it.
const char *FileNamePart(const char *path);

// The 32 bytes as 64 lowercase hexadecimal digits.
std::string HexDigest(const uint8_t digest[32]);

// Writes all `size` bytes, going on after short writes and interruptions.
bool WriteAllBytes(int descriptor, const void *data, size_t size);

// Reads the file in pieces of up to 64 KiB and hands each to `take`, stopping at the first
// status other than StatusOk. Open and read failures are reported; `take` reports its own.
Status ReadFilePieces(const char *path, Status (*take)(const uint8_t *piece, size_t size, void *context),
                      void *context);

// The whole file; StatusBufferTooSmall (reported) when it is larger than `limit` bytes.
Status LoadFile(const char *path, size_t limit, std::vector<uint8_t> *data);

// Writes `data` to a new temporary file in the folder of `path` with `mode` less the umask,
// flushed to disk, and names it in `*temp_path`. Nothing is left behind on failure.
Status WriteTemporaryFile(const char *path, const void *data, size_t size, mode_t mode, std::string *temp_path);

// Gives the temporary file the name `path`, replacing an existing file only when `replace`.
// The temporary name is gone afterwards, whatever the outcome.
Status PublishFile(const std::string &temp_path, const char *path, bool replace);

// WriteTemporaryFile followed by PublishFile: `path` holds either all of `data` or what it held.
Status WriteFileAtomically(const char *path, const void *data, size_t size, mode_t mode, bool replace);

// --- progress.cpp ---------------------------------------------------------------------------

enum ProgressMode {
    ProgressQuiet,    // --sessiz: nothing at all
    ProgressLines,    // stderr is no terminal: a plain line at a step's start and end, and at
                      // most one every 5 seconds in between
    ProgressTerminal, // one line rewritten in place, kept once the step ends
};

// Quiet when asked, otherwise as stderr is a terminal or not.
ProgressMode ChooseProgressMode(bool quiet);

struct ProgressStep {
    const char *name;     // the plain lines' adim= value, one ASCII word
    const char *running;  // the terminal's words while the step runs
    const char *finished; // and once it has ended
};

struct Progress {
    ProgressMode mode;
    const ProgressStep *step;
    uint64_t total_files;
    uint64_t total_bytes;
    uint64_t files; // done so far
    uint64_t bytes;
    int64_t started;     // monotonic milliseconds
    int64_t next_report; // no report before this moment
};

// Reports the start of `step` over `total_files` files of `total_bytes` bytes in all.
Progress StartProgress(ProgressMode mode, const ProgressStep &step, uint64_t total_files, uint64_t total_bytes);

// Counts `files` and `bytes` more as done; reports only when the last report is old enough, so
// a call costs a clock read.
void AdvanceProgress(Progress *progress, uint64_t files, uint64_t bytes);

// Reports the step as done. A step that fails is not finished: its error follows its last report.
void FinishProgress(const Progress &progress);

// Ends the terminal's progress line, when one is open, so that what follows starts a line.
void EndProgressLine();

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

// ComponentLineFault of a line with these fields and a placeholder digest and size: the rules
// that can be checked before a package exists.
const char *ComponentDraftFault(const std::string &name, const std::string &version, const std::string &package_file);

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

// Writes the signed manifest with these header values and records to `path`, replacing it only
// once the new file, read back from disk, passes the setup's own check.
Status WriteManifestFile(const char *path, EVP_PKEY *key, uint32_t a, uint64_t b,
                         const std::vector<ManifestRecord> &records);

// The records of a manifest file that the setup's reader has accepted, in their order, those
// with tags it does not keep included.
std::vector<ManifestRecord> ManifestRecords(const std::vector<uint8_t> &file);

// Header value B of the manifest at `path` when it verifies with `public_key`, otherwise 0.
uint64_t LiveManifestSerial(const char *path, const uint8_t public_key[64]);

// The serial of a manifest that replaces one with the serial `live`: the time `now` in seconds
// since 1970 (UTC), or one more than `live` when the clock has not passed it, so that serials
// only rise. Refused (reported) when `live` is the largest.
Status NextSerial(time_t now, uint64_t live, uint64_t *serial);

// The expiry record of a manifest signed at `now` that is to be trusted for `days` days.
Status ExpiryRecord(time_t now, uint64_t days, ManifestRecord *record);

// Verifies the manifest file at `path` with `public_key` and prints its lines to stdout, or
// "bildirim=<status>" when the setup would refuse it.
Status ShowManifestFile(const char *path, const uint8_t public_key[64]);

// --- lzms_compress.cpp ----------------------------------------------------------------------

// `data` as the Compression API's LZMS buffer mode frames it: the 24-byte header, then for
// every chunk of up to 64 MiB (each an independent stream, compressed by wimlib) its u32 length
// and its bytes. A chunk that does not get smaller is stored as it is, its length then equal to
// its size. An empty input gives the header alone.
Status CompressLzmsBuffer(const uint8_t *data, size_t size, std::vector<uint8_t> *framed);

// CompressLzmsBuffer in pieces that threads can share: the number of chunks of a file of `size`
// bytes; chunk number `chunk` of it as it goes into the frame (its u32 length and its bytes),
// or empty when the compressor cannot be made; and the frame from every chunk's part, refused
// (reported) when a part is empty.
size_t LzmsChunkCount(size_t size);
void CompressLzmsChunk(const uint8_t *data, size_t size, size_t chunk, std::vector<uint8_t> *part);
Status JoinLzmsChunks(size_t size, const std::vector<std::vector<uint8_t>> &parts, std::vector<uint8_t> *framed);

// --- workers.cpp ----------------------------------------------------------------------------

// The workers `--is` asks for when it is not given: one per processor.
unsigned DefaultWorkerCount();

// Hands a task of the item being started to the workers.
using SubmitTask = std::function<void(std::function<void()> task)>;

// Runs one item per weight on `workers` threads and finishes them in their order: `start(i)` is
// called on this thread in order, submits the item's tasks (none or several) and returns; once
// all of them have run, `finish(i)` is called on this thread, again in order. The weight is what
// an item holds from its start to its finish (the bytes of a file read for it): items are
// started while their weights stay within 64 MiB per worker, or when none is held, and while
// fewer than twice as many tasks as workers wait or run. A slow item at the front thus does not
// stop the workers while the memory stays bounded. Stops at the first status other than
// StatusOk from either, after the running tasks; tasks not yet begun are dropped.
Status RunInOrder(unsigned workers, const std::vector<uint64_t> &weights,
                  const std::function<Status(size_t item, const SubmitTask &submit)> &start,
                  const std::function<Status(size_t item)> &finish);

// --- package_names.cpp ----------------------------------------------------------------------

// Why an entry name cannot go into a package, as a sentence for the user, or null: it fails
// IsSafeEntryName, is not well-formed UTF-8 (Windows could not convert it), or has a component
// that Windows takes for a device (CON, NUL.txt, COM1 ...).
const char *EntryNameFault(const std::string &name);

// Refuses (reported) two names that Windows would take for one path: names equal but for
// letter case, a file where another name needs a folder, or one folder spelt two ways. The
// names must have passed EntryNameFault.
Status CheckNameCollisions(const std::vector<std::string> &names);

// --- package_read.cpp -----------------------------------------------------------------------

struct PackageEntry {
    std::string name;
    uint32_t size;        // unpacked
    uint32_t stored_size;
    uint8_t method;
    uint8_t sha256[32];   // of the unpacked bytes
    const uint8_t *stored; // inside the package's bytes
};

// The whole package file and its entries, refused (reported) as the setup refuses them: over
// 512 MiB, wrong magic, entry count outside 1 to 4096, truncated entries, name length and
// rules, stored bytes past the end, unpacked size, method, a stored entry whose sizes differ,
// bytes after the last entry; and names that Windows would take for one path. The entries
// point into `file`.
Status ReadPackageFile(const char *path, std::vector<uint8_t> *file, std::vector<PackageEntry> *entries);

// The entry's unpacked bytes (method 1 decoded with our own LZMS decoder), refused (reported)
// when they do not decode to exactly its size or do not match its digest.
Status UnpackEntry(const char *package, const PackageEntry &entry, std::vector<uint8_t> *bytes);

// UnpackEntry in two halves: the decoding and the digest check, which any thread may run, and
// the report of their fault.
PackageFault DecodeEntry(const PackageEntry &entry, std::vector<uint8_t> *bytes);
Status ReportEntryFault(const char *package, const PackageEntry &entry, PackageFault fault);

// --- package_build.cpp ----------------------------------------------------------------------

// Appends the entry `name` for the file bytes `data` (found below the folder `root`, named in
// messages) to the package being built: its SHA-256, and method 1 only when the framed LZMS
// form is smaller than the file. Refuses (reported) an entry that would take the package past
// 512 MiB, leaving `package` as it was.
Status AppendPackageEntry(const char *root, const std::string &name, const std::vector<uint8_t> &data,
                          std::vector<uint8_t> *package);

// Builds the package `package_path` from every regular file below `folder`, in byte order of
// their relative paths. Refuses (reported, naming the path) links and anything else that is
// neither a regular file nor a folder, names EntryNameFault or CheckNameCollisions refuses,
// files over 512 MiB, more than 4096 files, a tree without files and a package over 512 MiB.
// The package is written through a temporary file and replaces an existing one only whole.
// Shows the progress of reading and compressing the files in `progress_mode`. The digests and
// the chunks are made by `workers` threads; the bytes are the same whatever their number.
Status BuildPackageFile(const char *folder, const char *package_path, ProgressMode progress_mode, unsigned workers);

// --- package_show.cpp -----------------------------------------------------------------------

// Checks the package's layout and prints one line per entry:
// girdi=NAME|METHOD|UNPACKED SIZE|STORED SIZE|SHA-256 hex.
Status ShowPackageFile(const char *path);

// --- package_extract.cpp --------------------------------------------------------------------

// Unpacks the package into `folder`, which must not exist: every entry's digest is checked,
// nothing is written outside the folder and no link is followed. On success prints
// "dosya=COUNT"; on any failure the folder is removed again.
Status ExtractPackageFile(const char *package, const char *folder);

// --- publish.cpp ----------------------------------------------------------------------------

struct PublishRequest {
    const char *product_folder;
    const char *release_folder;   // made when it does not exist
    const char *version;          // a version text the setup accepts
    const char *private_key_path;
    const char *public_key_path;  // or null: the key the setup is built with, as 64 bytes
    const char *setup_path;       // or null: the setup executable the release is for
    const char *replacing_version; // or null: the published version the maker replaces even
                                   // with one that is not newer
    // Or null: told "paket" once the package is in place and checked, "bildirim" once the
    // manifest is live. Lets a test stop a publish at either point.
    void (*observer)(const char *step);
    ProgressMode progress_mode; // of building the package and of checking it
    unsigned workers;           // threads that compress and check the package
    bool serial_given;          // header value B is `serial`, not chosen by NextSerial
    uint64_t serial;
    uint64_t valid_days; // or 0: the manifest has no expiry
};

// Publishes `version` from the product folder into the release folder as "paket-VERSION.tpk"
// and a signed bildirim.tdb naming it. Refuses (reported) a key that does not match the given
// public key or setup, a folder whose manifest does not verify with the key or that another
// publish holds, a version not newer than the published one (unless replacing_version names
// that one), a package that the live manifest names, and a package or manifest that does not
// pass the setup's checks. The manifest's header value B is its serial, from NextSerial unless
// given, and with valid_days it carries an expiry record. A refused or failed run leaves the
// folder as it was; an interrupted one leaves it serving the previous release. On success
// prints yayinlandi=, bilesen= and onceki= lines and removes packages older than the previous
// one.
Status PublishRelease(const PublishRequest &request);

// Signs the manifest live in the release folder again, with a serial from NextSerial and an
// expiry of `valid_days` days or none; header value A and the other records are kept as they
// are. Takes only release_folder, private_key_path, public_key_path, setup_path and valid_days
// from the request. It is published as PublishRelease publishes its manifest, under
// the same lock, and the package stays. Refuses (reported) a folder without a manifest or with
// one that does not verify with the key. Prints yenilendi=VERSION (- without an installable
// program), seri= and, with an expiry, gecerlilik= lines.
Status RenewRelease(const PublishRequest &request);

// --- package_manager.cpp --------------------------------------------------------------------

// An https:// address of 9 to 2048 characters without spaces, control characters, '"' or '\\'.
bool IsInstallerUrl(const char *url);

// Writes the package manager's version, default-locale and installer manifests for the setup at
// `setup_path`, downloadable from `url`, announcing the release `version`, into `folder` (made
// when missing) as TekvarYazilim.Talvor[.locale.tr-TR|.installer].yaml, and prints one
// yazildi= line per file.
Status WritePackageManagerManifests(const char *setup_path, const char *version, const char *url,
                                    const char *folder);

// --- commands.cpp ---------------------------------------------------------------------------

// The whole program: the command line in, an exit code out.
int RunYayin(int argc, char **argv);
