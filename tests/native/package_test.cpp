#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "release/digest.h"
#include "release/package_format.h"
#include "test_support.h"
#include "lzms/lzms.h"
#include "tools/yayin/yayin.h"

namespace {

using PackageBuild = ToolTest;
using PackageExtract = ToolTest;

std::string Sha256(const std::string &bytes)
{
    uint8_t digest[32];
    EXPECT_EQ(StatusOk, Sha256Buffer((const uint8_t *)bytes.data(), (uint32_t)bytes.size(), digest));
    return std::string((const char *)digest, 32);
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, 0);
    for (char &c : bytes)
        c = (char)generator();
    return bytes;
}

// Text that LZMS shrinks well but not to nothing: numbered lines.
std::string TextBytes(size_t size)
{
    std::string text;
    for (unsigned line = 0; text.size() < size; line++)
        text += "satır " + std::to_string(line * 7919u % 100003u) + ": kurulum dosyası\n";
    text.resize(size);
    return text;
}

std::string U32(uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; i++)
        bytes += (char)(value >> (8 * i));
    return bytes;
}

// One entry with every field given, digest included.
std::string RawEntry(const std::string &name, uint32_t size, uint8_t method, const std::string &digest,
                     const std::string &stored)
{
    std::string entry;
    entry += (char)(name.size() & 0xff);
    entry += (char)(name.size() >> 8);
    return entry + name + U32(size) + U32((uint32_t)stored.size()) + (char)method + digest + stored;
}

std::string StoredEntry(const std::string &name, const std::string &content)
{
    return RawEntry(name, (uint32_t)content.size(), kPackageMethodStored, Sha256(content), content);
}

// Method 1 data whose only chunk is stored as it is: valid buffer framing for any content.
std::string FramedStored(const std::string &content)
{
    uint8_t header[kLzmsBufferHeaderSize];
    WriteLzmsBufferHeader(header, content.size(), kLzmsBufferChunkSize);
    return std::string((const char *)header, sizeof header) + U32((uint32_t)content.size()) + content;
}

std::string Package(uint32_t count, const std::vector<std::string> &entries)
{
    std::string package = std::string(kPackageMagic, sizeof kPackageMagic) + U32(count);
    for (const std::string &entry : entries)
        package += entry;
    return package;
}

// Every file (with its bytes) and folder (as "<klasör>") below `root`, by relative path.
std::map<std::string, std::string> Tree(const std::string &root)
{
    std::map<std::string, std::string> tree;
    for (const auto &item : std::filesystem::recursive_directory_iterator(root)) {
        std::string relative = item.path().string().substr(root.size() + 1);
        tree[relative] = item.is_directory() ? "<klasör>" : ReadFileBytes(item.path().string());
    }
    return tree;
}

struct ShownEntry {
    std::string name;
    int method;
    uint64_t size;
    uint64_t stored;
    std::string digest_hex;
};

std::vector<ShownEntry> ShownEntries(const std::string &output)
{
    std::vector<ShownEntry> entries;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end - start);
        start = end + 1;
        EXPECT_EQ(0u, line.rfind("girdi=", 0)) << line;
        std::vector<std::string> fields;
        for (size_t from = 6;;) {
            size_t bar = line.find('|', from);
            fields.push_back(line.substr(from, bar - from));
            if (bar == std::string::npos)
                break;
            from = bar + 1;
        }
        EXPECT_EQ(5u, fields.size()) << line;
        if (fields.size() == 5)
            entries.push_back({fields[0], std::stoi(fields[1]), std::stoull(fields[2]), std::stoull(fields[3]),
                               fields[4]});
    }
    return entries;
}

std::string Hex(const std::string &bytes)
{
    return HexDigest((const uint8_t *)bytes.data());
}

} // namespace

