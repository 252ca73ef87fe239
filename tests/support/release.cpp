#include "support/release.h"

#include "support/files.h"
#include "support/sha256.h"
#include "tools/patch_format.h"

std::string Hex(const std::wstring& digest) { return Utf8(digest); }
std::string DigestOf(const std::string& bytes) { return Utf8(Sha256Hex(bytes)); }

std::string MakeTestPatch(const std::string& base, const std::string& target) {
  return MakePatch(base, target);
}

Release::Release(const std::wstring& root) : root_(root) {
  MakeFolder(root_);
  Set("release", "format", "1");
  Set("release", "count", "0");
  Set("release", "launch", "Quenfar8.exe");
  Set("release", "version", "test");
}

Release::Section* Release::Find(const std::string& name) {
  for (Section& section : sections_) {
    if (section.name == name) return &section;
  }
  sections_.push_back(Section{name, {}});
  return &sections_.back();
}

void Release::Set(const std::string& section, const std::string& key, const std::string& value) {
  Section* s = Find(section);
  for (auto& entry : s->keys) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  s->keys.emplace_back(key, value);
}

void Release::Erase(const std::string& section, const std::string& key) {
  Section* s = Find(section);
  for (size_t i = 0; i < s->keys.size(); ++i) {
    if (s->keys[i].first == key) s->keys.erase(s->keys.begin() + i);
  }
}

void Release::Put(const std::string& remote_path, const std::string& bytes) {
  std::wstring path = root_;
  std::wstring relative = Wide(remote_path);
  size_t start = 0;
  for (;;) {
    size_t slash = relative.find(L'/', start);
    if (slash == std::wstring::npos) break;
    path = Join(path, relative.substr(start, slash - start));
    MakeFolder(path);
    start = slash + 1;
  }
  WriteBytes(Join(path, relative.substr(start)), bytes);
}

int Release::AddFile(const std::string& name, const std::string& content, const std::string& full) {
  int n = int(contents_.size());
  contents_.push_back(content);
  patch_counts_.push_back(0);
  std::string remote = full;
  if (remote.empty()) {
    remote = "files/";
    for (char c : name) remote.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  }
  std::string section = "file." + std::to_string(n);
  Set(section, "name", name);
  Set(section, "sha256", DigestOf(content));
  Set(section, "size", std::to_string(content.size()));
  Set(section, "full", remote);
  Set(section, "patches", "0");
  Set("release", "count", std::to_string(contents_.size()));
  Put(remote, content);
  return n;
}

int Release::AddPatch(int n, const std::string& base, const std::string& path, const std::string* patch_bytes) {
  int m = patch_counts_[n]++;
  std::string remote = path.empty() ? "patches/" + std::to_string(n) + "-" + std::to_string(m) + ".qpatch" : path;
  std::string patch = patch_bytes ? *patch_bytes : MakePatch(base, contents_[n]);
  std::string section = "patch." + std::to_string(n) + "." + std::to_string(m);
  Set(section, "base_sha256", DigestOf(base));
  Set(section, "sha256", DigestOf(patch));
  Set(section, "size", std::to_string(patch.size()));
  Set(section, "path", remote);
  Set("file." + std::to_string(n), "patches", std::to_string(patch_counts_[n]));
  Put(remote, patch);
  return m;
}

std::string Release::ManifestText() const {
  std::string text;
  for (const Section& section : sections_) {
    text += "[" + section.name + "]\r\n";
    for (const auto& entry : section.keys) text += entry.first + "=" + entry.second + "\r\n";
  }
  return text;
}

void Release::WriteManifest() const {
  WriteBytes(Join(root_, L"manifest.ini"), ManifestText());
}
