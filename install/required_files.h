#pragma once

// The files every version directory must hold, in the order they are checked. Portable, so that
// the release tool refuses a release the setup would find incomplete.
constexpr int kRequiredFileCount = 6;
extern const wchar_t *const RequiredFiles[kRequiredFileCount];
