#pragma once

#include "release/component_list.h"

#include <stdint.h>

// The release's two files, obtained from the local folder or the update server and proven
// before anything of the installed product changes. On false the message has been reported.

// What the user is told when bildirim.tdb cannot be had from the local folder or the server; the
// release checker tells the same.
const wchar_t kManifestNotInFolderMessage[] = L"Kurulum klasöründe bildirim.tdb bulunamadı.";
const wchar_t kManifestNotFetchedMessage[] =
    L"Sürüm bilgisi alınamadı. İnternet bağlantını denetleyip kurulumu yeniden çalıştır.";

// Fetches and authenticates bildirim.tdb, takes its installable "program" entry and refuses it
// when it is expired or older than the manifest the installed product came from. On true, and
// when `manifest` is not null, the file's bytes are in a malloc'd buffer the caller frees: an
// install keeps them once it succeeded.
bool AcquireManifest(ProgramEntry *entry, uint8_t **manifest = nullptr, uint32_t *manifest_size = nullptr);

// Where an install keeps the manifest it came from: "<install folder>\bildirim.tdb". False when
// the path does not fit 260 characters.
bool KeptManifestPath(wchar_t *out);

// Fetches the package the entry names, saves it at `target` and checks the stored file's size
// and SHA-256 digest against the entry. On false no file is left at `target`.
bool AcquirePackage(const ProgramEntry *entry, const wchar_t *target);
