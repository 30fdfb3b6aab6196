#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "release/component_list.h"
#include "release/digest.h"
#include "release/signed_manifest.h"
#include "test_support.h"
#include "tools/yayin/yayin.h"

extern char **environ;

namespace {

const char *const kProductFiles[] = {"talvor_svc.exe",  "talvor_gui.exe", "Talvor.exe",
                                     "talvor_guncelle.exe", "WinDivert.dll", "WinDivert64.sys"};

class PublishTest : public ToolTest {
protected:
    // A product folder with the six files the setup requires, their bytes depending on `salt`,
    // plus `extra` random bytes in a file of its own.
    std::string MakeProduct(const std::string &name, const std::string &salt, size_t extra = 0)
    {
        std::string folder = Path(name);
        std::filesystem::create_directories(folder + "/alt");
        for (const char *file : kProductFiles)
            EXPECT_TRUE(WriteFileBytes(folder + "/" + file, std::string(file) + " " + salt + "\n"));
        std::mt19937 generator(42);
        std::string bytes(extra, 0);
        for (char &c : bytes)
            c = (char)generator();
        EXPECT_TRUE(WriteFileBytes(folder + "/alt/veri.bin", bytes));
        return folder;
    }

    ToolRun Publish(const std::string &product, const std::string &version, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"yayinla", "--anahtar=" + RepositoryPath("keys/dev-release.pem"),
                                         "--surum=" + version};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(product);
        args.push_back(Release());
        return RunTool(args);
    }

    std::string Release() const { return Path("yayin"); }

    // Every file of the release folder and its bytes.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> files;
        if (!FileExists(Release()))
            return files;
        for (const auto &entry : std::filesystem::directory_iterator(Release()))
            files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
        return files;
    }

    // The version a setup with the development key would take from the release folder now:
    // the manifest verifies and the package it names is there, whole. Empty otherwise.
    std::string ServedVersion() const
    {
        std::string data = ReadFileBytes(Release() + "/bildirim.tdb");
        std::string key = ReadFileBytes(RepositoryPath("keys/dev-release.pub"));
        SignedManifest *manifest = nullptr;
        ProgramEntry entry;
        bool found = key.size() == 64 &&
                     ParseSignedManifest((const uint8_t *)data.data(), (uint32_t)data.size(),
                                         (const uint8_t *)key.data(), &manifest) == StatusOk &&
                     LookupManifestEntry(manifest, "program", &entry) == StatusOk && IsInstallableEntry(&entry);
        FreeManifest(manifest);
        if (!found)
            return "";
        std::string package = ReadFileBytes(Release() + "/" + entry.package_file);
        uint8_t digest[32];
        if (package.size() != entry.size ||
            Sha256Buffer((const uint8_t *)package.data(), (uint32_t)package.size(), digest) != StatusOk ||
            memcmp(digest, entry.sha256, 32) != 0)
            return "";
        return entry.version;
    }

    // Header value B and the expiry record ("" when there is none) of a manifest file that
    // verifies with the development key; B is 0 when it does not.
    static std::pair<uint64_t, std::string> SerialAndExpiry(const std::string &path)
    {
        std::string data = ReadFileBytes(path);
        std::string key = ReadFileBytes(RepositoryPath("keys/dev-release.pub"));
        SignedManifest *manifest = nullptr;
        std::pair<uint64_t, std::string> found(0, "");
        if (key.size() == 64 && ParseSignedManifest((const uint8_t *)data.data(), (uint32_t)data.size(),
                                                    (const uint8_t *)key.data(), &manifest) == StatusOk) {
            const char *expiry = GetManifestRecord(manifest, 10);
            found = {manifest->header_u64, expiry != nullptr ? expiry : ""};
        }
        FreeManifest(manifest);
        return found;
    }

    std::vector<std::string> ReleaseEntries() const
    {
        std::vector<std::string> names;
        for (const auto &files : Snapshot())
            names.push_back(files.first);
        return names;
    }
};

// Run in the child of a death test: the process ends where a kill would have ended it.
void EndAtPackage(const char *step)
{
    if (strcmp(step, "paket") == 0)
        _exit(9);
}

