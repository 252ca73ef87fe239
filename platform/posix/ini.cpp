// INI reading by the rules of the Windows profile reader the updater uses
// (as Wine implements GetPrivateProfileStringW; see docs/wine-traps.md), so
// that the release tool's check judges a manifest by the values a player's
// updater reads from the same bytes:
// - encoding: a UTF-8 mark means UTF-8 (a byte that is no UTF-8 reads as
//   U+FFFD), a UTF-16 LE or BE mark means UTF-16; without a mark the bytes
//   are the ANSI code page (Windows-1252, the one the tests' prefix has);
// - CR, LF and runs of them end lines; blanks (tab, the line and page
//   breaks, space and Ctrl-Z) around a line, a name and a value are dropped;
// - "[name]" opens a section (up to the line's last "]", blanks inside the
//   brackets dropped); other lines are keys, "name=value" or a bare name;
//   ";" starts no comment of its own but a key whose name begins with it is
//   never listed;
// - names match without regard to case; the first of repeated sections and
//   keys is the one read; a NUL character ends the text it is in;
// - one pair of matching quotes around a value is dropped, and a value is
//   cut to the caller's buffer the way the Windows reader cuts it.
#include "platform/ini.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include "platform/posix/utf8.h"

// The most bytes read of one INI file; the program's INI files are far
// smaller (a manifest of the most files is some megabytes).
static const size_t kLargestIniBytes = 256u << 20;

// One INI file decoded into characters (malloc'd; freed by FreeIniText).
struct IniText {
  wchar_t* text;
  size_t length;
};

// Windows-1252's characters for the bytes 0x80 to 0x9F; the five bytes it
// leaves undefined stand for themselves, as Windows converts them.
static const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Reads the whole file at path; 0 when it cannot be read.
static int ReadWholeFile(const wchar_t* path, unsigned char** bytes, size_t* count) {
  char name[POSIX_PATH_ROOM];
  if (!SystemPath(path, name)) return 0;
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) > kLargestIniBytes) {
    close(fd);
    return 0;
  }
  size_t size = static_cast<size_t>(info.st_size);
  unsigned char* data = static_cast<unsigned char*>(malloc(size + 1));
  size_t got = 0;
  while (data != nullptr && got < size) {
    ssize_t n = read(fd, data + got, size - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  if (data == nullptr) return 0;
  *bytes = data;
  *count = got;
  return 1;
}

// Decodes UTF-8 as Windows' converter does: each byte that is no part of a
// valid sequence becomes U+FFFD.
static size_t DecodeUtf8(const unsigned char* in, size_t count, wchar_t* out) {
  size_t made = 0;
  for (size_t at = 0; at < count;) {
    unsigned char lead = in[at];
    int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    uint32_t code = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    int valid = length > 0 && at + static_cast<size_t>(length) <= count;
    for (int i = 1; valid && i < length; ++i) {
      if ((in[at + i] & 0xC0) != 0x80) valid = 0;
      code = (code << 6) | (in[at + i] & 0x3Fu);
    }
    static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = 0;
    if (!valid) {
      out[made++] = 0xFFFD;
      ++at;
      continue;
    }
    out[made++] = static_cast<wchar_t>(code);
    at += static_cast<size_t>(length);
  }
  return made;
}

// Decodes UTF-16 (big_endian or not); a pair of surrogates makes one
// character, a lone surrogate stays as it is.
static size_t DecodeUtf16(const unsigned char* in, size_t count, int big_endian, wchar_t* out) {
  size_t made = 0;
  for (size_t at = 0; at + 1 < count; at += 2) {
    uint32_t unit = big_endian ? (in[at] << 8 | in[at + 1]) : (in[at + 1] << 8 | in[at]);
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 3 < count) {
      uint32_t next = big_endian ? (in[at + 2] << 8 | in[at + 3]) : (in[at + 3] << 8 | in[at + 2]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        out[made++] = static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        at += 2;
        continue;
      }
    }
    out[made++] = static_cast<wchar_t>(unit);
  }
  return made;
}

