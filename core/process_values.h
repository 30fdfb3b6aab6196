#pragma once

#include <windows.h>

// What a run does: an install covers a first install, a reinstall and an update.
enum SetupMode { ModeInstall, ModeRemoval };

// The command line, parsed once at start; afterwards read-only except delete_settings, which
// the confirmation page's check box writes before the worker starts.
struct SetupOptions {
    SetupMode mode;
    bool silent;               // no page and no error box at all
    bool delete_settings;      // removal also deletes the user's settings and data
    bool desktop_shortcut;     // install creates the desktop shortcut
    wchar_t local_folder[260]; // release folder; empty means download
    wchar_t base_url[512];     // always ends in "/"
};

extern SetupOptions Options;

// Values fixed by the program entry before any page or worker exists.
extern wchar_t InstallFolder[260];   // Program Files followed by "\Talvor"
extern HICON AppIcon;                // resource 1, or null
extern BOOL ConflictFound;           // conflicting security software was seen at start
extern wchar_t ConflictWarning[600]; // its warning, shown in install mode
extern BOOL LaunchAfterFinish;       // start the product after a paged install; written by the finish page

// The setup's own version, as in its version resource.
extern const char SetupVersion[];
