#include "support/manifest_mutator.h"

#include <algorithm>
#include <functional>

uint64_t Prng::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

namespace {

const size_t kMiB = 1048576;

// The manifest while it is mutated: its lines, then what happens to the
// joined bytes (line ends, encoding, byte damage, a final size).
struct Doc {
  std::vector<std::string> lines;
  std::string ending = "\r\n";
  bool mixed_endings = false;
  bool final_ending = true;
  int encoding = 0;  // see Encode
  std::vector<std::function<void(Prng&, std::string&)>> byte_damage;
  size_t pad_to = 0;  // 0: no padding
  int pad_where = 0;  // 0: a comment line at the end, 1: at the start, 2: a long value
  std::vector<std::string> recipe;
};

bool IsHeader(const std::string& line) { return !line.empty() && line[0] == '['; }

std::string KeyOf(const std::string& line) {
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string ValueOf(const std::string& line) {
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::vector<size_t> KeyLines(const Doc& doc) {
  std::vector<size_t> out;
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    if (!IsHeader(doc.lines[i]) && doc.lines[i].find('=') != std::string::npos) out.push_back(i);
  }
  return out;
}

std::vector<size_t> HeaderLines(const Doc& doc) {
  std::vector<size_t> out;
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    if (IsHeader(doc.lines[i])) out.push_back(i);
  }
  return out;
}

// Every value of the given keys, for mutations that borrow another row's.
std::vector<std::string> ValuesOf(const Doc& doc, const std::vector<std::string>& keys) {
  std::vector<std::string> out;
  for (size_t i : KeyLines(doc)) {
    std::string key = KeyOf(doc.lines[i]);
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) out.push_back(ValueOf(doc.lines[i]));
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
  return s;
}

std::string RandomCase(Prng& rng, std::string s) {
  for (char& c : s) {
    if (rng.Percent(50)) c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
  }
  return s;
}

std::string ChangeCase(Prng& rng, const std::string& s, std::string* how) {
  switch (rng.Below(3)) {
    case 0:
      *how = "upper";
      return Upper(s);
    case 1:
      *how = "lower";
      return Lower(s);
    default:
      *how = "mixed";
      return RandomCase(rng, s);
  }
}

// Printable form of a value for the recipe: control bytes and long runs
// are shortened so that a report stays readable.
std::string Show(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) {
      const char* hex = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out.push_back(char(c));
    }
  }
  if (out.size() > 60) out = out.substr(0, 40) + "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

// ---------------------------------------------------------------------------
// Values

// Numbers at and past every limit, with signs, blanks and leading zeros.
// clang-format off
const std::vector<std::string> kNumbers = {
    "0", "1", "2", "-0", "+0", "-1", "+1", "01", "+01", "0001", " 1", "1 ", "\t1", "+ 1", "- 0", "--1", "++1",
    "+-1", "-+1", "1+", "1-", "1.0", "1,0", "1e0", "0x1", "0b1", "1_0", "\xef\xbc\x91" /* fullwidth 1 */,
    "\xd9\xa1" /* Arabic-Indic 1 */, "\xc2\xb9" /* superscript 1 */, "31", "32", "33", "127", "128", "129",
    "255", "256", "65535", "65536", "2147483647", "2147483648", "4294967295", "4294967296", "4294967297",
    "1099511627775", "1099511627776", "1099511627777", "9007199254740993", "9223372036854775807",
    "9223372036854775808", "18446744073709551615", "18446744073709551616", "18446744073709551617",
    "99999999999999999999999999999", "-18446744073709551615", " -18446744073709551615", "-18446744073709551616",
    "-1099511627776", "-4294967295", "0000000000000000000000000000001" /* 31 characters */,
    "00000000000000000000000000000001" /* 32: cut to 31 zeros */, "\"1\"", "'1'", "1;c", "1 ;c", "1#", "0 1",
    "", " ", "+", "-", "\xc2\xa0" "1" /* no-break space */, "1\xc2\xa0",
};
// clang-format on

std::string NumberValue(Prng& rng, const std::string& current) {
  if (rng.Percent(55)) return rng.Pick(kNumbers);
  uint64_t v = 0;
  for (char c : current) v = (c >= '0' && c <= '9') ? v * 10 + uint64_t(c - '0') : v;
  switch (rng.Below(9)) {
    case 0:
      return std::to_string(v + 1);
    case 1:
      return std::to_string(v - 1);  // wraps for 0: a huge number
    case 2:
      return "0" + current;
    case 3:
      return "+" + current;
    case 4:
      return " " + current + " ";
    case 5:
      return std::string(31 > current.size() ? 31 - current.size() : 0, '0') + current;
    case 6:
      return std::string(32 > current.size() ? 32 - current.size() : 0, '0') + current;
    case 7:
      return "-" + current;
    default:
      return current + current;
  }
}

