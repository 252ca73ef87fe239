// Fetching one file of the release from the package folder or the feed.
#pragma once

#include <stdint.h>

// 1 for a release-relative path of 1 to 240 characters from '-', '.', '/',
// '0'-'9' and 'a'-'z' that does not begin with '/' and holds no "..".
int IsRemotePath(const wchar_t* text);

// Brings the file named by remote_path into a new file at destination,
// which must not exist. expected_size 0 means "unknown": the file may then
// have at most 1 MiB. Copies from the package folder when one is set,
// otherwise downloads it with one HTTPS GET below the feed address. On 0
// exactly one status line has been reported; a download that fails leaves
// no file that this call created. The content is not checked here.
int FetchFile(const wchar_t* remote_path, const wchar_t* destination, uint64_t expected_size);
