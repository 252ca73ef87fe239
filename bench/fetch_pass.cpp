// The updater's own fetcher on its own: FetchFile for each remote path
// below a feed, into a new file each, exactly as staging calls it for a
// whole file, without the hashing that staging does afterwards. The
// benchmark compares it with the bare loop (download_loop.cpp).
//   fetch_pass <feed url> <destination folder> <size> <remote path>...
// Every file must have <size> bytes; each lands as <n>.bin.
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "app/config.h"
#include "platform/text.h"
#include "transfer/fetch.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  FormatInto(config.feed_url, L"%ls", argv[1]);
  config.package_dir[0] = L'\0';
  uint64_t size = _wcstoui64(argv[3], nullptr, 10);
  for (int i = 4; i < argc; ++i) {
    wchar_t destination[1024];
    FormatInto(destination, L"%ls\\%d.bin", argv[2], i - 4);
    if (!FetchFile(argv[i], destination, size)) {
      fprintf(stderr, "fetch %d failed\n", i - 4);
      return 3;
    }
  }
  printf("%d files of %llu bytes\n", argc - 4, static_cast<unsigned long long>(size));
  return 0;
}
