#pragma once

// Installs or updates the product from the release the options name. True on success; on
// failure the user's message is in Progress.result_text.
bool RunInstall();

// What the user is told when the package cannot be unpacked or lacks a required file; the
// release checker tells the same.
const wchar_t kPackageNotUnpackedMessage[] =
    L"Program paketi açılamadı ya da eksik. Bilgisayarında hiçbir şey değiştirilmedi.";
