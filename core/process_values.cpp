#include "core/process_values.h"

#include "setup_version.h"

SetupOptions Options;

wchar_t InstallFolder[260];
HICON AppIcon;
BOOL ConflictFound;
wchar_t ConflictWarning[600];
BOOL LaunchAfterFinish = TRUE;

const char SetupVersion[] = SETUP_VERSION_TEXT;