// Look-alikes of ASCII characters, in UTF-8.
struct LookAlike {
  char ascii;
  const char* utf8;
};
const LookAlike kLookAlikes[] = {
    {'a', "\xd0\xb0"},      // Cyrillic a
    {'a', "\xef\xbd\x81"},  // fullwidth a
    {'e', "\xd0\xb5"},      // Cyrillic ie
    {'o', "\xd0\xbe"},      // Cyrillic o
    {'o', "\xce\xbf"},      // Greek omicron
    {'p', "\xd1\x80"},      // Cyrillic er
    {'c', "\xd1\x81"},      // Cyrillic es
    {'x', "\xd1\x85"},      // Cyrillic ha
    {'i', "\xd1\x96"},      // Ukrainian i
    {'i', "\xc4\xb1"},      // dotless i
    {'k', "\xe2\x84\xaa"},  // Kelvin sign, lower case k in Unicode
    {'s', "\xc5\xbf"},      // long s, upper case S in Unicode
    {'Q', "\xef\xbc\xb1"},  // fullwidth Q
    {'E', "\xd0\x95"},      // Cyrillic IE
    {'.', "\xe2\x80\xa4"},  // one dot leader
    {'.', "\xef\xbc\x8e"},  // fullwidth full stop
    {'.', "\xe3\x80\x82"},  // ideographic full stop
    {'-', "\xe2\x80\x90"},  // hyphen
    {'-', "\xe2\x88\x92"},  // minus sign
    {'_', "\xef\xbc\xbf"},  // fullwidth low line
    {'/', "\xef\xbc\x8f"},  // fullwidth solidus
    {'/', "\xe2\x88\x95"},  // division slash
    {'/', "\xe2\x81\x84"},  // fraction slash
    {'8', "\xef\xbc\x98"},  // fullwidth 8
    {'1', "\xef\xbc\x91"},  // fullwidth 1
};

// Invisible or combining characters that may hide inside a name.
const std::vector<std::string> kInvisible = {
    "\xe2\x80\x8b",  // zero width space
    "\xe2\x80\x8d",  // zero width joiner
    "\xef\xbb\xbf",  // byte-order mark as a character
    "\xc2\xa0",      // no-break space
    "\xcc\x81",      // combining acute accent
    "\xe2\x80\xae",  // right-to-left override
    "\xc2\xad",      // soft hyphen
};

std::string WithLookAlike(Prng& rng, const std::string& value, std::string* how) {
  std::vector<std::pair<size_t, const char*>> options;
  for (size_t i = 0; i < value.size(); ++i) {
    for (const LookAlike& l : kLookAlikes) {
      if (l.ascii == value[i] || (l.ascii >= 'a' && l.ascii <= 'z' && value[i] == l.ascii - 32)) {
        options.push_back({i, l.utf8});
      }
    }
  }
  if (options.empty() || rng.Percent(25)) {
    const std::string& mark = rng.Pick(kInvisible);
    size_t at = rng.Below(uint32_t(value.size() + 1));
    *how = "invisible character";
    return value.substr(0, at) + mark + value.substr(at);
  }
  auto choice = options[rng.Below(uint32_t(options.size()))];
  *how = "look-alike letter";
  return value.substr(0, choice.first) + choice.second + value.substr(choice.first + 1);
}

// Names that the name rule refuses, and some that it accepts although they
// look odd; device stems with and without extensions among them.
// clang-format off
const std::vector<std::string> kNames = {
    "con", "CON", "Con.txt", "con.", "con.a.b", "prn.dat", "aux", "AUX.dll", "nul", "NUL.tar.gz", "com0", "COM1.txt",
    "com9.x", "lpt1", "LPT9", "lpt0.bin", "Lpt5.", "COM10.dat", "LPT10", "com.dat", "CONSOLE.txt", "auxiliary",
    "conin$", "CONOUT$", "CLOCK$", "con:", "COM\xc2\xb9" /* COM superscript 1 */, "Quenfar8Updater.exe",
    "quenfar8updater.exe", "QUENFAR8UPDATER.EXE", "Quenfar8Updater.exe.", "Quenfar8Updater.ini", "hpatchz.exe",
    "HPATCHZ.EXE", "Hpatchz.Exe", "hpatchz.exe.", "hpatchz", "hpatchz.exe:stream", "hpatchz.exe::$DATA",
    "Quenfar8.exe", "quenfar8.exe", "QUENFAR8.EXE", "Quenfar8.exe.", "Quenfar8.ex", ".hidden", "a..b", "readme.",
    "..", ".", "...", "sub/inner.txt", "sub\\inner.txt", "sub", "..\\escape.txt", "../escape.txt",
    "..\\..\\escape.txt", "..\\package\\manifest.ini", ".quenfar8-update\\x.txt", ".quenfar8-update", "C:x.txt",
    "C:\\x.txt", "\\\\?\\C:\\x.txt", "\\\\.\\con", "Z:escape.txt", "a b", "a\tb", "a*b", "a?b", "a\"b", "a<b",
    "a>b", "a|b", "a:b", "a/b", "~1", "WHOLE~1.PAK", "-x_1", "a.b.c", "_", "-", "0", "updater.lock",
    "manifest.ini", "desktop.ini", "keep.txt", "whole.pak", "WHOLE.PAK", "added.txt", "Added.TXT", "patched.dat",
    "empty.dat", "new-file.bin",
};
// clang-format on

