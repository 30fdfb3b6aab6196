// The Compression API as the setup meets it: cabinet.dll from the system folder only, its
// functions through GetProcAddress, the Windows samples and the documented failures. On Windows
// it is the machine's own, under Wine our stand-in; what the stand-in chose where Windows'
// documentation leaves it open is checked under Wine only. The kit's releases go through the
// machine's own API with the checker, in the runner's "denetle" (tools/kit/calistir.cpp), the one
// place that decodes them on Windows.
#include <windows.h>

#include <compressapi.h>

#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

#ifndef ERROR_BAD_COMPRESSION_BUFFER
#define ERROR_BAD_COMPRESSION_BUFFER 605L
#endif

namespace {

typedef BOOL(WINAPI *CreateDecompressorProc)(DWORD, PCOMPRESS_ALLOCATION_ROUTINES, PDECOMPRESSOR_HANDLE);
typedef BOOL(WINAPI *DecompressProc)(DECOMPRESSOR_HANDLE, PVOID, SIZE_T, PVOID, SIZE_T, PSIZE_T);
typedef BOOL(WINAPI *CloseDecompressorProc)(DECOMPRESSOR_HANDLE);

const wchar_t *const kSampleNames[] = {L"english", L"pattern", L"random", L"sequential", L"single_byte", L"small", L"zeros"};

std::string ReadSample(const wchar_t *name, const wchar_t *extension)
{
    return ReadFileBytes(SourceFile(std::wstring(L"tests/data/compress-api-lzms/") + name + L"." + extension));
}

class CompressApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HMODULE cabinet = LoadLibraryExW(L"cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        ASSERT_NE(nullptr, cabinet);
        create_ = (CreateDecompressorProc)(void *)GetProcAddress(cabinet, "CreateDecompressor");
        decompress_ = (DecompressProc)(void *)GetProcAddress(cabinet, "Decompress");
        close_ = (CloseDecompressorProc)(void *)GetProcAddress(cabinet, "CloseDecompressor");
        ASSERT_TRUE(create_ != nullptr && decompress_ != nullptr && close_ != nullptr)
            << "the system folder's cabinet.dll has no Compression API";
        ASSERT_TRUE(create_(COMPRESS_ALGORITHM_LZMS, nullptr, &handle_));
    }
    void TearDown() override
    {
        if (handle_ != nullptr) {
            EXPECT_TRUE(close_(handle_));
        }
    }

    // Decompress into a buffer of `capacity` bytes (none when 0); the error is 0 on success.
    bool Run(const std::string &data, size_t capacity, std::string *out, SIZE_T *size, DWORD *error)
    {
        out->assign(capacity, '\xcc');
        *size = 12345;
        SetLastError(0);
        BOOL ok = decompress_(handle_, (PVOID)data.data(), data.size(), capacity ? &(*out)[0] : nullptr, capacity, size);
        *error = ok ? 0 : GetLastError();
        return ok != FALSE;
    }

    CreateDecompressorProc create_ = nullptr;
    DecompressProc decompress_ = nullptr;
    CloseDecompressorProc close_ = nullptr;
    DECOMPRESSOR_HANDLE handle_ = nullptr;
};

} // namespace

TEST_F(CompressApiTest, WindowsSamplesDecodeByteForByteAfterTheSizeQuery)
{
    for (const wchar_t *name : kSampleNames) {
        SCOPED_TRACE(Utf8(name));
        std::string data = ReadSample(name, L"lzms"), raw = ReadSample(name, L"raw");
        ASSERT_FALSE(raw.empty());
        std::string out;
        SIZE_T size;
        DWORD error;
        EXPECT_FALSE(Run(data, 0, &out, &size, &error));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, error);
        EXPECT_EQ(raw.size(), size);

        ASSERT_TRUE(Run(data, raw.size(), &out, &size, &error)) << error;
        EXPECT_EQ(raw.size(), size);
        EXPECT_TRUE(out == raw);

        // A larger buffer is fine; the stand-in leaves the bytes after the data as they were,
        // which Windows does not promise.
        ASSERT_TRUE(Run(data, raw.size() + 100, &out, &size, &error)) << error;
        EXPECT_EQ(raw.size(), size);
        EXPECT_TRUE(out.compare(0, raw.size(), raw) == 0);
        if (RunningUnderWine()) {
            EXPECT_EQ(std::string(100, '\xcc'), out.substr(raw.size()));
        }
    }
}

TEST_F(CompressApiTest, AShortBufferFailsWithTheSizeNeeded)
{
    std::string data = ReadSample(L"english", L"lzms"), raw = ReadSample(L"english", L"raw");
    std::string out;
    SIZE_T size;
    DWORD error;
    EXPECT_FALSE(Run(data, raw.size() - 1, &out, &size, &error));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, error);
    EXPECT_EQ(raw.size(), size);
}

