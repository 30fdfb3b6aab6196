#include <string.h>

#include <algorithm>

#include "release/component_list.h"
#include "release/signed_manifest.h"
#include "test_support.h"
#include "tools/yayin/yayin.h"

namespace {

using ManifestWriter = ToolTest;
using ManifestShow = ToolTest;
using CommandLine = ToolTest;

const std::string kDevPem = RepositoryPath("keys/dev-release.pem");
const std::string kDevPub = RepositoryPath("keys/dev-release.pub");
const std::string kHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Line(const std::string &name, const std::string &version = "2.1.0", const std::string &digest = kHex,
                 const std::string &size = "1000", const std::string &package = "talvor-2.1.0.tpk")
{
    return name + "|" + version + "|" + digest + "|" + size + "|" + package;
}

// The manifest parsed by the setup's reader; null when it refuses it with `*status`.
SignedManifest *Parse(const std::string &file, const std::string &public_key, Status *status)
{
    SignedManifest *manifest = nullptr;
    *status = ParseSignedManifest((const uint8_t *)file.data(), (uint32_t)file.size(),
                                  (const uint8_t *)public_key.data(), &manifest);
    return manifest;
}

} // namespace

TEST_F(ManifestWriter, HasTheLayoutAndVerifiesOnlyWithItsOwnKey)
{
    ASSERT_EQ(0, RunTool({"anahtar-uret", "--ozel=" + Path("yeni.pem"), "--acik=" + Path("yeni.pub")}).exit_code);
    const std::string dev_pub = ReadFileBytes(kDevPub);
    const std::string fresh_pub = ReadFileBytes(Path("yeni.pub"));
    const struct {
        std::string pem, pub, other_pub;
    } keys[] = {{kDevPem, dev_pub, fresh_pub}, {Path("yeni.pem"), fresh_pub, dev_pub}};
    const std::string line = Line("talvor");
    for (const auto &k : keys) {
        SCOPED_TRACE(k.pem);
        ToolRun run = RunTool({"bildirim-yaz", "--anahtar=" + k.pem, "--cikti=" + Path("b.tdb"), "--a=4000000000",
                               "--b=18446744073709551614", "--bilesen=" + line});
        ASSERT_EQ(0, run.exit_code) << run.err;
        const std::string file = ReadFileBytes(Path("b.tdb"));
        ASSERT_EQ(92 + line.size(), file.size());
        EXPECT_EQ("TDB1", file.substr(0, 4));
        EXPECT_EQ(1u, LittleEndianAt(file, 4, 2));
        EXPECT_EQ(1u, LittleEndianAt(file, 6, 2));
        EXPECT_EQ(4000000000u, LittleEndianAt(file, 8, 4));
        EXPECT_EQ(18446744073709551614u, LittleEndianAt(file, 12, 8));
        EXPECT_EQ(9u, LittleEndianAt(file, 20, 2));
        EXPECT_EQ(0u, LittleEndianAt(file, 22, 2));
        EXPECT_EQ(line.size(), LittleEndianAt(file, 24, 4));
        EXPECT_EQ(line, file.substr(28, line.size()));

        Status status;
        SignedManifest *manifest = Parse(file, k.pub, &status);
        ASSERT_EQ(StatusOk, status);
        EXPECT_EQ(4000000000u, manifest->header_u32);
        EXPECT_EQ(18446744073709551614u, manifest->header_u64);
        ProgramEntry entry;
        EXPECT_EQ(StatusOk, LookupManifestEntry(manifest, "talvor", &entry));
        EXPECT_TRUE(IsInstallableEntry(&entry));
        FreeManifest(manifest);
        EXPECT_EQ(nullptr, Parse(file, k.other_pub, &status));
        EXPECT_EQ(StatusInvalid, status);
    }
}