std::string NameValue(Prng& rng, Doc& doc, const std::string& current, std::string* how) {
  switch (rng.Below(8)) {
    case 0:
    case 1:
    case 2:
      *how = "from the list";
      return rng.Pick(kNames);
    case 3:
      return WithLookAlike(rng, current, how);
    case 4: {
      *how = "another row's name";
      std::string other = rng.Pick(ValuesOf(doc, {"name"}));
      return rng.Percent(50) ? other : RandomCase(rng, other);
    }
    case 5: {
      size_t lengths[] = {119, 120, 121, 127, 128, 129, 200, 260, 4096};
      size_t n = lengths[rng.Below(9)];
      *how = std::to_string(n) + " characters";
      std::string name = current;
      while (name.size() < n) name.insert(0, 1, char('a' + rng.Below(26)));
      return name.substr(name.size() - n);
    }
    case 6:
      return ChangeCase(rng, current, how);
    default: {
      *how = "device stem before the name";
      static const char* const stems[] = {"con.", "nul.", "com1.", "lpt9.", "aux.", "prn."};
      return stems[rng.Below(6)] + current;
    }
  }
}

// Characters the remote path rule refuses, ASCII and not.
// clang-format off
const std::vector<std::string> kRefusedPathCharacters = {
    "A", "Z", "_", " ", "\\", ":", "%", "?", "#", "*", "\"", "<", ">", "|", "~", "!", "$", "&", "'", "(", ")", "+",
    ",", ";", "=", "@", "[", "]", "^", "`", "{", "}", "\t", "\xc3\xa9" /* e acute */,
    "\xed\x8c\xa8" /* Hangul */, "\xef\xbc\x8f" /* fullwidth solidus */, "\xe2\x88\x95" /* division slash */,
    "\xef\xbc\x8e" /* fullwidth full stop */, "\xe2\x80\xa4" /* one dot leader */,
};
// clang-format on

// Every form of ".." met so far, alone or around a real path.
// clang-format off
const std::vector<std::string> kDotDots = {
    "..", "../", "../x", "/..", "x/..", "./..", "../..", "../../..", "...", "..../", ".. ", " ..", "..\\",
    "..\\x", "x\\..\\y", "%2e%2e/", "%2e./", ".%2e/", "%2E%2E/", "..%2f", "..%5c", "\xef\xbc\x8e\xef\xbc\x8e/",
    "\xe2\x80\xa5" /* two dot leader */, "\xe2\x80\xa6" /* ellipsis */, ".\xe2\x80\x8b.",
};
// clang-format on

std::string RemotePathValue(Prng& rng, Doc& doc, const std::string& current, std::string* how) {
  switch (rng.Below(10)) {
    case 0: {
      *how = "a form of ..";
      const std::string& dots = rng.Pick(kDotDots);
      switch (rng.Below(4)) {
        case 0:
          return dots;
        case 1:
          return dots + current;
        case 2:
          return current + "/" + dots;
        default: {
          size_t slash = current.find('/');
          if (slash == std::string::npos) return dots + "/" + current;
          return current.substr(0, slash + 1) + dots + "/" + current.substr(slash + 1);
        }
      }
    }
    case 1: {
      *how = "a refused character inserted";
      size_t at = rng.Below(uint32_t(current.size() + 1));
      return current.substr(0, at) + rng.Pick(kRefusedPathCharacters) + current.substr(at);
    }
    case 2: {
      *how = "a character replaced";
      std::string out = current;
      if (out.empty()) return rng.Pick(kRefusedPathCharacters);
      size_t at = rng.Below(uint32_t(out.size()));
      return out.substr(0, at) + rng.Pick(kRefusedPathCharacters) + out.substr(at + 1);
    }
    case 3:
      return ChangeCase(rng, current, how);
    case 4: {
      // "./" in front keeps the same file; the rule counts every character.
      size_t target = rng.Percent(50) ? 240 : 241;
      *how = std::to_string(target) + " characters";
      std::string out = current;
      while (out.size() + 2 <= target) out = "./" + out;
      if (out.size() < target) out = "/" + out.substr(1);  // "//" inside: another spelling of the same
      if (out.size() < target) out.insert(0, ".");
      return out;
    }
    case 5:
      *how = "another remote path of the release";
      return rng.Pick(ValuesOf(doc, {"full", "path"}));
    case 6: {
      *how = "a spelling of the same path";
      static const char* const forms[] = {"./", "/", "//", "\\", "C:/", "file:///", "https://localhost/"};
      const char* form = forms[rng.Below(7)];
      if (rng.Percent(50)) return form + current;
      size_t slash = current.find('/');
      if (slash == std::string::npos) return current + "/";
      return current.substr(0, slash) + "/./" + current.substr(slash + 1);
    }
    case 7: {
      // Device names among them: a package folder holds files only.
      static const std::vector<std::string> fixed = {
          "", "/", "manifest.ini", "files", "files/", "a", "z:/etc/passwd", "\\\\server\\share\\x", "nul", "con",
          "aux", "prn", "com1", "lpt1", "files/con", "files/nul.dat", "files/com1", "com1.bin"};
      *how = "a fixed path";
      return rng.Pick(fixed);
    }
    case 8:
      return WithLookAlike(rng, current, how);
    default: {
      *how = "lengthened";
      return current + std::string(rng.Pick(std::vector<size_t>{1, 200, 4096}), 'a');
    }
  }
}

