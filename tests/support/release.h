// Builds a release for tests: manifest.ini and the files it names, in a
// package folder or below the test HTTPS server's root.
#pragma once

#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

class Release {
 public:
  // Files go below root (a package folder, or a feed folder on the server).
  explicit Release(const std::wstring& root);

  // Adds [file.N] for content, stored whole at full (default
  // "files/<name in lower case>"). Returns N.
  int AddFile(const std::string& name, const std::string& content, const std::string& full = "");

  // Adds [patch.N.M] turning base into the file's content, stored at path
  // (default "patches/<n>-<m>.qpatch"). Returns M. With patch_bytes given,
  // those bytes are stored instead of a real patch.
  int AddPatch(int n, const std::string& base, const std::string& path = "", const std::string* patch_bytes = nullptr);

  // Sets or removes one key; a section that does not exist yet is added.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  void Erase(const std::string& section, const std::string& key);

  // Stores bytes at a remote path below the root, folders included.
  void Put(const std::string& remote_path, const std::string& bytes);

  std::string ManifestText() const;
  void WriteManifest() const;

  const std::string& Content(int n) const { return contents_[n]; }

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  Section* Find(const std::string& name);
  std::wstring root_;
  std::vector<Section> sections_;
  std::vector<std::string> contents_;
  std::vector<int> patch_counts_;
};

// A patch in the test tool's format that turns base into target.
std::string MakeTestPatch(const std::string& base, const std::string& target);

std::string Hex(const std::wstring& digest);
std::string DigestOf(const std::string& bytes);  // lowercase hex as UTF-8
