// The nginx feed that the test fixture runs (tests/nginx): Debian's nginx
// on loopback, serving its root folder over TLS through the site
// configuration shipped in deploy/nginx, with a certificate of the test
// authority that the test wine prefix trusts.
#pragma once

#include <string>
#include <vector>

struct NginxFeed {
  int port = 0;
  std::wstring www;  // the server's root folder

  // Reads the fixture's state; false when nginx is not running.
  bool Load();

  // A fresh folder below the root for one test's release.
  std::wstring Folder(const std::string& name) const;

  // The feed address of such a folder ("https://localhost:<port>/<name>/").
  std::string Url(const std::string& name) const;

  // The requests nginx has answered so far, one per line, oldest first:
  // <method> <path> <status> <body bytes sent> "<user agent>".
  std::vector<std::string> Requests() const;

  // The requests whose path lies below /<name>/.
  std::vector<std::string> RequestsFor(const std::string& name) const;
};
