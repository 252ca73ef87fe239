// The process itself and the processes it starts (kernel32 on Windows,
// posix_spawn and waitpid on POSIX).
#pragma once

#include <stdint.h>

// A started child process: its process and thread handles on Windows; on
// POSIX process holds the child's id and thread is unused.
struct StartedProcess {
  void* process;
  void* thread;
};

// Full path of the running executable into out (capacity characters),
// always terminated. Returns its length without terminator, 0 on failure,
// or capacity when the path was cut.
uint32_t ExecutablePath(wchar_t* out, uint32_t capacity);

uint32_t CurrentProcessId();

// Starts application with the writable command line, no console window, no
// inherited handles, the caller's environment and folder as current folder.
// The command line follows Windows' quoting rules on every system (the
// POSIX layer splits it by them into the child's arguments), so the
// callers build one text for both.
int StartHiddenProcess(const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                       StartedProcess* process);

// Waits for the process to end, without a time-out.
void WaitForProcessEnd(const StartedProcess* process);

// The exit code of an ended process; *code is left as it was when the query
// fails.
void QueryExitCode(const StartedProcess* process, uint32_t* code);

// Releases what the system keeps for the started process (its handles).
void CloseProcessHandles(StartedProcess* process);

// Milliseconds since the system started; for measuring how long work takes.
uint64_t MillisecondsNow();

// Lets the calling thread sleep for milliseconds.
void WaitMilliseconds(uint32_t milliseconds);

// The environment variable name read as a decimal number into *value. 0
// when it is absent, empty, too long or not a number.
int ReadEnvironmentNumber(const wchar_t* name, uint32_t* value);
