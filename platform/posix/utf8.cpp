// The UTF-8 coder of the POSIX layer (see utf8.h for the rule on bytes
// that are not UTF-8).
#include "platform/posix/utf8.h"

// The length of the valid UTF-8 sequence at bytes (count bytes left), or 0
// when it is not one: overlong forms, surrogates and values beyond U+10FFFF
// are not valid.
static int SequenceAt(const unsigned char* bytes, size_t count, uint32_t* value) {
  unsigned char lead = bytes[0];
  int length = 0;
  uint32_t code = 0, least = 0;
  if (lead < 0x80) {
    *value = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<size_t>(length) > count) return 0;
  for (int i = 1; i < length; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (bytes[i] & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  *value = code;
  return length;
}

int WideFromUtf8Bytes(const char* bytes, size_t count, wchar_t* out, size_t capacity, int* undecodable) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
  size_t at = 0, made = 0;
  if (undecodable != nullptr) *undecodable = 0;
  while (at < count) {
    if (made + 1 >= capacity) return 0;
    uint32_t value = 0;
    int length = SequenceAt(in + at, count - at, &value);
    if (length == 0) {
      value = 0xDC00 + in[at];
      length = 1;
      if (undecodable != nullptr) *undecodable = 1;
    }
    out[made++] = static_cast<wchar_t>(value);
    at += static_cast<size_t>(length);
  }
  if (capacity == 0) return 0;
  out[made] = L'\0';
  return 1;
}

int Utf8BytesFromWide(const wchar_t* text, char* out, size_t room) {
  size_t made = 0;
  for (const wchar_t* c = text; *c != L'\0'; ++c) {
    uint32_t value = static_cast<uint32_t>(*c);
    unsigned char piece[4];
    size_t length = 0;
    if (value >= 0xDC80 && value <= 0xDCFF) {
      piece[0] = static_cast<unsigned char>(value - 0xDC00), length = 1;
    } else if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
      return -1;
    } else if (value < 0x80) {
      piece[0] = static_cast<unsigned char>(value), length = 1;
    } else if (value < 0x800) {
      piece[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
      piece[1] = static_cast<unsigned char>(0x80 | (value & 0x3F)), length = 2;
    } else if (value < 0x10000) {
      piece[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
      piece[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
      piece[2] = static_cast<unsigned char>(0x80 | (value & 0x3F)), length = 3;
    } else {
      piece[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
      piece[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
      piece[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
      piece[3] = static_cast<unsigned char>(0x80 | (value & 0x3F)), length = 4;
    }
    if (made + length + 1 > room) return -1;
    for (size_t i = 0; i < length; ++i) out[made++] = static_cast<char>(piece[i]);
  }
  if (made + 1 > room) return -1;
  out[made] = '\0';
  return static_cast<int>(made);
}

int SystemPath(const wchar_t* path, char (&out)[POSIX_PATH_ROOM]) {
  return Utf8BytesFromWide(path, out, POSIX_PATH_ROOM) >= 0 ? 1 : 0;
}