static int LoadIniText(const wchar_t* path, IniText* ini) {
  unsigned char* bytes = nullptr;
  size_t count = 0;
  ini->text = nullptr;
  ini->length = 0;
  if (!ReadWholeFile(path, &bytes, &count)) return 0;
  wchar_t* text = static_cast<wchar_t*>(malloc((count + 1) * sizeof(wchar_t)));
  if (text == nullptr) {
    free(bytes);
    return 0;
  }
  size_t length;
  if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    length = DecodeUtf8(bytes + 3, count - 3, text);
  } else if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    length = DecodeUtf16(bytes + 2, count - 2, 0, text);
  } else if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    length = DecodeUtf16(bytes + 2, count - 2, 1, text);
  } else {
    for (size_t i = 0; i < count; ++i) {
      unsigned char b = bytes[i];
      text[i] = (b >= 0x80 && b <= 0x9F) ? static_cast<wchar_t>(kCp1252High[b - 0x80]) : static_cast<wchar_t>(b);
    }
    length = count;
  }
  free(bytes);
  text[length] = L'\0';
  ini->text = text;
  ini->length = length;
  return 1;
}

static void FreeIniText(IniText* ini) {
  free(ini->text);
  ini->text = nullptr;
}

// The reader's blanks: tab, the line and page breaks, space and Ctrl-Z.
// Unicode's other spaces (U+00A0, U+2000 and on, U+3000) are no blanks to
// Windows' reader: a value that ends with one keeps it.
static int IsIniBlank(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A;
}

// One character folded for comparing names: ASCII and Latin-1 letters.
static wchar_t FoldIniCase(wchar_t c) {
  if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  return c;
}

// A range of characters; a NUL inside ends it, as the reader's copies of
// names and values end at one.
struct Span {
  const wchar_t* begin;
  const wchar_t* end;
};

static Span CutAtNul(Span span) {
  for (const wchar_t* c = span.begin; c < span.end; ++c) {
    if (*c == L'\0') return Span{span.begin, c};
  }
  return span;
}

static int SpanEquals(Span span, const wchar_t* name) {
  size_t length = static_cast<size_t>(span.end - span.begin);
  if (wcslen(name) != length) return 0;
  for (size_t i = 0; i < length; ++i) {
    if (FoldIniCase(span.begin[i]) != FoldIniCase(name[i])) return 0;
  }
  return 1;
}

// One line of the file: its kind and its parts.
enum class LineKind { Section, Key };
struct IniLine {
  LineKind kind;
  Span name;   // section or key name
  Span value;  // a key's value; begin null for a bare name
};

// The next non-empty line at *at; 0 at the end of the text.
static int NextIniLine(const wchar_t** at, const wchar_t* end, IniLine* line) {
  while (*at < end) {
    const wchar_t* start = *at;
    const wchar_t* stop = start;
    while (stop < end && *stop != L'\n' && *stop != L'\r') ++stop;
    *at = stop;
    while (*at < end && (**at == L'\n' || **at == L'\r')) ++*at;
    while (start < stop && IsIniBlank(*start)) ++start;
    while (stop > start && IsIniBlank(stop[-1])) --stop;
    if (start >= stop) continue;
    if (*start == L'[') {
      const wchar_t* close = stop;
      while (close > start && close[-1] != L']') --close;
      if (close > start + 1) {
        // Blanks inside the brackets are no part of the name.
        const wchar_t* name_begin = start + 1;
        const wchar_t* name_end = close - 1;
        while (name_begin < name_end && IsIniBlank(*name_begin)) ++name_begin;
        while (name_end > name_begin && IsIniBlank(name_end[-1])) --name_end;
        line->kind = LineKind::Section;
        line->name = CutAtNul(Span{name_begin, name_end});
        line->value = Span{nullptr, nullptr};
        return 1;
      }
    }
    const wchar_t* equals = start;
    while (equals < stop && *equals != L'=') ++equals;
    line->kind = LineKind::Key;
    if (equals < stop) {
      const wchar_t* name_end = equals;
      while (name_end > start && IsIniBlank(name_end[-1])) --name_end;
      const wchar_t* value = equals + 1;
      while (value < stop && IsIniBlank(*value)) ++value;
      line->name = CutAtNul(Span{start, name_end});
      line->value = CutAtNul(Span{value, stop});
    } else {
      line->name = CutAtNul(Span{start, stop});
      line->value = Span{nullptr, nullptr};
    }
    return 1;
  }
  return 0;
}

