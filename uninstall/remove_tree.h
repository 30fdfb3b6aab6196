#pragma once

#include "core/status.h"

#include <windows.h>

// Result bits of RemoveTree.
enum : unsigned {
    ScheduledAtRestart = 1, // an entry or the folder itself was left to Windows for the next restart
    LinkNotFollowed = 2,    // a junction or symbolic link was met and only the link was removed
    OwnerRefused = 4,       // the top folder's owner, or its place, is not the one required; nothing was deleted
    PathTooLong = 8         // an entry's path, or a folder's listing, did not fit; it stays and the log names it
};

// Deletes a folder tree without following junctions or symbolic links: a link is removed as
// itself and its target keeps every file. With allow_restart, what cannot be deleted now is
// handed to Windows for deletion at the next restart; with require_trusted_owner, a top folder
// not owned by LocalSystem or the Administrators group is refused whole. A missing folder gives 0.
unsigned RemoveTree(const wchar_t *path, bool allow_restart, bool require_trusted_owner);

// RemoveTree, then logs a link met or an owner refused. True when something was left for
// deletion at the next restart.
bool RemoveTreeLogged(const wchar_t *path, bool allow_restart, bool require_trusted_owner);

// The removal, without deletion at restart, of a folder of the user's that the setup deletes with
// its own rights at a path the user's settings chose: only when the top folder is owned by `user`
// and lies, as Windows resolves it, inside the folder `profile` (a full path; empty when not
// known). Otherwise it stays whole and the log says so. True when it stayed so.
bool RemoveUserTreeLogged(const wchar_t *path, PSID user, const wchar_t *profile);

// The removal for the setup's own trees: deletion at restart allowed, no owner check. True when
// something was left for deletion at the next restart.
bool RemoveInstallTree(const wchar_t *path);

// The plain recursive delete for folders of the setup's own making: clears read-only files and
// deletes them, removes links inside the tree as links, and fails with StatusIoError when any
// entry stays (one whose path does not fit is named in the log). A folder already gone gives
// StatusOk.
Status DeleteTreePlain(const wchar_t *path);
