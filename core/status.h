#pragma once

// Result codes shared by the format, store, download and folder routines.
// Callers mostly test for StatusOk; 4 is deliberately unused.
typedef unsigned Status;

enum : Status {
    StatusOk = 0,
    StatusInvalid = 1,        // bad argument, malformed or unauthentic data
    StatusBufferTooSmall = 2, // an output or a download does not fit its limit
    StatusNotFound = 3,       // file, record or entry absent; no answer or no status 200
    StatusIoError = 5,        // an operating-system, file or cryptographic call failed
    StatusNoMemory = 6,
    StatusUnsupported = 7,    // a correctly signed manifest of another format version
    StatusCancelled = 8       // a download stopped by its progress callback
};