std::string DigestValue(Prng& rng, Doc& doc, const std::string& current, std::string* how) {
  switch (rng.Below(9)) {
    case 0:
      *how = "upper case";
      return Upper(current);
    case 1:
      *how = "63 digits";
      return current.substr(0, current.size() ? current.size() - 1 : 0);
    case 2:
      *how = "65 digits";
      return current + "0";
    case 3: {
      *how = "a non-hex digit";
      std::string out = current;
      if (!out.empty()) out[rng.Below(uint32_t(out.size()))] = rng.Pick(std::vector<char>{'g', 'G', ' ', 'x', '-'});
      return out;
    }
    case 4:
      *how = "another digest of the release";
      return rng.Pick(ValuesOf(doc, {"sha256", "base_sha256"}));
    case 5:
      *how = "zeros";
      return std::string(64, '0');
    case 6:
      *how = "0x in front";
      return "0x" + current;
    case 7:
      *how = "padded past the capacity";
      return current + std::string(rng.Pick(std::vector<size_t>{1, 64, 5000}), 'f');
    default:
      *how = "blank inside";
      return current.substr(0, 32) + " " + current.substr(32);
  }
}

// A new value for the key line at index i, by what the key holds.
void MutateValue(Prng& rng, Doc& doc) {
  std::vector<size_t> keys = KeyLines(doc);
  if (keys.empty()) return;
  size_t i = keys[rng.Below(uint32_t(keys.size()))];
  std::string key = KeyOf(doc.lines[i]);
  std::string lower_key = Lower(key);
  std::string current = ValueOf(doc.lines[i]);
  std::string how = "value";
  std::string value;
  if (lower_key == "count" || lower_key == "size" || lower_key == "patches" || lower_key == "format") {
    value = NumberValue(rng, current);
    how = "number";
  } else if (lower_key == "name" || lower_key == "launch") {
    value = NameValue(rng, doc, current, &how);
  } else if (lower_key == "full" || lower_key == "path") {
    value = RemotePathValue(rng, doc, current, &how);
  } else if (lower_key == "sha256" || lower_key == "base_sha256") {
    value = DigestValue(rng, doc, current, &how);
  } else {
    value = rng.Percent(50) ? std::string(rng.Below(70000), 'v') : "";
    how = "other value";
  }
  doc.lines[i] = key + "=" + value;
  doc.recipe.push_back(key + "=" + Show(value) + " (" + how + ")");
}

// ---------------------------------------------------------------------------
// Lines and sections

// The section blocks: [first line, end) of each header and its keys; lines
// before the first header form no block.
std::vector<std::pair<size_t, size_t>> Blocks(const Doc& doc) {
  std::vector<std::pair<size_t, size_t>> out;
  std::vector<size_t> headers = HeaderLines(doc);
  for (size_t h = 0; h < headers.size(); ++h) {
    out.push_back({headers[h], h + 1 < headers.size() ? headers[h + 1] : doc.lines.size()});
  }
  return out;
}

size_t AnyLine(Prng& rng, const Doc& doc) { return rng.Below(uint32_t(doc.lines.size())); }

void DropLine(Prng& rng, Doc& doc) {
  if (doc.lines.empty()) return;
  size_t i = AnyLine(rng, doc);
  doc.recipe.push_back("line " + std::to_string(i) + " dropped: " + Show(doc.lines[i]));
  doc.lines.erase(doc.lines.begin() + i);
}

void CutLine(Prng& rng, Doc& doc) {
  if (doc.lines.empty()) return;
  size_t i = AnyLine(rng, doc);
  size_t keep = rng.Below(uint32_t(doc.lines[i].size() + 1));
  doc.lines[i].resize(keep);
  doc.recipe.push_back("line " + std::to_string(i) + " cut to " + Show(doc.lines[i]));
}

void RepeatLine(Prng& rng, Doc& doc) {
  if (doc.lines.empty()) return;
  size_t i = AnyLine(rng, doc);
  std::string line = doc.lines[i];
  size_t at = rng.Percent(50) ? i + 1 : rng.Below(uint32_t(doc.lines.size() + 1));
  doc.lines.insert(doc.lines.begin() + at, line);
  doc.recipe.push_back("line " + Show(line) + " repeated at " + std::to_string(at));
}

// The same key once more with another value, before or after the first.
void RepeatKeyOtherValue(Prng& rng, Doc& doc) {
  std::vector<size_t> keys = KeyLines(doc);
  if (keys.empty()) return;
  size_t i = keys[rng.Below(uint32_t(keys.size()))];
  Doc copy;
  copy.lines = {doc.lines[i]};
  MutateValue(rng, copy);
  bool before = rng.Percent(50);
  doc.lines.insert(doc.lines.begin() + (before ? i : i + 1), copy.lines[0]);
  doc.recipe.push_back(std::string("key repeated ") + (before ? "before" : "after") +
                       " the first: " + copy.recipe.back());
}