void EndAtManifest(const char *step)
{
    if (strcmp(step, "bildirim") == 0)
        _exit(9);
}

// The lines of a step's start and end, without their duration; the progress lines in between
// depend on the machine's speed and are left out.
std::vector<std::string> StepLines(const std::string &err)
{
    std::vector<std::string> lines;
    std::istringstream stream(err);
    for (std::string line; std::getline(stream, line);) {
        if (line.find(" durum=suruyor ") == std::string::npos)
            lines.push_back(line.substr(0, line.find(" sure=")));
    }
    return lines;
}

} // namespace

TEST_F(PublishTest, KeepsThePreviousPackageAndRemovesOlderOnes)
{
    std::string first = MakeProduct("v1", "1");
    ToolRun run = Publish(first, "1.0.0");
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ(0u, run.out.find("yayinlandi=1.0.0\nbilesen=program|1.0.0|")) << run.out;
    EXPECT_EQ("1.0.0", ServedVersion());
    EXPECT_EQ((std::vector<std::string>{"bildirim.tdb", "paket-1.0.0.tpk"}), ReleaseEntries());

    // The package holds exactly the product's files.
    ASSERT_EQ(0, RunTool({"paket-ac", Release() + "/paket-1.0.0.tpk", Path("acilan")}).exit_code);
    for (const char *file : kProductFiles)
        EXPECT_EQ(ReadFileBytes(first + "/" + file), ReadFileBytes(Path("acilan/") + file)) << file;

    run = Publish(MakeProduct("v2", "2"), "1.1.0");
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\nonceki=1.0.0\n")) << run.out;
    EXPECT_EQ("1.1.0", ServedVersion());
    EXPECT_EQ((std::vector<std::string>{"bildirim.tdb", "paket-1.0.0.tpk", "paket-1.1.0.tpk"}), ReleaseEntries());

    // Versions compare as numbers: 1.10.0 follows 1.9.0, which follows 1.1.0.
    ASSERT_EQ(0, Publish(MakeProduct("v3", "3"), "1.9.0").exit_code);
    run = Publish(MakeProduct("v4", "4"), "1.10.0");
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("silindi=paket-1.1.0.tpk\n")) << run.out;
    EXPECT_EQ("1.10.0", ServedVersion());
    EXPECT_EQ((std::vector<std::string>{"bildirim.tdb", "paket-1.10.0.tpk", "paket-1.9.0.tpk"}), ReleaseEntries());

    // Going back needs the published version named, and keeps the package it replaces.
    run = Publish(first, "1.0.0", {"--yayindaki=1.10.0"});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("1.0.0", ServedVersion());
    EXPECT_EQ((std::vector<std::string>{"bildirim.tdb", "paket-1.0.0.tpk", "paket-1.10.0.tpk"}), ReleaseEntries());
}

