#include "support/nginx_feed.h"

#include <stdlib.h>

#include "support/files.h"

#ifndef QF8_NGINX_STATE
#error "QF8_NGINX_STATE must name the nginx fixture's folder"
#endif

static std::wstring State() { return WindowsPath(QF8_NGINX_STATE); }

bool NginxFeed::Load() {
  port = atoi(ReadBytes(Join(State(), L"port")).c_str());
  www = Join(State(), L"www");
  return port > 0 && IsFolder(www);
}

std::wstring NginxFeed::Folder(const std::string& name) const {
  std::wstring folder = Join(www, Wide(name));
  RemoveTree(folder);
  MakeFolder(folder);
  return folder;
}

std::string NginxFeed::Url(const std::string& name) const {
  return "https://localhost:" + std::to_string(port) + "/" + name + "/";
}

std::vector<std::string> NginxFeed::Requests() const {
  std::vector<std::string> lines;
  std::string text = ReadBytes(Join(State(), L"access.log"));
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::vector<std::string> NginxFeed::RequestsFor(const std::string& name) const {
  std::vector<std::string> mine;
  for (const std::string& line : Requests()) {
    size_t path = line.find(' ');
    if (path != std::string::npos && line.compare(path + 1, name.size() + 2, "/" + name + "/") == 0) {
      mine.push_back(line);
    }
  }
  return mine;
}
