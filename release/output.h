// What the release tool prints: one English line per message, to the
// standard output, plus usage errors to the standard error stream.
#pragma once

#include <stdint.h>

#include <string>

// Formats one line (without its line end) and prints it with "\n".
void Say(const wchar_t* format, ...);

// Prints "problem: " and the formatted line, and counts it.
void Problem(const wchar_t* format, ...);

// Prints "note: " and the formatted line; a note is not a problem.
void Note(const wchar_t* format, ...);

// Problems printed so far.
int ProblemCount();

// Prints a usage error to the standard error stream.
void UsageError(const wchar_t* format, ...);

// A byte count for people: "123 bytes", "4.0 KiB", "512.3 MiB", "1.20 GiB".
std::wstring Bytes(uint64_t count);