void RepeatSection(Prng& rng, Doc& doc) {
  auto blocks = Blocks(doc);
  if (blocks.empty()) return;
  auto block = blocks[rng.Below(uint32_t(blocks.size()))];
  Doc copy;
  copy.lines.assign(doc.lines.begin() + block.first, doc.lines.begin() + block.second);
  std::string what = "section " + copy.lines[0] + " repeated";
  if (rng.Percent(50)) {
    MutateValue(rng, copy);
    if (!copy.recipe.empty()) what += " with " + copy.recipe.back();
  }
  std::vector<size_t> places = {doc.lines.size()};
  for (auto b : Blocks(doc)) places.push_back(b.first);
  size_t at = places[rng.Below(uint32_t(places.size()))];
  doc.lines.insert(doc.lines.begin() + at, copy.lines.begin(), copy.lines.end());
  doc.recipe.push_back(what + " at line " + std::to_string(at));
}

void MoveLine(Prng& rng, Doc& doc) {
  if (doc.lines.size() < 2) return;
  size_t from = AnyLine(rng, doc);
  std::string line = doc.lines[from];
  doc.lines.erase(doc.lines.begin() + from);
  size_t to = rng.Below(uint32_t(doc.lines.size() + 1));
  doc.lines.insert(doc.lines.begin() + to, line);
  doc.recipe.push_back("line " + Show(line) + " moved from " + std::to_string(from) + " to " + std::to_string(to));
}

void ReorderSections(Prng& rng, Doc& doc) {
  auto blocks = Blocks(doc);
  if (blocks.empty()) return;
  std::vector<std::vector<std::string>> parts;
  for (auto b : blocks) parts.emplace_back(doc.lines.begin() + b.first, doc.lines.begin() + b.second);
  for (size_t i = parts.size(); i > 1; --i) std::swap(parts[i - 1], parts[rng.Below(uint32_t(i))]);
  std::vector<std::string> lines(doc.lines.begin(), doc.lines.begin() + blocks[0].first);
  for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
  doc.lines = lines;
  doc.recipe.push_back("sections reordered");
}

void ShuffleKeys(Prng& rng, Doc& doc) {
  auto blocks = Blocks(doc);
  if (blocks.empty()) return;
  auto b = blocks[rng.Below(uint32_t(blocks.size()))];
  for (size_t i = b.second; i > b.first + 2; --i) {
    std::swap(doc.lines[i - 1], doc.lines[b.first + 1 + rng.Below(uint32_t(i - b.first - 1))]);
  }
  doc.recipe.push_back("keys of " + doc.lines[b.first] + " reordered");
}

void CaseOfHeader(Prng& rng, Doc& doc) {
  std::vector<size_t> headers = HeaderLines(doc);
  if (headers.empty()) return;
  size_t i = headers[rng.Below(uint32_t(headers.size()))];
  std::string how;
  doc.lines[i] = ChangeCase(rng, doc.lines[i], &how);
  doc.recipe.push_back("header in " + how + " case: " + doc.lines[i]);
}

void CaseOfKey(Prng& rng, Doc& doc) {
  std::vector<size_t> keys = KeyLines(doc);
  if (keys.empty()) return;
  size_t i = keys[rng.Below(uint32_t(keys.size()))];
  std::string how;
  doc.lines[i] = ChangeCase(rng, KeyOf(doc.lines[i]), &how) + "=" + ValueOf(doc.lines[i]);
  doc.recipe.push_back("key in " + how + " case: " + Show(doc.lines[i]));
}

void CaseOfValue(Prng& rng, Doc& doc) {
  std::vector<size_t> keys = KeyLines(doc);
  if (keys.empty()) return;
  size_t i = keys[rng.Below(uint32_t(keys.size()))];
  std::string how;
  doc.lines[i] = KeyOf(doc.lines[i]) + "=" + ChangeCase(rng, ValueOf(doc.lines[i]), &how);
  doc.recipe.push_back("value in " + how + " case: " + Show(doc.lines[i]));
}

void Spacing(Prng& rng, Doc& doc) {
  if (doc.lines.empty()) return;
  size_t i = AnyLine(rng, doc);
  std::string& line = doc.lines[i];
  static const char* const blanks[] = {" ", "  ", "\t", " \t ", "\xc2\xa0", "\x0b", "\x0c"};
  std::string blank = blanks[rng.Below(7)];
  size_t eq = line.find('=');
  switch (rng.Below(5)) {
    case 0:
      line = blank + line;
      break;
    case 1:
      line += blank;
      break;
    case 2:
      if (eq != std::string::npos) line = line.substr(0, eq) + blank + "=" + line.substr(eq + 1);
      break;
    case 3:
      if (eq != std::string::npos) line = line.substr(0, eq + 1) + blank + line.substr(eq + 1);
      break;
    default:
      if (IsHeader(line)) line = "[" + blank + line.substr(1, line.size() - 2) + blank + "]";
      break;
  }
  doc.recipe.push_back("blanks: " + Show(line));
}

