#include "release/digest.h"

#include "core/setup_log.h"
#include "core/system_library.h"
#include "core/win_compat.h"

namespace {

const DWORD kReadSize = 65536;

template <typename Fn>
Fn Bcrypt(const char *name)
{
    return LoadSystemFunction<Fn>(L"bcrypt.dll", name);
}

// Hashes the open file in 64 KiB reads into `digest`; `path` names it in the log.
Status HashOpenFile(HANDLE file, const wchar_t *path, uint8_t *buffer, uint8_t digest[32])
{
    auto create = Bcrypt<decltype(&BCryptCreateHash)>("BCryptCreateHash");
    auto hash_data = Bcrypt<decltype(&BCryptHashData)>("BCryptHashData");
    auto finish = Bcrypt<decltype(&BCryptFinishHash)>("BCryptFinishHash");
    auto destroy = Bcrypt<decltype(&BCryptDestroyHash)>("BCryptDestroyHash");
    if (create == nullptr || hash_data == nullptr || finish == nullptr || destroy == nullptr)
        return StatusIoError;

    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(create(BCRYPT_SHA256_ALG_HANDLE, &hash, nullptr, 0, nullptr, 0, 0)))
        return StatusIoError;
    Status status = StatusOk;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, kReadSize, &got, nullptr)) {
            LogFailedCall("ReadFile", path, GetLastError());
            status = StatusIoError;
            break;
        }
        if (got == 0)
            break;
        if (!BCRYPT_SUCCESS(hash_data(hash, buffer, got, 0))) {
            status = StatusIoError;
            break;
        }
    }
    if (status == StatusOk && !BCRYPT_SUCCESS(finish(hash, digest, 32, 0)))
        status = StatusIoError;
    destroy(hash);
    return status;
}

} // namespace

Status Sha256Buffer(const uint8_t *data, uint32_t length, uint8_t digest[32])
{
    if (digest == nullptr || (data == nullptr && length != 0))
        return StatusInvalid;
    auto hash = Bcrypt<decltype(&BCryptHash)>("BCryptHash");
    if (hash == nullptr)
        return StatusIoError;
    static uint8_t empty;
    NTSTATUS result = hash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0, (PUCHAR)(data != nullptr ? data : &empty), length,
                           digest, 32);
    return BCRYPT_SUCCESS(result) ? StatusOk : StatusIoError;
}

Status Sha256File(const wchar_t *path, uint8_t digest[32])
{
    if (path == nullptr || digest == nullptr)
        return StatusInvalid;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        LogFailedCall("CreateFileW", path, error);
        return error == ERROR_FILE_NOT_FOUND ? StatusNotFound : StatusIoError;
    }
    uint8_t *buffer = (uint8_t *)HeapAlloc(GetProcessHeap(), 0, kReadSize);
    Status status = buffer == nullptr ? StatusNoMemory : HashOpenFile(file, path, buffer, digest);
    if (buffer != nullptr)
        HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(file);
    return status;
}
