#pragma once

// Removes an old registration of the packet driver as the service "WinDivert" when its image
// lies in a folder named after the product; one registered from anywhere else is left alone.
void RemoveLegacyDriverService();

// Whether the path runs through a folder named Talvor: "\talvor\" anywhere, ignoring case.
bool PathHasProductFolder(const wchar_t *path);