void Quoting(Prng& rng, Doc& doc) {
  std::vector<size_t> keys = KeyLines(doc);
  if (keys.empty()) return;
  size_t i = keys[rng.Below(uint32_t(keys.size()))];
  std::string value = ValueOf(doc.lines[i]);
  static const char* const forms[][2] = {{"\"", "\""},     {"'", "'"},     {"\"", ""}, {"", "\""},
                                         {"\"\"", "\"\""}, {"\" ", " \""}, {"`", "`"}};
  auto form = forms[rng.Below(7)];
  doc.lines[i] = KeyOf(doc.lines[i]) + "=" + form[0] + value + form[1];
  doc.recipe.push_back("quoted: " + Show(doc.lines[i]));
}

void Comment(Prng& rng, Doc& doc) {
  if (doc.lines.empty()) return;
  size_t i = AnyLine(rng, doc);
  switch (rng.Below(4)) {
    case 0:
      doc.lines[i] = ";" + doc.lines[i];
      break;
    case 1:
      doc.lines[i] = "#" + doc.lines[i];
      break;
    case 2:
      doc.lines[i] += " ; a comment";
      break;
    default:
      doc.lines.insert(doc.lines.begin() + i, "; a comment line");
      break;
  }
  doc.recipe.push_back("comment at line " + std::to_string(i) + ": " + Show(doc.lines[i]));
}

void HeaderVariant(Prng& rng, Doc& doc) {
  std::vector<size_t> headers = HeaderLines(doc);
  if (headers.empty()) return;
  size_t i = headers[rng.Below(uint32_t(headers.size()))];
  std::string inner = doc.lines[i].substr(1, doc.lines[i].size() - 2);
  size_t dot = inner.find('.');
  std::string out;
  switch (rng.Below(10)) {
    case 0:
      out = "[" + inner;
      break;
    case 1:
      out = inner + "]";
      break;
    case 2:
      out = "[[" + inner + "]]";
      break;
    case 3:
      out = "[" + inner + "]x";
      break;
    case 4:
      out = "[" + inner + "] ; c";
      break;
    case 5:
      out = "[" + inner + "0]";
      break;
    default: {
      static const char* const numbers[] = {"00", "+0", "-0", " 0", "0x0", "5", "4294967296", "-1", "127", "128"};
      std::string head = dot == std::string::npos ? inner : inner.substr(0, dot);
      out = "[" + head + "." + numbers[rng.Below(10)] + "]";
      break;
    }
  }
  doc.lines[i] = out;
  doc.recipe.push_back("header " + Show(out));
}

void GarbageLine(Prng& rng, Doc& doc) {
  static const char* const lines[] = {
      "no equals sign", "=value without key", "key=",    "=", "[", "]", "[]", "[=]", "name", "count",
      "\x1a",           "[release",           "release]"};
  size_t at = rng.Below(uint32_t(doc.lines.size() + 1));
  std::string line = lines[rng.Below(13)];
  doc.lines.insert(doc.lines.begin() + at, line);
  doc.recipe.push_back("line " + Show(line) + " inserted at " + std::to_string(at));
}

void LongLine(Prng& rng, Doc& doc) {
  static const size_t lengths[] = {1023, 1024, 4095, 4096, 32767, 32768, 65535, 65536, 100000, 300000};
  size_t n = lengths[rng.Below(10)];
  size_t at = rng.Below(uint32_t(doc.lines.size() + 1));
  std::string line;
  std::string what;
  switch (rng.Below(5)) {
    case 0:
      line = std::string(n, 'k') + "=v";
      what = "a long key";
      break;
    case 1:
      line = "long=" + std::string(n, 'v');
      what = "a long value";
      break;
    case 2:
      line = "[" + std::string(n, 's') + "]";
      what = "a long section name";
      break;
    case 3:
      line = std::string(n, ' ');
      what = "a long blank line";
      break;
    default: {
      std::vector<size_t> keys = KeyLines(doc);
      if (keys.empty()) return;
      at = keys[rng.Below(uint32_t(keys.size()))];
      doc.lines[at] += std::string(n, rng.Percent(50) ? 'a' : '0');
      doc.recipe.push_back("value lengthened by " + std::to_string(n) + ": " + Show(doc.lines[at]));
      return;
    }
  }
  doc.lines.insert(doc.lines.begin() + at, line);
  doc.recipe.push_back(what + " of " + std::to_string(n) + " at line " + std::to_string(at));
}

// A whole manifest replaced by something else.
void Replace(Prng& rng, Doc& doc) {
  std::string what;
  switch (rng.Below(6)) {
    case 0:
      doc.lines.clear();
      doc.final_ending = false;
      what = "empty file";
      break;
    case 1:
      doc.lines = {"[release]"};
      what = "only [release]";
      break;
    case 2: {
      std::string joined;
      for (const std::string& line : doc.lines) joined += line;
      doc.lines = {joined};
      what = "one line";
      break;
    }
    case 3: {
      size_t n = rng.Percent(50) ? kMiB : kMiB + 1;
      doc.lines = {std::string(n - 2, '\0')};
      what = std::to_string(n) + " bytes of NUL";
      break;
    }
    case 4: {
      std::string bytes(rng.Below(5000), '\0');
      for (char& c : bytes) c = char(rng.Below(256));
      doc.lines = {bytes};
      what = "random bytes";
      break;
    }
    default:
      doc.lines.resize(rng.Below(uint32_t(doc.lines.size() + 1)));
      what = "only the first " + std::to_string(doc.lines.size()) + " lines";
      break;
  }
  doc.recipe.push_back(what);
}

