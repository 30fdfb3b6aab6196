#pragma once

// Ends every running instance of the product's tray application, "talvor_gui.exe", before its
// files are replaced or removed; one log line per instance ended. Best effort, no result.
void CloseRunningApp();
