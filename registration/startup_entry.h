#pragma once

// The per-machine logon start-up list under HKEY_LOCAL_MACHINE, and the product's value in it.
extern const wchar_t kRunKey[];
extern const wchar_t kRunValueName[];

// Starts the launcher in the notification area at every logon. The Run key is opened, never
// created: false when it is missing.
bool WriteStartupEntry();
// Deletes the product's value; one already gone is no failure, any other is logged.
void DeleteStartupEntry();
