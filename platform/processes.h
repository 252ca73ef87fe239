// The process itself, its threads and the processes it starts.
#pragma once

#include <stdint.h>
#include <windows.h>

// Full path of the running executable into out (capacity characters),
// always terminated. Returns its length without terminator, 0 on failure,
// or capacity when the path was cut.
uint32_t ExecutablePath(wchar_t* out, uint32_t capacity);

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

uint32_t CurrentProcessId();

// Starts a thread at routine with no parameter and lets it run free: its
// handle is closed at once. 0 when the thread cannot be started.
int StartDetachedThread(LPTHREAD_START_ROUTINE routine);

// Starts application with the writable command line, no console window, no
// inherited handles, the caller's environment and folder as current folder.
int StartHiddenProcess(const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                       PROCESS_INFORMATION* process);

// Waits for the process to end, without a time-out.
void WaitForProcessEnd(const PROCESS_INFORMATION* process);

// The exit code of an ended process; *code is left as it was when the query
// fails.
void QueryExitCode(const PROCESS_INFORMATION* process, uint32_t* code);

// Closes the thread handle, then the process handle.
void CloseProcessHandles(PROCESS_INFORMATION* process);

// Milliseconds since the system started; for measuring how long work takes.
uint64_t MillisecondsNow();

// Lets the calling thread sleep for milliseconds.
void WaitMilliseconds(uint32_t milliseconds);

// The environment variable name read as a decimal number into *value. 0
// when it is absent, empty, too long or not a number.
int ReadEnvironmentNumber(const wchar_t* name, uint32_t* value);