TEST_F(ManifestWriter, PackageLineCarriesDigestSizeAndBaseNameInArgumentOrder)
{
    ASSERT_TRUE(WriteFileBytes(Path("ek-1.0.0.tpk"), "abc"));
    ToolRun run = RunTool({"bildirim-yaz", "--anahtar=" + kDevPem, "--cikti=" + Path("b.tdb"), "--a=7", "--b=0",
                           "--paket=ek:1.0.0:" + Path("ek-1.0.0.tpk"), "--bilesen=" + Line("talvor")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    run = RunTool({"bildirim-goster", "--acik=" + kDevPub, Path("b.tdb")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("a=7\nb=0\nbilesen=ek|1.0.0|" + kHex + "|3|ek-1.0.0.tpk\nbilesen=" + Line("talvor") + "\n", run.out);
    EXPECT_EQ("", run.err);
}

TEST_F(ManifestWriter, RefusesLinesTheSetupWouldNotInstall)
{
    const struct {
        const char *what;
        std::vector<std::string> lines;
    } cases[] = {
        {"two version groups", {Line("t", "1.2")}},
        {"four version groups", {Line("t", "1.2.3.4")}},
        {"five digits in a group", {Line("t", "12345.0.0")}},
        {"letter in the version", {Line("t", "1.a.0")}},
        {"not a package", {Line("t", "1.0.0", kHex, "10", "x.zip")}},
        {"double dot", {Line("t", "1.0.0", kHex, "10", "..a.tpk")}},
        {"leading dot", {Line("t", "1.0.0", kHex, "10", ".a.tpk")}},
        {"slash", {Line("t", "1.0.0", kHex, "10", "a/b.tpk")}},
        {"101-byte package name", {Line("t", "1.0.0", kHex, "10", std::string(97, 'p') + ".tpk")}},
        {"size 0", {Line("t", "1.0.0", kHex, "0")}},
        {"size above 512 MiB", {Line("t", "1.0.0", kHex, "536870913")}},
        {"signed size", {Line("t", "1.0.0", kHex, "+10")}},
        {"four fields", {"t|1.0.0|" + kHex + "|10"}},
        {"six fields", {Line("t") + "|fazla"}},
        {"empty field", {"t||1.0.0|" + kHex + "|10|t.tpk"}},
        {"non-hex digest", {Line("t", "1.0.0", std::string(64, 'g'))}},
        {"63 digits", {Line("t", "1.0.0", kHex.substr(1))}},
        {"16-byte name", {Line(std::string(16, 'n'))}},
        {"carriage return", {Line("t") + "\r"}},
        {"duplicate name", {Line("talvor"), Line("talvor", "2.2.0")}},
        {"bad line after a good one", {Line("talvor"), Line("ek", "1.0")}},
        {"empty list", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"bildirim-yaz", "--anahtar=" + kDevPem, "--cikti=" + Path("b.tdb")};
        for (const std::string &line : c.lines)
            args.push_back("--bilesen=" + line);
        ToolRun run = RunTool(args);
        EXPECT_EQ(1, run.exit_code);
        EXPECT_EQ(std::vector<std::string>{}, Entries());
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        const std::string shown = c.lines.empty() ? "liste" : c.lines.back().substr(0, c.lines.back().find('\r'));
        EXPECT_NE(std::string::npos, run.err.find(shown)) << run.err;
    }
}

TEST_F(ManifestWriter, FailedWriteKeepsThePreviousManifest)
{
    const std::vector<std::string> base = {"bildirim-yaz", "--anahtar=" + kDevPem, "--cikti=" + Path("b.tdb")};
    std::vector<std::string> args = base;
    args.push_back("--bilesen=" + Line("talvor"));
    ASSERT_EQ(0, RunTool(args).exit_code);
    const std::string previous = ReadFileBytes(Path("b.tdb"));

    const std::vector<std::string> failures[] = {
        {"--bilesen=" + Line("talvor", "2.2")},
        {"--paket=ek:1.0.0:" + Path("yok.tpk")},
        {"--anahtar=" + Path("yok.pem"), "--bilesen=" + Line("talvor")},
    };
    for (const auto &extra : failures) {
        SCOPED_TRACE(extra.front());
        args = {"bildirim-yaz", "--cikti=" + Path("b.tdb")};
        if (extra.size() == 1)
            args.push_back("--anahtar=" + kDevPem);
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(1, RunTool(args).exit_code);
        EXPECT_EQ(previous, ReadFileBytes(Path("b.tdb")));
        EXPECT_EQ(std::vector<std::string>{"b.tdb"}, Entries());
    }

    args = base;
    args.push_back("--bilesen=" + Line("talvor", "2.2.0"));
    ASSERT_EQ(0, RunTool(args).exit_code);
    EXPECT_NE(previous, ReadFileBytes(Path("b.tdb")));
    EXPECT_EQ(std::vector<std::string>{"b.tdb"}, Entries());
}

TEST_F(ManifestWriter, StopsAtTheLargestFileTheSetupReads)
{
    EVP_PKEY *key = nullptr;
    ASSERT_EQ(StatusOk, LoadPrivateKey(kDevPem.c_str(), &key));
    const std::string largest(kManifestMaxSize - 92, 'x');
    EXPECT_EQ(StatusInvalid, WriteManifestFile(Path("b.tdb").c_str(), key, 0, 0, {{kComponentListTag, largest + "x"}}));
    EXPECT_EQ(std::vector<std::string>{}, Entries());
    EXPECT_EQ(StatusOk, WriteManifestFile(Path("b.tdb").c_str(), key, 0, 0, {{kComponentListTag, largest}}));
    EVP_PKEY_free(key);

    Status status;
    SignedManifest *manifest = Parse(ReadFileBytes(Path("b.tdb")), ReadFileBytes(kDevPub), &status);
    EXPECT_EQ(StatusOk, status);
    EXPECT_EQ(largest, GetManifestRecord(manifest, kComponentListTag));
    FreeManifest(manifest);
}

TEST_F(ManifestShow, PrintsEveryRecordOnOneLineEach)
{
    EVP_PKEY *key = nullptr;
    ASSERT_EQ(StatusOk, LoadPrivateKey(kDevPem.c_str(), &key));
    // Tag 12 is skipped by the reader; the backslash and line feed of tag 1 must not make lines.
    std::vector<uint8_t> file = EncodeManifestBody(
        3, 4, {{12, "atlanan"}, {9, "a|x\n\nb|y"}, {1, "bir\\iki\nbilesen=sahte"}, {11, ""}});
    ASSERT_EQ(StatusOk, SignManifest(key, &file));
    EVP_PKEY_free(key);
    ASSERT_TRUE(WriteFileBytes(Path("b.tdb"), std::string(file.begin(), file.end())));

    ToolRun run = RunTool({"bildirim-goster", "--acik=" + kDevPub, Path("b.tdb")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("a=3\nb=4\nkayit1=bir\\\\iki\\x0abilesen=sahte\nbilesen=a|x\nbilesen=\nbilesen=b|y\nkayit11=\n", run.out);
}

TEST_F(ManifestShow, ReportsTheStatusOfARefusedManifest)
{
    ASSERT_EQ(0, RunTool({"anahtar-uret", "--ozel=" + Path("k.pem"), "--acik=" + Path("k.pub")}).exit_code);
    EVP_PKEY *key = nullptr;
    ASSERT_EQ(StatusOk, LoadPrivateKey(kDevPem.c_str(), &key));
    std::vector<uint8_t> current = EncodeManifestBody(0, 0, {{kComponentListTag, Line("talvor")}});
    std::vector<uint8_t> later = current;
    later[4] = 2; // a format version this setup does not know
    std::vector<uint8_t> padded = EncodeManifestBody(0, 0, {{kComponentListTag, Line("talvor")}, {10, "01"}});
    ASSERT_EQ(StatusOk, SignManifest(key, &current));
    ASSERT_EQ(StatusOk, SignManifest(key, &later));
    ASSERT_EQ(StatusOk, SignManifest(key, &padded));
    EVP_PKEY_free(key);
    ASSERT_TRUE(WriteFileBytes(Path("b.tdb"), std::string(current.begin(), current.end())));
    ASSERT_TRUE(WriteFileBytes(Path("sonraki.tdb"), std::string(later.begin(), later.end())));
    ASSERT_TRUE(WriteFileBytes(Path("kisa.tdb"), std::string(83, 'T')));
    ASSERT_TRUE(WriteFileBytes(Path("sifirli.tdb"), std::string(padded.begin(), padded.end())));

    const struct {
        const char *file;
        std::string public_key;
        const char *expected;
    } cases[] = {
        {"b.tdb", Path("k.pub"), "bildirim=1\n"},
        {"kisa.tdb", kDevPub, "bildirim=1\n"},
        {"sonraki.tdb", kDevPub, "bildirim=7\n"},
        {"sifirli.tdb", kDevPub, "bildirim=1\n"}, // an expiry with a leading zero is no time
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        ToolRun run = RunTool({"bildirim-goster", "--acik=" + c.public_key, Path(c.file)});
        EXPECT_EQ(1, run.exit_code);
        EXPECT_EQ(c.expected, run.out);
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
}

TEST_F(CommandLine, MistakesExitWithTwoAndTouchNothing)
{
    const std::string key = "--anahtar=" + kDevPem;
    const std::string out = "--cikti=" + Path("b.tdb");
    const std::string line = "--bilesen=" + Line("talvor");
    const std::vector<std::string> cases[] = {
        {},
        {"bilinmeyen"},
        {"bildirim-yaz", out, line},
        {"bildirim-yaz", key, line},
        {"bildirim-yaz", key, out, line, "--fazla=1"},
        {"bildirim-yaz", key, out, line, "--cikti"},
        {"bildirim-yaz", key, out, line, out},
        {"bildirim-yaz", key, out, line, "fazla"},
        {"bildirim-yaz", key, out, line, "--a=4294967296"},
        {"bildirim-yaz", key, out, line, "--a=-1"},
        {"bildirim-yaz", key, out, line, "--b=18446744073709551616"},
        {"bildirim-yaz", key, out, line, "--b=1x"},
        {"bildirim-yaz", key, out, "--paket=ek:1.0.0"},
        {"bildirim-yaz", key, out, "--paket=ek::" + Path("a.tpk")},
        {"anahtar-uret", "--ozel=" + Path("k.pem")},
        {"anahtar-uret", "--ozel=" + Path("k"), "--acik=" + Path("k")},
        {"bildirim-goster", "--acik=" + kDevPub},
        {"bildirim-goster", "--acik=" + kDevPub, Path("a.tdb"), Path("b.tdb")},
        {"bildirim-goster", Path("a.tdb")},
    };
    for (const auto &args : cases) {
        ExpectUsageError(args);
        EXPECT_EQ(std::vector<std::string>{}, Entries());
    }
}
