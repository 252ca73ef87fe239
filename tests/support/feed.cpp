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
