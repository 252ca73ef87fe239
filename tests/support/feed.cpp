#include "support/feed.h"

#include <stdio.h>

#include "support/files.h"

#ifndef QF8_HTTPS_STATE
#error "QF8_HTTPS_STATE must name the HTTPS fixture's folder"
#endif

static std::wstring State() { return WindowsPath(QF8_HTTPS_STATE); }

bool TestFeed::Load() {
  std::string ports = ReadBytes(Join(State(), L"ports"));
  if (sscanf(ports.c_str(), "%d %d %d %d %d", &port, &untrusted_port, &other_host_port, &expired_port,
             &self_signed_port) != 5) {
    return false;
  }
  www = Join(State(), L"www");
  return true;
}

std::wstring TestFeed::Folder(const std::string& name) const {
  std::wstring folder = Join(www, Wide(name));
  RemoveTree(folder);
  MakeFolder(folder);
  return folder;
}

std::string TestFeed::Url(const std::string& name) const {
  return "https://localhost:" + std::to_string(port) + "/" + name + "/";
}

std::string TestFeed::UntrustedUrl(const std::string& name) const {
  return "https://localhost:" + std::to_string(untrusted_port) + "/" + name + "/";
}

std::string TestFeed::UrlOn(int server_port, const std::string& name) const {
  return "https://localhost:" + std::to_string(server_port) + "/" + name + "/";
}

std::string TestFeed::Hits() const { return ReadBytes(Join(State(), L"hits")); }

void TestFeed::Release(const std::string& token) const {
  WriteBytes(Join(Join(www, L".release"), Wide(token)), "go");
}

void TestFeed::Control(const std::string& url_path, const std::string& line) const {
  std::string name = url_path;
  for (char& c : name) {
    if (c == '/') c = '~';
  }
  std::wstring folder = Join(www, L".faults");
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = Join(folder, Wide(name));
  if (line.empty()) {
    DeleteFileW(path.c_str());
  } else {
    WriteBytes(path, line);
  }
}

std::vector<std::string> TestFeed::Gets(const std::string& url_path) const {
  std::vector<std::string> gets;
  const std::string text = Hits();
  const std::string mark = "GET " + url_path + " ";
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (text.compare(start, mark.size(), mark) == 0) gets.push_back(text.substr(start + mark.size(), end - start - mark.size()));
  }
  return gets;
}

std::vector<int> TestFeed::ConnectionsBelow(const std::string& folder_path) const {
  std::vector<int> ports;
  const std::string text = Hits();
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    int port = 0;
    char path[1024];
    if (sscanf(text.c_str() + start, "CONN %d %1023s", &port, path) == 2 &&
        std::string(path).compare(0, folder_path.size(), folder_path) == 0) {
      ports.push_back(port);
    }
  }
  return ports;
}
