#include "app/single_instance.h"

#include "core/format.h"
#include "core/object_owner.h"

#include <sddl.h>

namespace {

// Only the system and administrators may open the lock, so that no program of a user can hold
// it (a leftover of a power cut included) and keep every setup out.
const wchar_t kLockSecurity[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Opens the lock file, held without delete sharing: a second setup's open for deletion fails with
// a sharing violation, and the file goes when the last handle closes, also when the process is
// ended. A file left by a power cut is opened and deleted the same way.
bool HoldLockFile(const wchar_t *install_folder)
{
    wchar_t path[300];
    PSECURITY_DESCRIPTOR security = nullptr;
    // The long-path form: the install folder itself may take nearly all of a plain path's room.
    if (FormatWide(path, 300, L"\\\\?\\%s-Kurulum.kilit", install_folder) < 0 ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSecurity, SDDL_REVISION_1, &security, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    HANDLE lock = CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    LocalFree(security);
    return lock != INVALID_HANDLE_VALUE;
}

} // namespace

InstanceClaim ClaimSingleInstance(const wchar_t *install_folder, HANDLE *mutex)
{
    *mutex = nullptr;
    if (!HoldLockFile(install_folder))
        return InstanceRunning;
    HANDLE global = CreateMutexW(nullptr, TRUE, L"Global\\Talvor-Kurulum");
    DWORD error = GetLastError();
    if (global != nullptr && error != ERROR_ALREADY_EXISTS) {
        *mutex = global;
        return InstanceAlone;
    }
    // Held by an older setup, which knows no lock file, or by a program that only took the name.
    bool setup = global != nullptr && IsTrustedOwner(global, SE_KERNEL_OBJECT, false);
    if (global != nullptr)
        CloseHandle(global);
    return setup ? InstanceRunning : InstanceNameSquatted;
}