// Finds the first section named section (null: none needed) and, within
// it, the first key named key; *found_value gets the key's value.
static int FindIniKey(const IniText* ini, const wchar_t* section, const wchar_t* key, Span* found_value) {
  const wchar_t* at = ini->text;
  const wchar_t* end = ini->text + ini->length;
  IniLine line;
  // Keys before the first section belong to an unnamed one, which no
  // section name matches.
  int seen_section = 0, in_section = 0;
  while (NextIniLine(&at, end, &line)) {
    if (line.kind == LineKind::Section) {
      // Only the first section of a name is read at all.
      if (in_section) return 0;
      in_section = !seen_section && SpanEquals(line.name, section);
      if (in_section) seen_section = 1;
      continue;
    }
    if (in_section && SpanEquals(line.name, key)) {
      *found_value = line.value;
      return 1;
    }
  }
  return 0;
}

// The reader's copy of a value into out: matching quotes dropped, cut to
// capacity - 1, and, as the Windows reader does, a cut quoted value loses
// one more character where the closing quote would have been.
static void CopyIniValue(Span value, wchar_t* out, uint32_t capacity) {
  const wchar_t* begin = value.begin;
  size_t length = static_cast<size_t>(value.end - value.begin);
  int quote = 0;
  if (length >= 2 && (begin[0] == L'"' || begin[0] == L'\'') && begin[length - 1] == begin[0]) {
    quote = 1;
    ++begin;
    --length;
  }
  size_t copied = length < capacity - 1 ? length : capacity - 1;
  wmemcpy(out, begin, copied);
  out[copied] = L'\0';
  if (quote && capacity >= length) {
    size_t now = wcslen(out);
    if (now > 0) out[now - 1] = L'\0';
  }
}

void ReadIniText(const wchar_t* path, const wchar_t* section, const wchar_t* key, wchar_t* out,
                 uint32_t capacity) {
  if (capacity == 0) return;
  out[0] = L'\0';
  IniText ini;
  if (!LoadIniText(path, &ini)) return;
  Span value;
  if (FindIniKey(&ini, section, key, &value) && value.begin != nullptr) CopyIniValue(value, out, capacity);
  FreeIniText(&ini);
}

// Appends name and its terminator to the list in out as the Windows reader
// fills its buffer: characters up to capacity - 2 are kept.
static void AppendName(Span name, wchar_t* out, uint32_t capacity, size_t* length) {
  for (const wchar_t* c = name.begin; c <= name.end; ++c) {
    wchar_t next = c < name.end ? *c : L'\0';
    if (*length + 2 < capacity) out[*length] = next;
    ++*length;
  }
}

void ReadIniNames(const wchar_t* path, const wchar_t* section, wchar_t* out, uint32_t capacity) {
  out[0] = L'\0';
  if (capacity < 2) return;
  out[1] = L'\0';
  IniText ini;
  if (!LoadIniText(path, &ini)) return;
  const wchar_t* at = ini.text;
  const wchar_t* end = ini.text + ini.length;
  IniLine line;
  size_t length = 0;
  int seen_section = 0, in_section = 0;
  while (NextIniLine(&at, end, &line)) {
    if (line.kind == LineKind::Section) {
      if (section == nullptr) {
        if (line.name.end > line.name.begin) AppendName(line.name, out, capacity, &length);
        continue;
      }
      if (in_section) break;
      in_section = !seen_section && SpanEquals(line.name, section);
      if (in_section) seen_section = 1;
      continue;
    }
    if (section != nullptr && in_section && line.name.end > line.name.begin && line.name.begin[0] != L';') {
      AppendName(line.name, out, capacity, &length);
    }
  }
  FreeIniText(&ini);
  // What the Windows side's wrapper then does to a list that filled the
  // buffer: the reader's count is at most capacity - 2, and a list that
  // reached it loses its last (perhaps cut) name.
  size_t count = length < capacity - 2 ? length : capacity - 2;
  out[count] = L'\0';
  if (count + 1 < capacity) out[count + 1] = L'\0';
  if (count + 2 >= capacity) {
    size_t keep = count;
    while (keep > 0 && out[keep - 1] != L'\0') --keep;
    out[keep] = L'\0';
    if (keep + 1 < capacity) out[keep + 1] = L'\0';
  }
}
