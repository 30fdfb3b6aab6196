#pragma once

#include <windows.h>

#include <shlobj.h>

// The product's one shortcut, "Talvor.lnk" to the launcher in the install folder, kept in a
// known folder: FOLDERID_CommonPrograms and FOLDERID_PublicDesktop. The caller's thread has
// COM initialised as a single-threaded apartment.

// "<known folder>\Talvor.lnk"; false when the folder is unknown or the path does not fit 260.
bool ShortcutPath(REFKNOWNFOLDERID folder, wchar_t *out);
// Creates or overwrites the shortcut; true when it was saved.
bool CreateShortcut(REFKNOWNFOLDERID folder);
// Deletes the shortcut if there is one.
void DeleteShortcut(REFKNOWNFOLDERID folder);
