// The loopback HTTPS feed that the test fixture runs (tests/https).
#pragma once

#include <string>
#include <vector>

struct TestFeed {
  int port = 0;            // trusted certificate
  int untrusted_port = 0;  // certificate from an authority nobody trusts
  // Certificates that must be refused although nothing else is wrong:
  int other_host_port = 0;   // from the trusted authority for another host name (elsewhere.test)
  int expired_port = 0;      // from the trusted authority for localhost, expired years ago
  int self_signed_port = 0;  // for localhost, signed by its own key
  std::wstring www;          // the server's root folder

  // Reads the fixture's state; false when the server is not running.
  bool Load();

  // A fresh folder below the root for one test's release.
  std::wstring Folder(const std::string& name) const;

  // The feed address of such a folder ("https://localhost:<port>/<name>/").
  std::string Url(const std::string& name) const;
  std::string UntrustedUrl(const std::string& name) const;
  // The same folder on the server with the given port.
  std::string UrlOn(int server_port, const std::string& name) const;

  // What the server recorded, one line each: the paths its redirect
  // targets were asked for, the faults it played ("fault-<kind> <path>")
  // and the connections that ended without a request
  // ("<port>: no request, handshake ...").
  std::string Hits() const;

  // Makes requests for url_path ("/<folder>/files/x") follow a control
  // line (see tests/https/server.py), or, with an empty line, behave again.
  void Control(const std::string& url_path, const std::string& line) const;

  // The GETs the server answered for url_path, oldest first, each as
  // "<Range or -> <If-Range or -> <status>".
  std::vector<std::string> Gets(const std::string& url_path) const;

  // The client ports of the connections that carried the GETs below
  // folder_path ("/<folder>/"), one per GET, oldest first.
  std::vector<int> ConnectionsBelow(const std::string& folder_path) const;

  // Lets a /hold/<token>/ request go on.
  void Release(const std::string& token) const;
};
