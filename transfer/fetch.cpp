// The fetcher: package copies and HTTPS downloads.
#include "transfer/fetch.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/https.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/http_text.h"
#include "transfer/ranged_fetch.h"

// Largest file fetched without an expected size (in practice the manifest).
static const uint64_t kUnknownSizeLimit = 1048576;

// Bytes moved per read; also the most an oversized answer costs beyond the
// limit, since the limit is checked before each chunk is written.
static const uint32_t kTransferChunk = 65536;

static const wchar_t kBadPath[] = L"잘못된 패치 파일 경로입니다.";
static const wchar_t kNoPackageFile[] = L"패키지 파일이 없습니다.";
static const wchar_t kPackageSize[] = L"패키지 파일 크기가 다릅니다.";
static const wchar_t kPackageCopy[] = L"패키지 파일을 복사하지 못했습니다.";
extern const wchar_t NEED_HTTPS_MESSAGE[] = L"HTTPS 패치 주소가 필요합니다.";
extern const wchar_t DOWNLOAD_FAILED_MESSAGE[] = L"패치 다운로드에 실패했습니다. 연결과 배포 주소를 확인해 주세요.";

int IsRemotePath(const wchar_t* text) {
  if (text[0] == L'\0' || text[0] == L'/') return 0;
  if (wcsstr(text, L"..") != nullptr) return 0;
  size_t length = wcslen(text);
  if (length > 240) return 0;
  for (size_t i = 0; i < length; ++i) {
    wchar_t c = text[i];
    // '-' to '9' covers '-', '.', '/' and the digits.
    if (!((c >= L'-' && c <= L'9') || (c >= L'a' && c <= L'z'))) return 0;
  }
  return 1;
}

// What a fetch accepts: exactly the expected size when there is one, else
// at most the limit (1 MiB for the updater's fetches).
struct SizeRule {
  uint64_t expected;  // 0: not known
  uint64_t limit;     // the most bytes when the size is not known
};

static int SizeFits(uint64_t size, SizeRule rule) {
  return rule.expected != 0 ? size == rule.expected : size <= rule.limit;
}

int IsFeedAddress(const wchar_t* feed) {
  size_t length = wcslen(feed);
  return wcsncmp(feed, L"https://", 8) == 0 && length > 9 && feed[length - 1] == L'/';
}

int PackageSourcePath(const wchar_t* package_dir, const wchar_t* remote_path, wchar_t* source) {
  // A package folder may be up to 1023 characters long; joined with a
  // remote path the result could be cut and then name another file
  // ("manifest.in" for "manifest.ini"). Such a file cannot be addressed.
  if (wcslen(package_dir) + 1 + wcslen(remote_path) >= PATH_CAPACITY) return 0;
  JoinPath(source, package_dir, remote_path);
  for (wchar_t* c = source; *c != L'\0'; ++c) {
    if (*c == L'/') *c = PATH_SEPARATOR_CHAR;
  }
  return 1;
}

static int FetchFromPackage(const wchar_t* remote_path, const wchar_t* destination, SizeRule rule) {
  wchar_t source[PATH_CAPACITY];
  if (!PackageSourcePath(config.package_dir, remote_path, source)) {
    ReportStatus(kNoPackageFile);
    return 0;
  }
  uint64_t size = 0;
  if (!FileSizeFromAttributes(source, &size)) {
    ReportStatus(kNoPackageFile);
    return 0;
  }
  if (!SizeFits(size, rule)) {
    ReportStatus(kPackageSize);
    return 0;
  }
  if (!CopyToNewFile(source, destination)) {
    ReportStatus(kPackageCopy);
    return 0;
  }
  AddDownloadBytes(size);
  return 1;
}

// 1 for the rule of FetchFileUpTo: no size known and more than the
// updater's 1 MiB allowed, so the body may pass 2 GiB.
static int IsOpenEnded(SizeRule rule) {
  return rule.expected == 0 && rule.limit > kUnknownSizeLimit;
}

// The announced length of an answer that announced none, or whose length
// is not checked.
static const uint64_t kNotAnnounced = ~0ull;

// Streams the body of an answered request into the open file, stopping
// before a chunk that would pass the limit is written. announced: the
// length the answer announced, which the body must then have, or
// kNotAnnounced.
static int ReceiveBody(HttpsHandle request, FileHandle file, SizeRule rule, uint64_t announced) {
  unsigned char chunk[kTransferChunk];
  uint64_t expected_size = rule.expected;
  uint64_t limit = expected_size != 0 ? expected_size : rule.limit;
  uint64_t total = 0;
  for (;;) {
    uint32_t got = 0;
    if (!ReadHttpsBody(request, chunk, kTransferChunk, &got)) return 0;
    if (got == 0) break;
    total += got;
    if (total > limit) return 0;
    if (!WriteAll(file, chunk, got)) return 0;
    AddDownloadBytes(got);
  }
  if (expected_size != 0 && total != expected_size) return 0;
  if (announced != kNotAnnounced && total != announced) return 0;
  return FlushFile(file);
}

