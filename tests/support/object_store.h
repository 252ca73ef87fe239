// The feed in an object store that the test fixtures run (tests/ceph): a
// throwaway Ceph cluster's S3 gateway holding a bucket, and nginx as its
// HTTPS front through the front configuration shipped in deploy/nginx.
// Releases get there through the publishing script of deploy/s3, run on
// the build machine's side.
#pragma once

#include <string>
#include <vector>

struct ObjectStore {
  int front_port = 0;
  std::string endpoint;  // the gateway's own address, http://127.0.0.1:<port>
  std::string bucket;

  // Reads the fixtures' state; false when the store or its front is not
  // running.
  bool Load();

  // The feed address of a prefix of the bucket through the front
  // ("https://localhost:<port>/<prefix>/").
  std::string Url(const std::string& prefix) const;

  // What one run of the publishing script did.
  struct Published {
    int exit_code = -1;  // -1: it did not end within its time
    std::string output;  // standard output and error
  };
  // Runs deploy/s3/publish.sh <feed> s3://<bucket>/<prefix>/ with the
  // gateway's address, the publisher's credentials and more arguments.
  Published Publish(const std::wstring& feed, const std::string& prefix, const std::string& more = "") const;

  // Runs the aws tool (Debian's when present) with the gateway's address,
  // the publisher's credentials and the arguments, e.g. "s3 cp <unix path>
  // s3://<bucket>/<key>".
  Published Aws(const std::string& arguments) const;

  // The body bytes the gateway logged as sent for GETs of one key below
  // <prefix>/, summed.
  unsigned long long StoreBytesSent(const std::string& prefix, const std::string& key) const;

  // The requests the gateway has logged for keys below <prefix>/, oldest
  // first, as "<method> <key below the prefix> <status>" (the gateway logs
  // a request when it has ended).
  std::vector<std::string> StoreRequests(const std::string& prefix) const;

  // The requests the front has answered below /<prefix>/, oldest first:
  // <method> <path> <status> <body bytes> "<agent>" range=".." store=".." cache="..".
  std::vector<std::string> FrontRequests(const std::string& prefix) const;
};