// Windows documents that damaged data "can" fail with ERROR_BAD_COMPRESSION_BUFFER or decode to
// other bytes, and nothing of bad handles or algorithm values: the codes are the stand-in's.
TEST_F(CompressApiTest, TheStandInRefusesBadDataHandlesAndAlgorithmsWithItsCodes)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "the stand-in's own error codes, where Windows' documentation leaves them open";
    std::string data = ReadSample(L"english", L"lzms"), raw = ReadSample(L"english", L"raw");
    std::string out;
    SIZE_T size;
    DWORD error;
    std::string damaged[] = {data.substr(0, data.size() - 1), data + '\0', data.substr(0, 23), std::string(),
                             data};
    damaged[4][6] ^= 1; // the check byte
    for (const std::string &bad : damaged) {
        EXPECT_FALSE(Run(bad, raw.size(), &out, &size, &error)) << bad.size();
        EXPECT_EQ((DWORD)ERROR_BAD_COMPRESSION_BUFFER, error) << bad.size();
        EXPECT_EQ(0u, size);
    }

    EXPECT_FALSE(decompress_(nullptr, (PVOID)data.data(), data.size(), &out[0], out.size(), &size));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(close_(nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());

    for (DWORD algorithm : {COMPRESS_ALGORITHM_INVALID, COMPRESS_ALGORITHM_NULL, COMPRESS_ALGORITHM_MAX}) {
        DECOMPRESSOR_HANDLE handle = (DECOMPRESSOR_HANDLE)1;
        EXPECT_FALSE(create_(algorithm, nullptr, &handle)) << algorithm;
        EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << algorithm;
        EXPECT_EQ(nullptr, handle);
    }
    EXPECT_FALSE(create_(COMPRESS_ALGORITHM_LZMS, nullptr, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

// Windows has every documented algorithm in buffer mode and, with COMPRESS_RAW, in block mode;
// the stand-in only what the setup uses, LZMS in buffer mode, and refuses the rest.
TEST_F(CompressApiTest, TheDocumentedAlgorithmsAndModes)
{
    const struct {
        DWORD algorithm;
        DWORD standin_error;
    } cases[] = {{COMPRESS_ALGORITHM_LZMS, ERROR_SUCCESS},
                 {COMPRESS_ALGORITHM_MSZIP, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_XPRESS, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_XPRESS_HUFF, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_LZMS | COMPRESS_RAW, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_MSZIP | COMPRESS_RAW, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_XPRESS | COMPRESS_RAW, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_XPRESS_HUFF | COMPRESS_RAW, ERROR_NOT_SUPPORTED}};
    for (const auto &c : cases) {
        DECOMPRESSOR_HANDLE handle = (DECOMPRESSOR_HANDLE)1;
        BOOL created = create_(c.algorithm, nullptr, &handle);
        DWORD error = created ? ERROR_SUCCESS : GetLastError();
        EXPECT_EQ(RunningUnderWine() ? c.standin_error : ERROR_SUCCESS, error) << c.algorithm;
        if (created) {
            EXPECT_TRUE(close_(handle)) << c.algorithm;
        } else {
            EXPECT_EQ(nullptr, handle) << c.algorithm;
        }
    }
}

// The setup passes no allocation routines, and how often Windows calls them is its own affair.
TEST_F(CompressApiTest, TheStandInHoldsItsHandleInOneAllocationOfTheCaller)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "the stand-in's one allocation per handle; Windows allocates as it sees fit";
    struct Counts {
        int allocated, freed;
    } counts = {0, 0};
    COMPRESS_ALLOCATION_ROUTINES routines = {
        [](PVOID context, SIZE_T size) -> PVOID {
            ((Counts *)context)->allocated++;
            return HeapAlloc(GetProcessHeap(), 0, size);
        },
        [](PVOID context, PVOID memory) {
            ((Counts *)context)->freed++;
            HeapFree(GetProcessHeap(), 0, memory);
        },
        &counts};
    DECOMPRESSOR_HANDLE handle = nullptr;
    ASSERT_TRUE(create_(COMPRESS_ALGORITHM_LZMS, &routines, &handle));
    std::string data = ReadSample(L"zeros", L"lzms"), out(4096, '\x01');
    SIZE_T size = 0;
    EXPECT_TRUE(decompress_(handle, (PVOID)data.data(), data.size(), &out[0], out.size(), &size));
    EXPECT_EQ(std::string(4096, '\0'), out);
    EXPECT_TRUE(close_(handle));
    EXPECT_EQ(1, counts.allocated);
    EXPECT_EQ(1, counts.freed);
}

// Under Wine the stand-in is for our programs only, by name: the setup's and the checker's names
// get it, any other program gets Wine's own cabinet.dll, which has no Compression API. On Windows
// every program gets Windows' own, which has it.
TEST(CompressApiLoad, OurProgramsFindItInTheSystemFolder)
{
    std::wstring folder = MakeTempFolder(L"cabinet");
    ASSERT_FALSE(folder.empty());
    const struct {
        const wchar_t *name;
        long exit_code;
    } cases[] = {{L"Talvor-Kurulum.exe", 0}, {L"talvor-denetle.exe", 0}, {L"cabinet_probe.exe", 1}};
    for (const auto &c : cases) {
        std::wstring copy = folder + L"\\" + c.name;
        ASSERT_TRUE(CopyFileW(BuildPath(L"tests\\cabinet_probe.exe").c_str(), copy.c_str(), FALSE));
        EXPECT_EQ(RunningUnderWine() ? c.exit_code : 0, RunProgram(L"\"" + copy + L"\"")) << Utf8(c.name);
    }
    RemoveFolder(folder);
}
