// UTF-8 at the POSIX layer's edge: file names, paths, arguments and output
// are UTF-8 bytes on Linux, while the program's text is wchar_t (32 bits
// there, one character per code point).
//
// A byte that is no part of valid UTF-8 becomes the character U+DC80 +
// byte on the way in and the same byte again on the way out, so that a
// name the system handed over can be opened again, and the program can
// tell that it was not valid UTF-8.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Decodes count bytes into out (capacity characters, terminator included).
// *undecodable is set to 1 when a byte was not valid UTF-8 (it may be null).
// 0 when the text does not fit.
int WideFromUtf8Bytes(const char* bytes, size_t count, wchar_t* out, size_t capacity, int* undecodable);

// Encodes the terminated text into out (room bytes, terminator included).
// Returns the byte count without terminator, or -1 when it does not fit or
// holds a character that no UTF-8 can encode.
int Utf8BytesFromWide(const wchar_t* text, char* out, size_t room);

// The longest path the POSIX layer passes to the system, in bytes.
static const size_t POSIX_PATH_ROOM = 4096;

// A path for the system calls: 1, or 0 when it cannot be encoded or does
// not fit POSIX_PATH_ROOM (the caller then fails as the call would).
int SystemPath(const wchar_t* path, char (&out)[POSIX_PATH_ROOM]);
