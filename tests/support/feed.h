// The loopback HTTPS feed that the test fixture runs (tests/https).
#pragma once

#include <string>

struct TestFeed {
  int port = 0;            // trusted certificate
  int untrusted_port = 0;  // certificate from an authority nobody trusts
  std::wstring www;        // the server's root folder

  // Reads the fixture's state; false when the server is not running.
  bool Load();

  // A fresh folder below the root for one test's release.
  std::wstring Folder(const std::string& name) const;

  // The feed address of such a folder ("https://localhost:<port>/<name>/").
  std::string Url(const std::string& name) const;
  std::string UntrustedUrl(const std::string& name) const;

  // Paths the server's redirect targets were asked for, one per line.
  std::string Hits() const;

  // Lets a /hold/<token>/ request go on.
  void Release(const std::string& token) const;
};
