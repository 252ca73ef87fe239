// Process services that only the Windows updater's front end uses: its
// command line, its start-up information, its worker thread and the time
// that names its run folder.
#pragma once

#include <stdint.h>
#include <windows.h>

// The full command line of the process split by the platform's quoting
// rules; argument 0 is the program. Null when the split fails. The array is
// released with FreeArguments.
wchar_t** SplitCommandLine(int* count);
void FreeArguments(wchar_t** arguments);

// The show state the starting process asked for in its start-up
// information, or SW_SHOWDEFAULT when it asked for none.
int InitialShowCommand();

// The current date and time in UTC.
void CurrentUtcTime(SYSTEMTIME* now);

// Starts a thread at routine with no parameter and lets it run free: its
// handle is closed at once. 0 when the thread cannot be started.
int StartDetachedThread(LPTHREAD_START_ROUTINE routine);
