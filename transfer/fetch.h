// Fetching one file of the release from the package folder or the feed.
#pragma once

#include <stdint.h>

// What a feed address the HTTPS client cannot use reports.
extern const wchar_t NEED_HTTPS_MESSAGE[];

// What a download that fails reports (connection, status, size).
extern const wchar_t DOWNLOAD_FAILED_MESSAGE[];

// 1 for a release-relative path of 1 to 240 characters from '-', '.', '/',
// '0'-'9' and 'a'-'z' that does not begin with '/' and holds no "..".
int IsRemotePath(const wchar_t* text);

// 1 for a feed address the fetcher can use: it begins with "https://",
// ends with '/' and has something between the two.
int IsFeedAddress(const wchar_t* feed);

// The file that remote_path names in the package folder package_dir, into
// source (1024 characters), with every '/' turned into '\'. 0 when the
// joined path would not fit: it would be cut and name another file.
int PackageSourcePath(const wchar_t* package_dir, const wchar_t* remote_path, wchar_t* source);

// Brings the file named by remote_path into a new file at destination,
// which must not exist. expected_size 0 means "unknown": the file may then
// have at most 1 MiB. Copies from the package folder when one is set,
// otherwise downloads it with one HTTPS GET below the feed address. On 0
// exactly one status line has been reported; a download that fails leaves
// no file that this call created. The content is not checked here.
int FetchFile(const wchar_t* remote_path, const wchar_t* destination, uint64_t expected_size);

// FetchFile of a file whose size is not known but may exceed 1 MiB: any
// size up to limit is taken. The release tool fetches patch bases so; the
// updater never fetches without knowing the size or the 1 MiB bound. Over
// HTTPS the request keeps no connection for later requests, and a body
// must have the length its answer announces, if any: under wine a body
// past 2 GiB ends early as if complete.
int FetchFileUpTo(const wchar_t* remote_path, const wchar_t* destination, uint64_t limit);