TEST(CompressLzmsBuffer, FramesIndependentChunksAndStoresOnesThatDoNotShrink)
{
    // Two chunks: 64 MiB of zeros that shrink, then random bytes that do not and are stored.
    const std::string tail = RandomBytes(1000, 1);
    std::string input(kLzmsBufferChunkSize, '\0');
    input += tail;
    std::vector<uint8_t> framed;
    ASSERT_EQ(StatusOk, CompressLzmsBuffer((const uint8_t *)input.data(), input.size(), &framed));
    const std::string bytes(framed.begin(), framed.end());
    uint64_t total = 0;
    ASSERT_TRUE(ReadLzmsBufferSize(framed.data(), framed.size(), &total));
    EXPECT_EQ(input.size(), total);
    EXPECT_EQ(kLzmsBufferChunkSize, LittleEndianAt(bytes, 16, 8));
    uint64_t first = LittleEndianAt(bytes, 24, 4);
    ASSERT_LT(first, 4096u);
    size_t second = 28 + first;
    EXPECT_EQ(tail.size(), LittleEndianAt(bytes, second, 4));
    EXPECT_EQ(tail, bytes.substr(second + 4));

    std::vector<uint8_t> decoded(input.size());
    ASSERT_TRUE(DecodeLzmsBuffer(framed.data(), framed.size(), decoded.data(), decoded.size()));
    EXPECT_TRUE(memcmp(input.data(), decoded.data(), input.size()) == 0);

    // One byte cannot shrink: the chunk is stored.
    ASSERT_EQ(StatusOk, CompressLzmsBuffer((const uint8_t *)"x", 1, &framed));
    EXPECT_EQ(FramedStored("x"), std::string(framed.begin(), framed.end()));
}

