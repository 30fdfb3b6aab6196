#pragma once

#include <windows.h>

// Values fixed by the program entry before any page or worker exists.
extern wchar_t InstallFolder[260];   // Program Files followed by "\Talvor"
extern HICON AppIcon;                // resource 1, or null
extern BOOL ConflictFound;           // conflicting security software was seen at start
extern wchar_t ConflictWarning[600]; // its warning, shown in install mode
extern BOOL LaunchAfterFinish;       // start the product after a paged install; written by the finish page

// The version being installed, as UTF-8 text; set once the signed manifest has been taken.
extern char TargetVersion[32];

// The setup's own version, as in its version resource.
extern const char SetupVersion[];
