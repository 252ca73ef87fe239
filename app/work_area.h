// The updater's private area beside the executable.
#pragma once

#include <windows.h>

extern HANDLE lock_file;  // the open updater.lock, held until the end of the process

// Creates the work folder, takes the lock, creates this start's run folder
// with new and backup, fixes the manifest copy's path and opens the log.
// 0 when the process must end with exit code 2 (the lock is released then;
// the message box for a lock held elsewhere has been shown unless quiet).
int PrepareWorkArea();
