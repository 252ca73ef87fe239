// Writing the manifest text.
#include "release/manifest_writer.h"

#include <stdio.h>

#include "engine/manifest.h"
#include "engine/release_time.h"
#include "platform/text.h"
#include "release/blob_store.h"

// The text is plain ASCII: names, digests, remote paths and the version are
// checked to be ASCII before they get here.
static std::string Ascii(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

static void Line(std::string* out, const char* key, const std::string& value) {
  *out += key;
  *out += "=";
  *out += value;
  *out += "\r\n";
}

static std::string Number(unsigned long long value) {
  char text[32];
  snprintf(text, sizeof text, "%llu", value);
  return text;
}

std::string UtcText(uint64_t seconds) {
  wchar_t text[UTC_TIME_CHARACTERS + 1];
  // Times come from the clock or from a parsed time: never past 9999.
  if (!FormatUtcTime(seconds, text, UTC_TIME_CHARACTERS + 1)) return "";
  return Ascii(text);
}

std::string ManifestText(const std::vector<ClientFile>& files, const std::vector<std::vector<MadePatch>>& patches,
                         const std::wstring& version, uint64_t serial, const ManifestKeyFields& keys) {
  std::string out = "[release]\r\n";
  Line(&out, "format", "1");
  Line(&out, "count", Number(files.size()));
  Line(&out, "launch", Ascii(LAUNCH_EXECUTABLE));
  if (!version.empty()) Line(&out, "version", Ascii(version));
  if (serial != 0) Line(&out, "serial", Number(serial));
  if (keys.key_version != 0) {
    Line(&out, "key_version", Number(keys.key_version));
    Line(&out, "signed", UtcText(keys.signed_at));
    Line(&out, "expires", UtcText(keys.expires));
  }
  for (size_t n = 0; n < files.size(); ++n) {
    const ClientFile& file = files[n];
    out += "\r\n[file." + Number(n) + "]\r\n";
    Line(&out, "name", Ascii(file.name));
    Line(&out, "sha256", Ascii(file.sha256));
    Line(&out, "size", Number(file.size));
    Line(&out, "full", Ascii(RemoteBlobPath(L"files", file.sha256)));
    Line(&out, "patches", Number(patches[n].size()));
    for (size_t m = 0; m < patches[n].size(); ++m) {
      const MadePatch& patch = patches[n][m];
      out += "\r\n[patch." + Number(n) + "." + Number(m) + "]\r\n";
      Line(&out, "base_sha256", Ascii(patch.base_sha256));
      Line(&out, "sha256", Ascii(patch.sha256));
      Line(&out, "size", Number(patch.size));
      Line(&out, "path", Ascii(RemoteBlobPath(L"patches", patch.sha256)));
    }
  }
  return out;
}

int IsVersionText(const std::wstring& version) {
  if (version.empty() || version.size() > 64) return 0;
  if (version.front() == L' ' || version.back() == L' ') return 0;
  // The INI reader may take a value in quotes as the text inside them.
  for (wchar_t end : {version.front(), version.back()}) {
    if (end == L'"' || end == L'\'') return 0;
  }
  for (wchar_t c : version) {
    if (c < 0x20 || c > 0x7e) return 0;
  }
  return 1;
}
