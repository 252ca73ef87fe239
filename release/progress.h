// Progress of long work on the console: bytes done of the total and the
// rate, one line rewritten in place on the standard error stream. Shown only
// when that stream is an interactive console, so that output sent to a file
// or a pipe holds nothing but the tool's messages.
#pragma once

#include <stdint.h>

// Begins a piece of work of total bytes, named by what ("hashing").
void ProgressBegin(const wchar_t* what, uint64_t total);

// Counts bytes done; redraws the line at most a few times a second.
void ProgressAdd(uint64_t bytes);

// Draws the final figures and ends the line.
void ProgressEnd();

// Clears the line before another line is printed; the next ProgressAdd
// draws it again below that line.
void ProgressPause();
