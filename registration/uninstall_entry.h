#pragma once

#include <stdint.h>

// Windows' list of installed programs reads the product from this key under HKEY_LOCAL_MACHINE.
extern const wchar_t kUninstallKey[];

// Creates or opens the uninstall key and writes its twelve values for the installed version
// (UTF-8 text); the size shown is that of its folder. Every value is attempted; true only when
// all were written.
bool WriteUninstallEntry(const wchar_t *version_folder, const char *version_text);
// Deletes the uninstall key with all its values; one already gone is no failure, any other is
// logged.
void DeleteUninstallEntry();

// Total size of the files below a folder; links are neither followed nor counted.
uint64_t DirectorySize(const wchar_t *folder);
