// The Compression API stand-in as the setup meets it under Wine: cabinet.dll from the system
// folder only, its functions through GetProcAddress, the Windows samples and the documented
// failures.
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

        // A larger buffer is fine; the bytes after the data stay as they were.
        ASSERT_TRUE(Run(data, raw.size() + 100, &out, &size, &error)) << error;
        EXPECT_EQ(raw.size(), size);
        EXPECT_TRUE(out.compare(0, raw.size(), raw) == 0);
        EXPECT_EQ(std::string(100, '\xcc'), out.substr(raw.size()));
    }
}

TEST_F(CompressApiTest, ShortBuffersAndBadDataFailAsDocumented)
{
    std::string data = ReadSample(L"english", L"lzms"), raw = ReadSample(L"english", L"raw");
    std::string out;
    SIZE_T size;
    DWORD error;
    EXPECT_FALSE(Run(data, raw.size() - 1, &out, &size, &error));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, error);
    EXPECT_EQ(raw.size(), size);

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
}

TEST_F(CompressApiTest, OnlyLzmsInBufferModeIsImplemented)
{
    const struct {
        DWORD algorithm;
        DWORD error;
    } cases[] = {{COMPRESS_ALGORITHM_MSZIP, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_XPRESS, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_XPRESS_HUFF, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_LZMS | COMPRESS_RAW, ERROR_NOT_SUPPORTED},
                 {COMPRESS_ALGORITHM_INVALID, ERROR_INVALID_PARAMETER},
                 {COMPRESS_ALGORITHM_NULL, ERROR_INVALID_PARAMETER},
                 {COMPRESS_ALGORITHM_MAX, ERROR_INVALID_PARAMETER}};
    for (const auto &c : cases) {
        DECOMPRESSOR_HANDLE handle = (DECOMPRESSOR_HANDLE)1;
        EXPECT_FALSE(create_(c.algorithm, nullptr, &handle)) << c.algorithm;
        EXPECT_EQ(c.error, GetLastError()) << c.algorithm;
        EXPECT_EQ(nullptr, handle);
    }
    EXPECT_FALSE(create_(COMPRESS_ALGORITHM_LZMS, nullptr, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(CompressApiTest, TheCallersAllocationRoutinesHoldTheHandle)
{
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

// The stand-in is for our programs only, by name: the setup's and the checker's names get it,
// any other program gets Wine's own cabinet.dll.
TEST(CompressApiStandin, OnlyOurProgramsLoadIt)
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
        EXPECT_EQ(c.exit_code, RunProgram(L"\"" + copy + L"\"")) << Utf8(c.name);
    }
    RemoveFolder(folder);
}
