// The benchmark's yardstick for downloads: a bare WinHTTP loop that fetches
// each remote path below a feed into a new file, with the fetcher's
// settings (one session per file, the same time-outs, TLS, no redirects),
// the same 64 KiB chunk and the same flush at the end, and nothing else:
// no size limit, no checks beyond status 200.
//   download_loop <feed url> <destination folder> <remote path>...
// Each file lands in the destination folder as <n>.bin, n counting from 0.
#include <stdio.h>
#include <wchar.h>

#include "platform/files.h"
#include "platform/https.h"
#include "platform/text.h"

static unsigned char chunk[65536];  // the one transfer buffer

// Downloads address into a new file at destination; adds the body's length
// to *bytes. 1 on status 200 and a complete, flushed file.
static int Download(const wchar_t* address, const wchar_t* destination, uint64_t* bytes) {
  wchar_t host[256];
  wchar_t path[2048];
  uint16_t port = 0;
  if (!SplitHttpsAddress(address, host, 256, path, 2048, &port)) return 0;
  HttpsHandle session = OpenHttpsSession(L"Quenfar8Updater/1");
  HttpsHandle connection = nullptr;
  HttpsHandle request = nullptr;
  FileHandle file = NO_FILE;
  int ok = session != nullptr;
  if (ok) {
    SetHttpsTimeouts(session, 15000, 15000, 30000, 30000);
    ok = (connection = ConnectHttps(session, host, port)) != nullptr;
  }
  ok = ok && (request = OpenHttpsGet(connection, path)) != nullptr;
  ok = ok && RefuseRedirects(request) && SendHttpsRequest(request) && ReceiveHttpsResponse(request);
  uint32_t status = 0;
  ok = ok && QueryHttpsStatus(request, &status) && status == 200;
  ok = ok && (file = CreateNewFile(destination)) != NO_FILE;
  while (ok) {
    uint32_t got = 0;
    ok = ReadHttpsBody(request, chunk, sizeof chunk, &got);
    if (!ok || got == 0) break;
    *bytes += got;
    ok = WriteAll(file, chunk, got);
  }
  ok = ok && FlushFile(file);
  CloseFile(file);
  CloseHttps(request);
  CloseHttps(connection);
  CloseHttps(session);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  uint64_t bytes = 0;
  for (int i = 3; i < argc; ++i) {
    wchar_t address[2048];
    wchar_t destination[1024];
    FormatInto(address, L"%ls%ls", argv[1], argv[i]);
    FormatInto(destination, L"%ls\\%d.bin", argv[2], i - 3);
    if (!Download(address, destination, &bytes)) {
      fprintf(stderr, "download %d failed\n", i - 3);
      return 3;
    }
  }
  printf("%d files, %llu bytes\n", argc - 3, static_cast<unsigned long long>(bytes));
  return 0;
}
