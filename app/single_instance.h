#pragma once

#include <windows.h>

// One setup at a time on the machine. The name "Global\Talvor-Kurulum" is one any program of any
// user can create first, so it is kept only for whoever looks for it (older setups do); the
// exclusion itself is a file that only administrators can create, in the Program Files folder,
// held open without delete sharing for the life of the process and deleted when it closes.

enum InstanceClaim {
    InstanceAlone,         // this is the one setup running
    InstanceRunning,       // another setup runs, or the guard could not be had
    InstanceNameSquatted,  // alone, but a program that is no setup holds the global name
};

// Claims the guard for `install_folder` (the lock file is "<install folder>-Kurulum.kilit"); the
// handles are kept until the process ends, but for the global mutex, which *mutex receives (null
// when another program holds the name). Called before the log exists: nothing is logged.
InstanceClaim ClaimSingleInstance(const wchar_t *install_folder, HANDLE *mutex);
