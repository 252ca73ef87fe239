// Text in fixed-capacity UTF-16 buffers.
//
// Every formatted or copied text of the program goes through here: the
// result is cut to capacity - 1 characters and always terminated, which is
// exactly what the strsafe functions do, so they are used rather than a
// formatter of our own.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// Formats into out (capacity characters, terminator included). A result
// that does not fit is cut and still terminated; nothing is reported.
void FormatText(wchar_t* out, size_t capacity, const wchar_t* format, ...);

// FormatText with the arguments already gathered.
void FormatTextV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);

// The same for a buffer whose capacity the compiler knows.
template <size_t N, typename... Args>
inline void FormatInto(wchar_t (&out)[N], const wchar_t* format, Args... args) {
  FormatText(out, N, format, args...);
}

// Copies text into out (capacity characters), cut and terminated.
void CopyText(wchar_t* out, size_t capacity, const wchar_t* text);

template <size_t N>
inline void CopyInto(wchar_t (&out)[N], const wchar_t* text) {
  CopyText(out, N, text);
}

// Converts a terminated UTF-16 text to UTF-8 into out, room bytes at most,
// the terminating zero byte included. Returns the byte count written with
// that terminator, or 0 when the conversion fails or needs more room.
int Utf8FromText(const wchar_t* text, char* out, int room);

// ASCII-only case folding: manifest names are compared this way, never by
// the user's locale, so that the same manifest means the same everywhere.
int EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b);

// One character folded so: 'A' to 'Z' become 'a' to 'z', all else stays.
wchar_t FoldAsciiCase(wchar_t c);

// A byte count as a player reads it, into out (capacity characters):
// "512 바이트", "3.4 KB", "12.5 MB", "2.15 GB" (units of 1024, as Windows
// shows file sizes).
void FormatByteSize(wchar_t* out, size_t capacity, uint64_t bytes);