// ---------------------------------------------------------------------------
// Bytes: line ends, encodings, damage and size

void LineEnds(Prng& rng, Doc& doc) {
  switch (rng.Below(5)) {
    case 0:
      doc.ending = "\n";
      doc.recipe.push_back("LF lines");
      break;
    case 1:
      doc.ending = "\r";
      doc.recipe.push_back("CR lines");
      break;
    case 2:
      doc.ending = "\n\r";
      doc.recipe.push_back("LF CR lines");
      break;
    case 3:
      doc.mixed_endings = true;
      doc.recipe.push_back("mixed line ends");
      break;
    default:
      doc.final_ending = false;
      doc.recipe.push_back("no line end at the end");
      break;
  }
}

void Encoding(Prng& rng, Doc& doc) {
  static const char* const names[] = {"",
                                      "UTF-8 byte-order mark",
                                      "UTF-16 LE with byte-order mark",
                                      "UTF-16 BE with byte-order mark",
                                      "UTF-16 LE without byte-order mark",
                                      "UTF-16 LE byte-order mark before UTF-8 text",
                                      "UTF-8 byte-order mark twice",
                                      "UTF-32 LE byte-order mark before UTF-8 text"};
  doc.encoding = 1 + int(rng.Below(7));
  doc.recipe.push_back(names[doc.encoding]);
}

void FlipBytes(Prng& rng, Doc& doc) {
  uint32_t count = 1 + rng.Below(8);
  doc.byte_damage.push_back([count](Prng& r, std::string& bytes) {
    static const char specials[] = {'\0', '\n', '\r', '[', ']', '=', ';', '\xff', '\x80', '.', '/', '\\'};
    for (uint32_t k = 0; k < count && !bytes.empty(); ++k) {
      size_t at = r.Below(uint32_t(bytes.size()));
      switch (r.Below(3)) {
        case 0:
          bytes[at] = char(bytes[at] ^ (1 << r.Below(8)));
          break;
        case 1:
          bytes[at] = char(r.Below(256));
          break;
        default:
          bytes[at] = specials[r.Below(sizeof specials)];
          break;
      }
    }
  });
  doc.recipe.push_back(std::to_string(count) + " bytes flipped");
}

void NulBytes(Prng& rng, Doc& doc) {
  uint32_t how = rng.Below(4);
  doc.byte_damage.push_back([how](Prng& r, std::string& bytes) {
    switch (how) {
      case 0:
        for (uint32_t k = 1 + r.Below(3); k > 0; --k) bytes.insert(r.Below(uint32_t(bytes.size() + 1)), 1, '\0');
        break;
      case 1:
        bytes.insert(0, 1, '\0');
        break;
      case 2:
        bytes.push_back('\0');
        break;
      default: {
        size_t at = bytes.find('\n', r.Below(uint32_t(bytes.size() + 1)));
        if (at != std::string::npos) bytes[at] = '\0';
        break;
      }
    }
  });
  static const char* const names[] = {"NUL bytes inside", "NUL byte first", "NUL byte last", "a line end turned NUL"};
  doc.recipe.push_back(names[how]);
}

void CutFile(Prng& rng, Doc& doc) {
  uint32_t fraction = rng.Below(1001);
  doc.byte_damage.push_back([fraction](Prng&, std::string& bytes) { bytes.resize(bytes.size() * fraction / 1000); });
  doc.recipe.push_back("cut to " + std::to_string(fraction / 10.0) + "% of its bytes");
}

void PadSize(Prng& rng, Doc& doc) {
  static const size_t sizes[] = {kMiB, kMiB + 1, kMiB - 1, kMiB + 2};
  doc.pad_to = sizes[rng.Below(4)];
  doc.pad_where = int(rng.Below(3));
  static const char* const places[] = {"a comment at the end", "a comment at the start", "a long version value"};
  doc.recipe.push_back("made " + std::to_string(doc.pad_to) + " bytes by " + places[doc.pad_where]);
}

