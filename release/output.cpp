// Console output of the release tool.
#include "release/output.h"

#include <stdarg.h>
#include <wchar.h>

#include "platform/console.h"
#include "platform/text.h"
#include "release/progress.h"

// Problems printed since the start of the process.
static int problem_count = 0;

// Longest line the tool prints; a longer one is cut, never split.
static const size_t kLineCapacity = 4096;

static void PrintLine(Stream stream, const wchar_t* prefix, const wchar_t* format, va_list args) {
  ProgressPause();
  wchar_t line[kLineCapacity];
  CopyInto(line, prefix);
  size_t used = wcslen(line);
  wchar_t body[kLineCapacity];
  FormatTextV(body, kLineCapacity, format, args);
  CopyText(line + used, kLineCapacity - used, body);
  WriteToStream(stream, line);
  WriteToStream(stream, L"\n");
}

void Say(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(Stream::Out, L"", format, args);
  va_end(args);
}

void Problem(const wchar_t* format, ...) {
  ++problem_count;
  va_list args;
  va_start(args, format);
  PrintLine(Stream::Out, L"problem: ", format, args);
  va_end(args);
}

void Note(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(Stream::Out, L"note: ", format, args);
  va_end(args);
}

int ProblemCount() {
  return problem_count;
}

void UsageError(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(Stream::Err, L"Quenfar8Release: ", format, args);
  va_end(args);
}

std::wstring Bytes(uint64_t count) {
  wchar_t text[64];
  if (count < 1024) {
    FormatInto(text, L"%llu bytes", static_cast<unsigned long long>(count));
  } else if (count < 1048576) {
    FormatInto(text, L"%.1f KiB", static_cast<double>(count) / 1024.0);
  } else if (count < 1073741824ULL) {
    FormatInto(text, L"%.1f MiB", static_cast<double>(count) / 1048576.0);
  } else {
    FormatInto(text, L"%.2f GiB", static_cast<double>(count) / 1073741824.0);
  }
  return text;
}
