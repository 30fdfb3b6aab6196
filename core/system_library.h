#pragma once

#include <windows.h>

// Returns the address of `name` in the system DLL `dll`, loading the DLL from the system folder
// only, or null. Libraries outside the KnownDLLs (bcrypt, winhttp, cabinet, comctl32) are loaded
// this way on first use so that a DLL planted beside the setup is never picked up. The DLL stays
// loaded for the life of the process, so the address stays valid. On null, *error (when given)
// receives the failed load's or lookup's error; on success it is left as it was.
FARPROC LoadSystemProc(const wchar_t *dll, const char *name, DWORD *error = nullptr);

// The same, typed: LoadSystemFunction<decltype(&BCryptHash)>(L"bcrypt.dll", "BCryptHash").
template <typename Fn>
Fn LoadSystemFunction(const wchar_t *dll, const char *name, DWORD *error = nullptr)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(LoadSystemProc(dll, name, error)));
}