// UTF-8 to code points; a byte that starts no valid sequence stands for
// itself, so that every byte of a damaged text survives the encoding.
std::vector<uint32_t> CodePoints(const std::string& text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = text[i];
    int extra = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
    bool ok = extra >= 0 && i + size_t(extra) < text.size();
    uint32_t cp = extra == 0 ? c : c & (0x3fu >> extra);
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char next = text[i + k];
      ok = (next & 0xc0) == 0x80;
      cp = (cp << 6) | (next & 0x3f);
    }
    if (ok) {
      out.push_back(cp);
      i += size_t(extra) + 1;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

std::string Utf16(const std::string& text, bool big_endian) {
  std::string out;
  auto put = [&](uint32_t unit) {
    char lo = char(unit & 0xff), hi = char(unit >> 8);
    out.push_back(big_endian ? hi : lo);
    out.push_back(big_endian ? lo : hi);
  };
  for (uint32_t cp : CodePoints(text)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xd800 + (cp >> 10));
      put(0xdc00 + (cp & 0x3ff));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string Encode(int encoding, const std::string& text) {
  switch (encoding) {
    case 1:
      return "\xef\xbb\xbf" + text;
    case 2:
      return "\xff\xfe" + Utf16(text, false);
    case 3:
      return "\xfe\xff" + Utf16(text, true);
    case 4:
      return Utf16(text, false);
    case 5:
      return "\xff\xfe" + text;
    case 6:
      return "\xef\xbb\xbf\xef\xbb\xbf" + text;
    case 7:
      return std::string("\xff\xfe\0\0", 4) + text;
    default:
      return text;
  }
}

bool IsUtf16(int encoding) { return encoding >= 2 && encoding <= 4; }

// Brings bytes to exactly size with a filler that the INI reader skips (a
// comment line) or keeps (a long value), in the file's own encoding.
void Pad(Doc& doc, std::string& bytes) {
  if (doc.pad_to == 0) return;
  bool wide = IsUtf16(doc.encoding);
  bool big = doc.encoding == 3;
  size_t unit = wide ? 2 : 1;
  std::string ending = wide ? Utf16("\r\n", big) : std::string("\r\n");
  std::string prefix_text = doc.pad_where == 2 ? "[release]\r\nversion=" : ";";
  std::string prefix = wide ? Utf16(prefix_text, big) : prefix_text;
  size_t fixed = prefix.size() + ending.size();
  if (bytes.size() + fixed > doc.pad_to) {
    bytes.resize(doc.pad_to);  // already too large: cut to the size instead
    return;
  }
  size_t room = doc.pad_to - bytes.size() - fixed;
  std::string filler = wide ? Utf16(std::string(room / unit, 'p'), big) : std::string(room, 'p');
  std::string line = prefix + filler + ending;
  if (doc.pad_where == 1) {
    // After a byte-order mark, if there is one, so that it stays first.
    size_t mark = doc.encoding == 1 || doc.encoding == 6                        ? 3 * size_t(doc.encoding == 6 ? 2 : 1)
                  : doc.encoding == 2 || doc.encoding == 3 || doc.encoding == 5 ? 2
                  : doc.encoding == 7                                           ? 4
                                                                                : 0;
    bytes.insert(std::min(mark, bytes.size()), line);
  } else {
    bytes += line;
  }
  if (bytes.size() < doc.pad_to) bytes.append(doc.pad_to - bytes.size(), 'p');  // an odd byte in UTF-16
}

std::string JoinLines(Prng& rng, const Doc& doc) {
  std::string text;
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    text += doc.lines[i];
    bool last = i + 1 == doc.lines.size();
    if (last && !doc.final_ending) break;
    if (doc.mixed_endings) {
      static const char* const endings[] = {"\r\n", "\n", "\r"};
      text += endings[rng.Below(3)];
    } else {
      text += doc.ending;
    }
  }
  return text;
}

struct Operator {
  void (*apply)(Prng&, Doc&);
  uint32_t weight;
};

const Operator kOperators[] = {
    {MutateValue, 40},  {DropLine, 5},    {CutLine, 5},         {RepeatLine, 5},  {RepeatKeyOtherValue, 6},
    {RepeatSection, 5}, {MoveLine, 3},    {ReorderSections, 4}, {ShuffleKeys, 3}, {CaseOfHeader, 4},
    {CaseOfKey, 4},     {CaseOfValue, 3}, {Spacing, 5},         {Quoting, 3},     {Comment, 3},
    {HeaderVariant, 4}, {GarbageLine, 3}, {LongLine, 4},        {Replace, 2},     {LineEnds, 5},
    {Encoding, 6},      {FlipBytes, 6},   {NulBytes, 5},        {CutFile, 4},     {PadSize, 5},
};

void ApplyOne(Prng& rng, Doc& doc) {
  uint32_t total = 0;
  for (const Operator& op : kOperators) total += op.weight;
  uint32_t pick = rng.Below(total);
  for (const Operator& op : kOperators) {
    if (pick < op.weight) {
      op.apply(rng, doc);
      return;
    }
    pick -= op.weight;
  }
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace

Mutant MutateManifest(const std::string& valid, uint64_t seed) {
  Prng rng(seed);
  Doc doc;
  doc.lines = SplitLines(valid);
  uint32_t roll = rng.Below(100);
  uint32_t count = roll < 45 ? 1 : roll < 75 ? 2 : roll < 92 ? 3 : 4;
  for (uint32_t k = 0; k < count; ++k) ApplyOne(rng, doc);
  Mutant mutant;
  mutant.bytes = Encode(doc.encoding, JoinLines(rng, doc));
  for (auto& damage : doc.byte_damage) damage(rng, mutant.bytes);
  Pad(doc, mutant.bytes);
  for (size_t i = 0; i < doc.recipe.size(); ++i) mutant.recipe += (i ? "; " : "") + doc.recipe[i];
  return mutant;
}
