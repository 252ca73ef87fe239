// The console of a console program: its standard output and error streams.
//
// Text goes to a real console as UTF-16, so that every character shows as
// the console can draw it; to a file or pipe it goes as UTF-8, so that a
// script reading the output gets the same bytes on every system.
#pragma once

#include <stdint.h>

enum class Stream { Out, Err };

// Writes text (terminated UTF-16) to the stream as it is, adding nothing.
// A stream that is closed or cannot be written swallows the text.
void WriteToStream(Stream stream, const wchar_t* text);

// 1 when the stream is an interactive console, where a line can be
// rewritten in place with a carriage return.
int StreamIsConsole(Stream stream);