// The HTTPS handles of one download, released in reverse order of opening.
struct Download {
  HttpsHandle session;
  HttpsHandle connection;
  HttpsHandle request;
  FileHandle file;
};

static void ReleaseDownload(Download* download) {
  CloseFile(download->file);
  CloseHttps(download->request);
  CloseHttps(download->connection);
  CloseHttps(download->session);
}

static int Download200(Download* d, const wchar_t* host, uint16_t port, const wchar_t* url_path,
                       const wchar_t* destination, SizeRule rule, int* created) {
  d->session = OpenHttpsSession(L"Quenfar8Updater/1");
  if (d->session == nullptr) return 0;
  SetHttpsTimeouts(d->session, 15000, 15000, 30000, 30000);
  d->connection = ConnectHttps(d->session, host, port);
  if (d->connection == nullptr) return 0;
  d->request = OpenHttpsGet(d->connection, url_path);
  if (d->request == nullptr) return 0;
  if (!RefuseRedirects(d->request)) return 0;
  // A body of unknown size may pass 2 GiB, where wine's WinHTTP ends it
  // early as if complete and pools the connection with the rest still
  // unread: the next request of the process, even in another session,
  // would read those bytes as its answer. Such a request ends its
  // connection with its answer instead.
  if (IsOpenEnded(rule) && !RefuseConnectionReuse(d->request)) return 0;
  if (!SendHttpsRequest(d->request)) return 0;
  if (!ReceiveHttpsResponse(d->request)) return 0;
  uint32_t status = 0;
  if (!QueryHttpsStatus(d->request, &status) || status != 200) return 0;
  // Only the announced length tells such an early end from the real one.
  uint64_t announced = kNotAnnounced;
  wchar_t length[32];
  if (IsOpenEnded(rule) && QueryHttpsHeaderText(d->request, L"Content-Length", length, 32) &&
      (!ParseDecimalText(length, &announced) || announced > rule.limit)) {
    return 0;
  }
  d->file = CreateNewFile(destination);
  if (d->file == NO_FILE) return 0;
  *created = 1;
  return ReceiveBody(d->request, d->file, rule, announced);
}

static int FetchOverHttps(const wchar_t* remote_path, const wchar_t* destination, SizeRule rule) {
  if (config.network_resilient) {
    return rule.expected != 0 ? FetchExactly(remote_path, rule.expected, destination)
                              : FetchSmallResilient(remote_path, destination, rule.limit);
  }
  wchar_t address[2048];
  wchar_t host[256];
  wchar_t url_path[2048];
  uint16_t port = 0;
  FormatInto(address, L"%ls%ls", config.feed_url, remote_path);
  if (!SplitHttpsAddress(address, host, 256, url_path, 2048, &port)) {
    ReportStatus(NEED_HTTPS_MESSAGE);
    return 0;
  }
  Download download = {nullptr, nullptr, nullptr, NO_FILE};
  // Only a file this call created may be deleted on failure: when the
  // create-new open fails, whatever is at the destination belongs to
  // someone else and stays.
  int created = 0;
  int ok = Download200(&download, host, port, url_path, destination, rule, &created);
  ReleaseDownload(&download);
  if (ok) return 1;
  if (created) DeleteOneFile(destination);
  ReportStatus(DOWNLOAD_FAILED_MESSAGE);
  return 0;
}

static int FetchWithRule(const wchar_t* remote_path, const wchar_t* destination, SizeRule rule) {
  if (!IsRemotePath(remote_path)) {
    ReportStatus(kBadPath);
    return 0;
  }
  if (config.package_dir[0] != L'\0') return FetchFromPackage(remote_path, destination, rule);
  return FetchOverHttps(remote_path, destination, rule);
}

int FetchFile(const wchar_t* remote_path, const wchar_t* destination, uint64_t expected_size) {
  return FetchWithRule(remote_path, destination, SizeRule{expected_size, kUnknownSizeLimit});
}

int FetchFileUpTo(const wchar_t* remote_path, const wchar_t* destination, uint64_t limit) {
  return FetchWithRule(remote_path, destination, SizeRule{0, limit});
}