TEST_F(PackageBuild, UnpacksToTheSameTreeAndBuildsTheSameBytesTwice)
{
    const std::map<std::string, std::string> files = {
        {"program.exe", TextBytes(4 << 20)},
        {"araclar/talvor-yayin", ReadFileBytes(TALVOR_YAYIN_PATH)}, // machine code: the x86 translation
        {"bos.txt", ""},
        {"bir", "1"},
        {"rastgele.bin", RandomBytes(70000, 2)},
        {"lib/a.dll", TextBytes(3000)},
        {"lib/alt/derin/b.dat", RandomBytes(10, 3)},
        {"lib/alt/c.txt", TextBytes(100000)},
        {"belgeler/\xc3\xbc" "ye \xc4\x9f" "\xc4\xb1.txt", TextBytes(500)},
        {"a.txt", "nokta '/' den önce sıralanır"},
    };
    // The same files twice, created in opposite orders so that the folders list them differently.
    for (const char *copy : {"kaynak", "kopya"}) {
        ASSERT_TRUE(std::filesystem::create_directories(Path(copy) + "/bos/klasor"));
        std::vector<std::pair<std::string, std::string>> order(files.begin(), files.end());
        if (strcmp(copy, "kopya") == 0)
            std::reverse(order.begin(), order.end());
        for (const auto &file : order) {
            std::filesystem::create_directories(std::filesystem::path(Path(copy) + "/" + file.first).parent_path());
            ASSERT_TRUE(WriteFileBytes(Path(copy) + "/" + file.first, file.second));
        }
    }

    ToolRun run = RunTool({"paket-yap", "--surum=2.1.0", Path("kaynak"), Path("paket-2.1.0.tpk")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    const std::string package = ReadFileBytes(Path("paket-2.1.0.tpk"));
    const std::string component =
        "--bilesen=program|2.1.0|" + Hex(Sha256(package)) + "|" + std::to_string(package.size()) + "|paket-2.1.0.tpk";
    EXPECT_EQ(component + "\n", run.out);
    ASSERT_EQ(0, RunTool({"paket-yap", "--surum=2.1.0", Path("kopya"), Path("kopya.tpk")}).exit_code);
    EXPECT_TRUE(package == ReadFileBytes(Path("kopya.tpk")));

    // The listing: byte order of the names, method 1 only where it is smaller, digests of the files.
    run = RunTool({"paket-goster", Path("paket-2.1.0.tpk")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    std::vector<ShownEntry> shown = ShownEntries(run.out);
    ASSERT_EQ(files.size(), shown.size()) << run.out;
    auto file = files.begin();
    uint64_t expected_size = kPackageHeaderSize;
    for (const ShownEntry &entry : shown) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(file->first, entry.name);
        EXPECT_EQ(file->second.size(), entry.size);
        EXPECT_EQ(Hex(Sha256(file->second)), entry.digest_hex);
        if (entry.method == 1) {
            EXPECT_LT(entry.stored, entry.size);
        } else {
            EXPECT_EQ(entry.size, entry.stored);
        }
        expected_size += kEntryOverhead + entry.name.size() + entry.stored;
        file++;
    }
    EXPECT_EQ(package.size(), expected_size);
    const std::map<std::string, int> methods = {{"program.exe", 1}, {"araclar/talvor-yayin", 1}, {"lib/alt/c.txt", 1},
                                                {"bos.txt", 0},     {"bir", 0},                  {"rastgele.bin", 0},
                                                {"lib/alt/derin/b.dat", 0}};
    for (const ShownEntry &entry : shown) {
        if (methods.count(entry.name) > 0) {
            EXPECT_EQ(methods.at(entry.name), entry.method) << entry.name;
        }
    }

    run = RunTool({"paket-ac", Path("paket-2.1.0.tpk"), Path("acilan")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("dosya=" + std::to_string(files.size()) + "\n", run.out);
    std::map<std::string, std::string> source = Tree(Path("kaynak"));
    source.erase("bos");
    source.erase("bos/klasor"); // folders without files do not travel
    EXPECT_TRUE(source == Tree(Path("acilan")));

    // The printed line is what the manifest writer takes.
    run = RunTool({"bildirim-yaz", "--anahtar=" + RepositoryPath("keys/dev-release.pem"), "--cikti=" + Path("b.tdb"),
                   component});
    EXPECT_EQ(0, run.exit_code) << run.err;
}

TEST_F(PackageBuild, BuildsTheSameBytesOnOneThreadAsOnFour)
{
    // Entries of every kind, one of three chunks whose last is short, so that the workers
    // finish out of order.
    std::string chunks(2 * (size_t)kLzmsBufferChunkSize, '\0');
    chunks += TextBytes(5000);
    const std::map<std::string, std::string> files = {
        {"buyuk.dat", chunks},         {"program.exe", TextBytes(3 << 20)}, {"bos.txt", ""},
        {"rastgele.bin", RandomBytes(70000, 5)}, {"lib/a.dll", TextBytes(3000)}, {"z", "z"},
    };
    for (const auto &file : files) {
        std::filesystem::create_directories(std::filesystem::path(Path("k/" + file.first)).parent_path());
        ASSERT_TRUE(WriteFileBytes(Path("k/" + file.first), file.second));
    }
    for (const char *workers : {"--is=1", "--is=4"}) {
        ToolRun run = RunTool({"paket-yap", "--surum=1.0.0", workers, Path("k"), Path(workers + 5) + ".tpk"});
        ASSERT_EQ(0, run.exit_code) << run.err;
    }
    const std::string package = ReadFileBytes(Path("1.tpk"));
    EXPECT_TRUE(package == ReadFileBytes(Path("4.tpk")));
    ToolRun run = RunTool({"paket-goster", Path("4.tpk")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    for (const ShownEntry &entry : ShownEntries(run.out)) {
        if (entry.name == "buyuk.dat") {
            EXPECT_EQ(1, entry.method);
        }
    }
    ASSERT_EQ(0, RunTool({"paket-ac", Path("4.tpk"), Path("acilan")}).exit_code);
    EXPECT_TRUE(Tree(Path("k")) == Tree(Path("acilan")));
}

TEST_F(PackageBuild, RefusesWhatNoSetupCouldUnpackWithTheReasonAndLeavesNoPackage)
{
    const struct {
        const char *what;
        void (*make)(const std::string &folder);
        std::string message; // the offending path below the folder, then the reason
    } cases[] = {
        {"link to a file", [](const std::string &f) { ASSERT_EQ(0, symlink("a.txt", (f + "/bag").c_str())); },
         "/bag: sembolik bağlantı"},
        {"link to a folder",
         [](const std::string &f) { ASSERT_EQ(0, symlink("/tmp", (f + "/d/bag").c_str())); },
         "/d/bag: sembolik bağlantı"},
        {"named pipe", [](const std::string &f) { ASSERT_EQ(0, mkfifo((f + "/boru").c_str(), 0600)); },
         "/boru: normal bir dosya ya da klasör değil"},
        {"colon", [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/d/a:b", "x")); }, "/d/a:b: girdi adı"},
        {"trailing dot", [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/nokta.", "x")); },
         "/nokta.: girdi adı"},
        {"control character", [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/a\nb", "x")); },
         "/a\\x0ab: girdi adı"},
        {"not UTF-8", [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/\xff", "x")); },
         "/\xff: girdi adı geçerli UTF-8 olmalı"},
        {"device name", [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/d/nul.txt", "x")); },
         "/d/nul.txt: girdi adı"},
        {"name of 241 bytes",
         [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/d/" + std::string(239, 'u'), "x")); },
         "/d/" + std::string(239, 'u') + ": girdi adı"},
        {"names equal but for case", [](const std::string &f) { ASSERT_TRUE(WriteFileBytes(f + "/A.TXT", "x")); },
         "\"A.TXT\" ile \"a.txt\" Windows'ta aynı yolu gösterir"},
        {"file over 512 MiB",
         [](const std::string &f) { ASSERT_EQ(0, truncate((f + "/a.txt").c_str(), 536870913)); },
         "/a.txt: 536870912 bayttan büyük"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(Path("k"));
        std::filesystem::create_directories(Path("k/d"));
        ASSERT_TRUE(WriteFileBytes(Path("k/a.txt"), "iyi dosya"));
        c.make(Path("k"));
        ToolRun run = RunTool({"paket-yap", "--surum=1.0.0", Path("k"), Path("p.tpk")});
        EXPECT_EQ(1, run.exit_code);
        EXPECT_EQ("", run.out);
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        EXPECT_EQ(std::vector<std::string>{"k"}, Entries());
    }
}

TEST_F(PackageBuild, CarriesAtMost4096FilesAndNeedsOne)
{
    ASSERT_TRUE(std::filesystem::create_directories(Path("k/bos/alt")));
    ToolRun run = RunTool({"paket-yap", "--surum=1.0.0", Path("k"), Path("p.tpk")});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find(Path("k") + " içinde hiç dosya yok")) << run.err;

    for (int i = 0; i < 4096; i++)
        ASSERT_TRUE(WriteFileBytes(Path("k/" + std::to_string(i)), ""));
    run = RunTool({"paket-yap", "--surum=1.0.0", Path("k"), Path("p.tpk")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    const std::string package = ReadFileBytes(Path("p.tpk"));
    EXPECT_EQ(4096u, LittleEndianAt(package, 4, 4));

    ASSERT_TRUE(WriteFileBytes(Path("k/bos/alt/fazla"), ""));
    run = RunTool({"paket-yap", "--surum=1.0.0", Path("k"), Path("p.tpk")});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_NE(std::string::npos, run.err.find("4096'dan fazla dosya")) << run.err;
    EXPECT_TRUE(package == ReadFileBytes(Path("p.tpk")));
    EXPECT_EQ((std::vector<std::string>{"k", "p.tpk"}), Entries());
}

TEST(AppendPackageEntry, StopsAtTheLargestPackage)
{
    const std::string name = "son.bin";
    const std::string random = RandomBytes(100, 4);
    const std::vector<uint8_t> data(random.begin(), random.end());
    // A package one entry short of exactly 512 MiB takes it; one byte more does not.
    const size_t room = kPackageMaxSize - kEntryOverhead - name.size() - data.size();
    std::vector<uint8_t> package;
    package.reserve(kPackageMaxSize + 1);
    package.assign(room, 0);
    ASSERT_EQ(StatusOk, AppendPackageEntry("k", name, data, &package));
    EXPECT_EQ(kPackageMaxSize, package.size());
    package.assign(room + 1, 0);
    EXPECT_EQ(StatusInvalid, AppendPackageEntry("k", name, data, &package));
    EXPECT_EQ(room + 1, package.size());
}

TEST_F(PackageExtract, RefusesMalformedPackagesAndRemovesWhatItWrote)
{
    const std::string good = StoredEntry("ilk.txt", "ilk dosya");
    const std::string content = "ikinci dosya";
    const std::string wrong_digest = Sha256("başka");
    const std::string text = TextBytes(20000);
    std::vector<uint8_t> framed;
    ASSERT_EQ(StatusOk, CompressLzmsBuffer((const uint8_t *)text.data(), text.size(), &framed));
    const std::string lzms(framed.begin(), framed.end());
    ASSERT_LT(lzms.size(), text.size() / 4); // really compressed, not stored
    std::string damaged = lzms;
    damaged[lzms.size() / 2] ^= 0x10;
    const struct {
        const char *what;
        std::string package;
        std::string message;
    } cases[] = {
        {"empty file", "", "TPK1 ile başlamıyor"},
        {"file over 512 MiB", "büyük", "536870912 bayttan büyük"},
        {"header cut short", Package(1, {}).substr(0, 7), "TPK1 ile başlamıyor"},
        {"wrong magic", "TPK2" + U32(1) + good, "TPK1 ile başlamıyor"},
        {"count 0", Package(0, {}), "girdi sayısı 0"},
        {"count 4097", Package(4097, {good}), "girdi sayısı 4097"},
        {"fewer entries than counted", Package(2, {good}), "2. girdi: dosya girdinin başında bitiyor"},
        {"cut inside the fields", Package(1, {good.substr(0, 20)}), "1. girdi: dosya girdinin alanlarından önce"},
        {"cut inside the stored bytes", Package(1, {good.substr(0, good.size() - 1)}), "sonunu aşıyor"},
        {"trailing byte", Package(1, {good}) + "x", "son girdiden sonra 1 bayt fazla"},
        {"name length 0", Package(1, {RawEntry("", 0, 0, Sha256(""), "")}), "ad uzunluğu 0"},
        {"name length 241", Package(1, {StoredEntry(std::string(241, 'a'), "")}), "ad uzunluğu 241"},
        {"parent folder", Package(1, {StoredEntry("../kacak.txt", "x")}), "\"../kacak.txt\": girdi adı"},
        {"backslash", Package(1, {StoredEntry("a\\b", "x")}), "\"a\\\\b\": girdi adı"},
        {"absolute", Package(1, {StoredEntry("/tmp/kacak", "x")}), "girdi adı"},
        {"not UTF-8", Package(1, {StoredEntry("\xc0\xaf", "x")}), "geçerli UTF-8"},
        {"device", Package(1, {StoredEntry("CON.txt", "x")}), "aygıt adı"},
        {"same name twice", Package(2, {good, good}), "\"ilk.txt\" ile \"ilk.txt\""},
        {"names equal but for case", Package(2, {good, StoredEntry("ILK.txt", "x")}), "\"ilk.txt\" ile \"ILK.txt\""},
        {"file where a folder is needed", Package(2, {good, StoredEntry("ilk.txt/a", "x")}), "aynı yolu gösterir"},
        {"method 2", Package(1, {RawEntry("a", 1, 2, Sha256("x"), "x")}), "yöntem 2"},
        {"method 0 with differing sizes", Package(1, {RawEntry("a", 2, 0, Sha256("x"), "x")}),
         "yöntem 0 ama saklanan 1 bayt, açılmış 2 bayt"},
        {"unpacked size over 512 MiB",
         Package(1, {RawEntry("a", 536870913, 1, Sha256("x"), FramedStored("x"))}), "açılmış boyut 536870913"},
        {"digest mismatch", Package(2, {good, RawEntry("b", 12, 0, wrong_digest, content)}),
         "\"b\" SHA-256 özeti tutmuyor"},
        {"digest of the compressed bytes",
         Package(2, {good, RawEntry("b", 12, 1, Sha256(FramedStored(content)), FramedStored(content))}),
         "\"b\" SHA-256 özeti tutmuyor"},
        {"digest of the compressed LZMS bytes",
         Package(2, {good, RawEntry("b", (uint32_t)text.size(), 1, Sha256(lzms), lzms)}), "\"b\" SHA-256 özeti tutmuyor"},
        {"digest of other bytes", Package(2, {good, RawEntry("b", (uint32_t)text.size(), 1, wrong_digest, lzms)}),
         "\"b\" SHA-256 özeti tutmuyor"},
        {"damaged LZMS chunk", Package(2, {good, RawEntry("b", (uint32_t)text.size(), 1, Sha256(text), damaged)}),
         "geçersiz paket: \"b\" "},
        {"LZMS data of another size",
         Package(2, {good, RawEntry("b", 13, 1, Sha256(content + "x"), FramedStored(content))}),
         "\"b\" LZMS verisi 13 bayta açılmıyor"},
        {"LZMS data that is not framed",
         Package(2, {good, RawEntry("b", 12, 1, Sha256(content), U32(12) + content)}), "LZMS verisi"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileBytes(Path("p.tpk"), c.package));
        if (c.package == "büyük") {
            ASSERT_EQ(0, truncate(Path("p.tpk").c_str(), kPackageMaxSize + 1));
        }
        ToolRun run = RunTool({"paket-ac", Path("p.tpk"), Path("hedef")});
        EXPECT_EQ(1, run.exit_code);
        EXPECT_EQ("", run.out);
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        EXPECT_EQ(std::vector<std::string>{"p.tpk"}, Entries());
        EXPECT_FALSE(FileExists("/tmp/kacak"));
    }
}

TEST_F(PackageExtract, UnpacksEveryValidFormAndNeverIntoAnExistingFolder)
{
    // Method 1 with a stored chunk, an empty file, names of 240 bytes, nested folders.
    const std::string long_name = std::string(120, 'd') + "/" + std::string(119, 'f');
    const std::string package =
        Package(4, {StoredEntry("bos", ""), RawEntry("a/b/c.dll", 5, 1, Sha256("abcde"), FramedStored("abcde")),
                    StoredEntry(long_name, "uzun"), StoredEntry("a/d.txt", "d")});
    ASSERT_TRUE(WriteFileBytes(Path("p.tpk"), package));
    ToolRun run = RunTool({"paket-ac", Path("p.tpk"), Path("hedef")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("dosya=4\n", run.out);
    const std::map<std::string, std::string> expected = {
        {"bos", ""},       {"a", "<klasör>"}, {"a/b", "<klasör>"},      {"a/b/c.dll", "abcde"},
        {"a/d.txt", "d"},  {std::string(120, 'd'), "<klasör>"},          {long_name, "uzun"}};
    EXPECT_TRUE(expected == Tree(Path("hedef")));

    run = RunTool({"paket-goster", Path("p.tpk")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("girdi=bos|0|0|0|" + Hex(Sha256("")) + "\n" + "girdi=a/b/c.dll|1|5|33|" + Hex(Sha256("abcde")) + "\n" +
                  "girdi=" + long_name + "|0|4|4|" + Hex(Sha256("uzun")) + "\n" + "girdi=a/d.txt|0|1|1|" +
                  Hex(Sha256("d")) + "\n",
              run.out);

    // A second unpacking into the same folder, or onto a file or a link, is refused untouched.
    ASSERT_TRUE(WriteFileBytes(Path("dosya"), "kalır"));
    ASSERT_EQ(0, symlink(Path("yok").c_str(), Path("bag").c_str()));
    for (const char *target : {"hedef", "dosya", "bag"}) {
        SCOPED_TRACE(target);
        run = RunTool({"paket-ac", Path("p.tpk"), Path(target)});
        EXPECT_EQ(1, run.exit_code);
        EXPECT_NE(std::string::npos, run.err.find(Path(target) + " zaten var")) << run.err;
    }
    EXPECT_TRUE(expected == Tree(Path("hedef")));
    EXPECT_EQ("kalır", ReadFileBytes(Path("dosya")));
    EXPECT_FALSE(FileExists(Path("yok")));

    // Malformed listings are refused like unpacking.
    ASSERT_TRUE(WriteFileBytes(Path("p.tpk"), package + "x"));
    run = RunTool({"paket-goster", Path("p.tpk")});
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("son girdiden sonra 1 bayt fazla")) << run.err;
}

TEST_F(PackageBuild, CommandLineMistakesExitWithTwoAndWriteNothing)
{
    ASSERT_TRUE(std::filesystem::create_directories(Path("k")));
    ASSERT_TRUE(WriteFileBytes(Path("k/a"), "a"));
    const std::string folder = Path("k");
    const std::string package = Path("p.tpk");
    const std::vector<std::string> cases[] = {
        {"paket-yap", folder, package},
        {"paket-yap", "--surum=1.0.0", folder},
        {"paket-yap", "--surum=1.0.0", folder, package, Path("fazla")},
        {"paket-yap", "--surum=1.0", folder, package},
        {"paket-yap", "--surum=1.0.0", "--ad=on-alti-baytlik-ad", folder, package},
        {"paket-yap", "--surum=1.0.0", "--ad=a|b", folder, package},
        {"paket-yap", "--surum=1.0.0", folder, Path("p.zip")},
        {"paket-yap", "--surum=1.0.0", folder, Path("a..b.tpk")},
        {"paket-yap", "--surum=1.0.0", "--fazla=1", folder, package},
        {"paket-yap", "--surum=1.0.0", "--sessiz=evet", folder, package},
        {"paket-yap", "--surum=1.0.0", "--is=0", folder, package},
        {"paket-yap", "--surum=1.0.0", "--is=iki", folder, package},
        {"paket-goster"},
        {"paket-goster", package, package},
        {"paket-ac", package},
        {"paket-ac", package, Path("h"), Path("fazla")},
        {"paket-ac", "--ad=x", package, Path("h")},
    };
    for (const auto &args : cases) {
        ExpectUsageError(args);
        EXPECT_EQ(std::vector<std::string>{"k"}, Entries());
    }
    ToolRun run = RunTool({"paket-yap", "--surum=3.0.1", "--ad=arac", folder, Path("arac.tpk")});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ(0u, run.out.rfind("--bilesen=arac|3.0.1|", 0)) << run.out;
    // A package is a product of its folder: building again replaces it.
    ASSERT_TRUE(WriteFileBytes(Path("k/b"), "b"));
    ASSERT_EQ(0, RunTool({"paket-yap", "--surum=3.0.1", folder, Path("arac.tpk")}).exit_code);
    EXPECT_EQ(2u, LittleEndianAt(ReadFileBytes(Path("arac.tpk")), 4, 4));
    EXPECT_EQ((std::vector<std::string>{"arac.tpk", "k"}), Entries());
}