TEST_F(PublishTest, ProgressGoesToStderrAsPlainStepLinesAndLeavesStdoutAsItWas)
{
    std::string product = MakeProduct("urun", "1", 300000);
    uint64_t bytes = 0;
    for (const auto &file : std::filesystem::recursive_directory_iterator(product))
        bytes += file.is_regular_file() ? file.file_size() : 0;
    const std::string total = std::to_string(bytes);
    const std::string packing[] = {"talvor-yayin: adim=paket durum=basladi dosya=0/7 bayt=0/" + total,
                                   "talvor-yayin: adim=paket durum=bitti dosya=7/7 bayt=" + total + "/" + total};
    const std::string checking[] = {"talvor-yayin: adim=dogrulama durum=basladi dosya=0/7 bayt=0/" + total,
                                    "talvor-yayin: adim=dogrulama durum=bitti dosya=7/7 bayt=" + total + "/" + total};
    const struct {
        std::vector<std::string> args;
        // The last operand of the run with --sessiz, of the one with progress and of the one whose
        // stderr nobody reads: equal where stdout names it.
        std::string targets[3];
        std::vector<std::string> steps;
    } commands[] = {
        {{"paket-yap", "--surum=1.0.0", product},
         {Path("paket.tpk"), Path("paket.tpk"), Path("paket.tpk")},
         {packing[0], packing[1]}},
        {{"yayinla", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--surum=1.0.0", product},
         {Path("yayin-sessiz"), Path("yayin-ilerleme"), Path("yayin-okunmayan")},
         {packing[0], packing[1], checking[0], checking[1]}},
    };
    for (const auto &command : commands) {
        SCOPED_TRACE(command.args[0]);
        std::vector<std::string> args = command.args;
        args.insert(args.end(), {command.targets[0], "--sessiz"});
        ToolRun quiet = RunTool(args);
        ASSERT_EQ(0, quiet.exit_code) << quiet.err;
        EXPECT_EQ("", quiet.err);

        args = command.args;
        args.push_back(command.targets[1]);
        ToolRun run = RunTool(args);
        ASSERT_EQ(0, run.exit_code) << run.err;
        EXPECT_EQ(quiet.out, run.out);
        EXPECT_EQ(std::string::npos, run.err.find('\r')) << run.err;
        EXPECT_TRUE(!run.err.empty() && run.err.back() == '\n') << run.err;
        EXPECT_EQ(command.steps, StepLines(run.err)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(" sure=")) << run.err;

        // Progress that nobody reads any more ends nothing halfway.
        args.back() = command.targets[2];
        run = RunTool(args, true);
        EXPECT_EQ(0, run.exit_code);
        EXPECT_EQ(quiet.out, run.out);
    }
}

TEST_F(PublishTest, RefusalsLeaveTheFolderAsItWas)
{
    std::string product = MakeProduct("urun", "1");
    ASSERT_EQ(0, Publish(product, "1.1.0").exit_code);
    const std::map<std::string, std::string> published = Snapshot();

    ASSERT_EQ(0, RunTool({"anahtar-uret", "--ozel=" + Path("baska.pem"), "--acik=" + Path("baska.pub")}).exit_code);
    std::string setup_bytes = std::string(5000, 'M') + ReadFileBytes(RepositoryPath("keys/dev-release.pub")) +
                              std::string(5000, 'Z');
    ASSERT_TRUE(WriteFileBytes(Path("kurulum-dev.exe"), setup_bytes));
    ASSERT_TRUE(WriteFileBytes(Path("kurulum-baska.exe"), std::string(5000, 'M') +
                                                              ReadFileBytes(Path("baska.pub")) + std::string(5000, 'Z')));
    std::string incomplete = MakeProduct("eksik", "2");
    std::filesystem::remove(incomplete + "/WinDivert64.sys");
    std::string lowercase = MakeProduct("kucuk", "3");
    std::filesystem::rename(lowercase + "/Talvor.exe", lowercase + "/talvor.EXE");
    std::string linked = MakeProduct("bagli", "4");
    ASSERT_EQ(0, symlink("/etc/passwd", (linked + "/alt/bag").c_str()));

    struct Refusal {
        const char *what;
        std::string product;
        std::string version;
        std::vector<std::string> extra;
    } refusals[] = {
        {"the published version again", product, "1.1.0", {}},
        {"an older version", product, "1.0.9", {}},
        {"an older version naming another published version", product, "1.0.0", {"--yayindaki=1.0.0"}},
        {"the published version again, named: its package is live", product, "1.1.0", {"--yayindaki=1.1.0"}},
        {"a key other than the setup's public key", product, "1.2.0", {"--acik=" + Path("baska.pub")}},
        {"a setup built with another key", product, "1.2.0", {"--kurulum=" + Path("kurulum-baska.exe")}},
        {"a product without one of its six files", incomplete, "1.2.0", {}},
        {"a product holding a link", linked, "1.2.0", {}},
    };
    for (Refusal &refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        refusal.extra.push_back("--sessiz"); // the refusal's own line alone, without the steps before it
        ToolRun run = Publish(refusal.product, refusal.version, refusal.extra);
        EXPECT_EQ(1, run.exit_code);
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_EQ(0u, run.err.find("talvor-yayin: ")) << run.err;
        EXPECT_TRUE(published == Snapshot());
    }

    // A folder signed with another key, and one that another publish holds.
    ToolRun run = RunTool({"yayinla", "--anahtar=" + Path("baska.pem"), "--surum=1.2.0", product, Release()});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find("bu anahtarla doğrulanmıyor")) << run.err;
    int lock = open(Release().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(0, flock(lock, LOCK_EX));
    run = Publish(product, "1.2.0");
    close(lock);
    EXPECT_EQ(1, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find("başka bir yayın")) << run.err;
    EXPECT_TRUE(published == Snapshot());

    // Command-line mistakes touch nothing either.
    ExpectUsageError({"yayinla", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--surum=1.2", product,
                      Release()});
    ExpectUsageError({"yayinla", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--surum=1.2.0", product});
    EXPECT_TRUE(published == Snapshot());

    // What the refusals above did not stop: the right setup, the right key, letter case as
    // Windows sees it. A refused first publish does not leave the folder it made.
    run = Publish(lowercase, "1.2.0",
                  {"--kurulum=" + Path("kurulum-dev.exe"), "--acik=" + RepositoryPath("keys/dev-release.pub")});
    EXPECT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("1.2.0", ServedVersion());
    std::filesystem::remove_all(Release());
    EXPECT_EQ(1, Publish(incomplete, "1.0.0").exit_code);
    EXPECT_FALSE(FileExists(Release()));
}

TEST_F(PublishTest, EndedBeforeTheManifestServesThePreviousReleaseWhole)
{
    ASSERT_EQ(0, Publish(MakeProduct("v1", "1"), "1.0.0").exit_code);
    const std::map<std::string, std::string> before = Snapshot();
    std::string second = MakeProduct("v2", "2");
    std::string key = RepositoryPath("keys/dev-release.pem");
    std::string folder = Release();
    PublishRequest request = {second.c_str(), folder.c_str(), "1.1.0", key.c_str(), nullptr, nullptr, nullptr,
                              EndAtPackage, ProgressQuiet, 2, false, 0, 0};
    EXPECT_EXIT(PublishRelease(request), testing::ExitedWithCode(9), "");
    EXPECT_EQ("1.0.0", ServedVersion());
    std::map<std::string, std::string> after = Snapshot();
    EXPECT_EQ(before.at("bildirim.tdb"), after.at("bildirim.tdb"));
    EXPECT_EQ(before.at("paket-1.0.0.tpk"), after.at("paket-1.0.0.tpk"));

    // Ended once the manifest is live: the new release is served, the old package kept.
    request.observer = EndAtManifest;
    EXPECT_EXIT(PublishRelease(request), testing::ExitedWithCode(9), "");
    EXPECT_EQ("1.1.0", ServedVersion());
    EXPECT_EQ(before.at("paket-1.0.0.tpk"), Snapshot().at("paket-1.0.0.tpk"));
}

TEST_F(PublishTest, KilledAtAnyMomentServesOneWholeReleaseAndTheNextRunCompletes)
{
    ASSERT_EQ(0, Publish(MakeProduct("v1", "1"), "1.0.0").exit_code);
    // Random bytes do not compress, so the run takes long enough to be caught at every step.
    std::string second = MakeProduct("v2", "2", 2u << 20);
    std::vector<std::string> args = {TALVOR_YAYIN_PATH, "yayinla",
                                     "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--surum=1.1.0", second,
                                     Release()};
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    int quiet = open("/dev/null", O_WRONLY);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, quiet, 1);
    posix_spawn_file_actions_adddup2(&actions, quiet, 2);
    std::set<std::string> served;
    for (useconds_t delay = 10000; delay < 20000000 && served.count("1.1.0") == 0; delay *= 2) {
        SCOPED_TRACE("killed after " + std::to_string(delay) + " us");
        pid_t child;
        ASSERT_EQ(0, posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ));
        usleep(delay);
        kill(child, SIGKILL);
        int status;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        std::string version = ServedVersion();
        EXPECT_TRUE(version == "1.0.0" || version == "1.1.0") << version;
        served.insert(version);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(quiet);
    EXPECT_EQ(1u, served.count("1.0.0"));

    // The next run cleans what the killed ones left and publishes (or finds it published).
    ToolRun run = Publish(second, "1.2.0");
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("1.2.0", ServedVersion());
    std::vector<std::string> entries = ReleaseEntries();
    EXPECT_EQ(3u, entries.size()) << testing::PrintToString(entries);
    EXPECT_EQ("bildirim.tdb", entries[0]);
}

TEST_F(PublishTest, SerialsOnlyRiseAndAnExpiryIsSignedWhenAsked)
{
    const std::string manifest = Release() + "/bildirim.tdb";
    std::string product = MakeProduct("urun", "1");
    const uint64_t before = (uint64_t)time(nullptr);
    ASSERT_EQ(0, Publish(product, "1.0.0").exit_code);
    const auto first = SerialAndExpiry(manifest);
    ToolRun run = Publish(product, "1.1.0", {"--gecerlilik=30"});
    ASSERT_EQ(0, run.exit_code) << run.err;
    const uint64_t after = (uint64_t)time(nullptr);
    const auto second = SerialAndExpiry(manifest);
    EXPECT_TRUE(first.first >= before && first.second.empty()) << first.first;
    // Published within the same second or not, the second serial is above the first.
    EXPECT_TRUE(second.first > first.first && second.first <= after + 1) << second.first;
    const uint64_t expiry = std::stoull(second.second);
    EXPECT_TRUE(expiry >= before + 30 * 86400 && expiry <= after + 30 * 86400) << expiry;
    EXPECT_EQ(std::to_string(expiry), second.second); // digits only, as the setup reads them
    run = RunTool({"bildirim-goster", "--acik=" + RepositoryPath("keys/dev-release.pub"), manifest});
    EXPECT_NE(std::string::npos, run.out.find("\ngecerlilik=" + second.second + "\ngecerlilik_utc=20")) << run.out;

    // A serial ahead of the clock is followed by the next number; one given by hand that does not
    // rise is published with a warning; past the largest, nothing is published.
    ASSERT_EQ(0, Publish(product, "1.2.0", {"--seri=4000000000"}).exit_code);
    ASSERT_EQ(0, Publish(product, "1.3.0").exit_code);
    EXPECT_EQ(std::make_pair(uint64_t(4000000001), std::string()), SerialAndExpiry(manifest));
    run = Publish(product, "1.4.0", {"--seri=5"});
    EXPECT_EQ(0, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find("uyarı: --seri=5 yayımlanan bildirimin serisinden (4000000001)"))
        << run.err;
    EXPECT_EQ(5u, SerialAndExpiry(manifest).first);
    ASSERT_EQ(0, Publish(product, "1.5.0", {"--seri=18446744073709551615"}).exit_code);
    const std::map<std::string, std::string> published = Snapshot();
    EXPECT_EQ(1, Publish(product, "1.6.0").exit_code);
    EXPECT_TRUE(published == Snapshot());

    // bildirim-yaz without --b follows the manifest it replaces the same way.
    const std::vector<std::string> write = {"bildirim-yaz", "--anahtar=" + RepositoryPath("keys/dev-release.pem"),
                                            "--cikti=" + Path("b.tdb"),
                                            "--bilesen=program|1.0.0|" + std::string(64, 'a') + "|1|p.tpk"};
    ASSERT_EQ(0, RunTool(write).exit_code);
    EXPECT_GE(SerialAndExpiry(Path("b.tdb")).first, before);
    std::vector<std::string> by_hand = write;
    by_hand.push_back("--b=4000000000");
    ASSERT_EQ(0, RunTool(by_hand).exit_code);
    ASSERT_EQ(0, RunTool(write).exit_code);
    EXPECT_EQ(4000000001u, SerialAndExpiry(Path("b.tdb")).first);

    for (const char *workers : {"--is=0", "--is=1025"}) {
        ExpectUsageError({"yayinla", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--surum=2.0.0", workers,
                          product, Release()});
    }
    for (const char *days : {"--gecerlilik=0", "--gecerlilik=3651", "--gecerlilik=1g"}) {
        ExpectUsageError({"yayinla", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--surum=2.0.0", days,
                          product, Release()});
        ExpectUsageError({"yenile", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), days, Release()});
    }
    EXPECT_TRUE(published == Snapshot());
}

TEST_F(PublishTest, RenewalChangesOnlyTheSerialAndTheExpiryAndLeavesThePackage)
{
    ASSERT_EQ(0, Publish(MakeProduct("urun", "1"), "1.0.0").exit_code);
    const std::string manifest = Release() + "/bildirim.tdb";
    const std::string package = ReadFileBytes(Release() + "/paket-1.0.0.tpk");
    // A live manifest with header value A, an old expiry and records the setup keeps or skips.
    SignedManifest *parsed = nullptr;
    std::string live = ReadFileBytes(manifest);
    std::string dev_pub = ReadFileBytes(RepositoryPath("keys/dev-release.pub"));
    ASSERT_EQ(StatusOk, ParseSignedManifest((const uint8_t *)live.data(), (uint32_t)live.size(),
                                            (const uint8_t *)dev_pub.data(), &parsed));
    const std::string list = GetManifestRecord(parsed, kComponentListTag);
    FreeManifest(parsed);
    EVP_PKEY *key = nullptr;
    ASSERT_EQ(StatusOk, LoadPrivateKey(RepositoryPath("keys/dev-release.pem").c_str(), &key));
    std::vector<uint8_t> file = EncodeManifestBody(3, 100, {{1, "bir"}, {10, "1000"}, {9, list}, {12, "atlanan"}});
    ASSERT_EQ(StatusOk, SignManifest(key, &file));
    EVP_PKEY_free(key);
    ASSERT_TRUE(WriteFileBytes(manifest, std::string(file.begin(), file.end())));

    const std::string renew[] = {"--gecerlilik=2", ""};
    uint64_t previous = 100;
    for (const std::string &days : renew) {
        SCOPED_TRACE(days);
        std::vector<std::string> args = {"yenile", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), Release()};
        if (!days.empty())
            args.insert(args.begin() + 1, days);
        const uint64_t before = (uint64_t)time(nullptr);
        ToolRun run = RunTool(args);
        ASSERT_EQ(0, run.exit_code) << run.err;
        const uint64_t after = (uint64_t)time(nullptr);
        const auto renewed = SerialAndExpiry(manifest);
        EXPECT_TRUE(renewed.first > previous && renewed.first >= before && renewed.first <= after + 1);
        previous = renewed.first;
        std::vector<ManifestRecord> records = {{1, "bir"}, {9, list}, {12, "atlanan"}};
        std::string expected_out = "yenilendi=1.0.0\nseri=" + std::to_string(renewed.first) + "\n";
        if (!days.empty()) {
            const uint64_t expiry = std::stoull(renewed.second);
            EXPECT_TRUE(expiry >= before + 2 * 86400 && expiry <= after + 2 * 86400) << expiry;
            records.push_back({10, renewed.second});
            expected_out += "gecerlilik=" + renewed.second + "\n";
        } else {
            EXPECT_EQ("", renewed.second);
        }
        EXPECT_EQ(expected_out, run.out);
        // Byte for byte the live manifest but for the serial and the expiry; the package as it was.
        std::vector<uint8_t> body = EncodeManifestBody(3, renewed.first, records);
        std::string now = ReadFileBytes(manifest);
        EXPECT_EQ(std::string(body.begin(), body.end()), now.substr(0, now.size() - 64));
        EXPECT_EQ("1.0.0", ServedVersion());
        EXPECT_EQ(package, ReadFileBytes(Release() + "/paket-1.0.0.tpk"));
        EXPECT_EQ((std::vector<std::string>{"bildirim.tdb", "paket-1.0.0.tpk"}), ReleaseEntries());
    }

    // Another key's folder and a folder without a release are refused and left as they were.
    const std::map<std::string, std::string> renewed = Snapshot();
    ASSERT_EQ(0, RunTool({"anahtar-uret", "--ozel=" + Path("baska.pem"), "--acik=" + Path("baska.pub")}).exit_code);
    ToolRun run = RunTool({"yenile", "--anahtar=" + Path("baska.pem"), Release()});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find("bu anahtarla doğrulanmıyor")) << run.err;
    EXPECT_TRUE(renewed == Snapshot());
    run = RunTool({"yenile", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), Path("bos")});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find("yayımlanmış bir bildirim yok")) << run.err;
    EXPECT_FALSE(FileExists(Path("bos")));
}
