// Resilient downloads over one connection, in ranges, with retries.
#include "transfer/ranged_fetch.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/https.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "transfer/fetch.h"
#include "transfer/http_text.h"

static const wchar_t kRetrying[] = L"연결이 원활하지 않아 다시 연결합니다. (%u/%u번째 시도)";

// Bytes moved per read.
static const uint32_t kChunk = 65536;

// The first wait before a retry, the longest wait, and the longest
// Retry-After honoured (a server asking for more fails the file).
static const uint32_t kFirstWaitMs = 1000;
static const uint32_t kLongestWaitMs = 30000;
static const uint32_t kLongestRetryAfterMs = 60000;

// Retries after attempts that brought no byte, for the whole process: a
// dead server does not cost every file its full set of attempts.
static const uint32_t kFruitlessRetries = 12;

// The receive time-out of one read, as in the plain fetcher.
static const int kReceiveTimeoutMs = 30000;

static HttpsHandle fetch_session = nullptr;       // the one WinHTTP session; null while none is open
static HttpsHandle fetch_connection = nullptr;    // its connection to the feed's host; null while none is open
static wchar_t connected_host[256];              // the host fetch_connection was opened for
static uint16_t connected_port = 0;              // and its port
static uint32_t fruitless_left = kFruitlessRetries;  // what remains of the process's retry budget
static uint32_t jitter_state = 0;                // the jitter's generator; 0 until first used

// How one attempt ended.
enum class AttemptEnd : uint32_t {
  kComplete,    // the local file holds every byte
  kTransient,   // worth another attempt after a wait
  kFatal,       // never tried again
  kStartWhole,  // the bytes held cannot be continued: drop them and fetch the file whole
};

// What one attempt learned besides its end.
struct AttemptNotes {
  uint64_t new_bytes;        // body bytes written by the attempt
  uint32_t retry_after_ms;   // the server's Retry-After; 0: none
  int32_t retry_after_over;  // the server asked for a wait beyond the longest honoured
  int32_t restarted;         // the attempt dropped bytes held before and began at byte 0
};

// The feed address of one remote file, split for the connection.
struct Target {
  wchar_t host[256];
  wchar_t url_path[2048];
  uint16_t port;
};

// The receive time-out; the test build may shorten it so that a stall
// test need not wait half a minute.
static int ReceiveTimeoutMs() {
#ifdef UPDATER_TEST_SEAMS
  uint32_t forced = 0;
  if (ReadEnvironmentNumber(L"QUENFAR8_TEST_RECEIVE_MS", &forced) && forced > 0) return static_cast<int>(forced);
#endif
  return kReceiveTimeoutMs;
}

// The first wait before a retry; the test build may shorten it.
static uint32_t FirstWaitMs() {
#ifdef UPDATER_TEST_SEAMS
  uint32_t forced = 0;
  if (ReadEnvironmentNumber(L"QUENFAR8_TEST_RETRY_MS", &forced)) return forced;
#endif
  return kFirstWaitMs;
}

// A number below bound from a small generator seeded by the clock and the
// process id: jitter needs no strength, only different values per player.
static uint32_t JitterBelow(uint32_t bound) {
  if (jitter_state == 0) {
    jitter_state = static_cast<uint32_t>(MillisecondsNow()) ^ (CurrentProcessId() * 2654435761u);
    if (jitter_state == 0) jitter_state = 1;
  }
  jitter_state ^= jitter_state << 13;
  jitter_state ^= jitter_state >> 17;
  jitter_state ^= jitter_state << 5;
  return bound == 0 ? 0 : jitter_state % bound;
}

void EndFetchConnection() {
  CloseHttps(fetch_connection);
  CloseHttps(fetch_session);
  fetch_connection = nullptr;
  fetch_session = nullptr;
}

// Opens the session and the connection unless they are open for this host
// and port already.
static int EnsureConnection(const Target* target) {
  if (fetch_connection != nullptr && connected_port == target->port && wcscmp(connected_host, target->host) == 0) {
    return 1;
  }
  EndFetchConnection();
  fetch_session = OpenHttpsSession(L"Quenfar8Updater/1");
  if (fetch_session == nullptr) return 0;
  SetHttpsTimeouts(fetch_session, 15000, 15000, 30000, ReceiveTimeoutMs());
  fetch_connection = ConnectHttps(fetch_session, target->host, target->port);
  if (fetch_connection == nullptr) return 0;
  CopyInto(connected_host, target->host);
  connected_port = target->port;
  return 1;
}

// How the WinHTTP call that just failed ends the attempt: a refused
// certificate or a call the client refused is never tried again.
static AttemptEnd FailureOfLastCall() {
  return LastHttpsFailure() == HttpsFailure::kTransient ? AttemptEnd::kTransient : AttemptEnd::kFatal;
}

// Sends one GET with the extra header lines and waits for its answer.
static AttemptEnd SendGet(const Target* target, const wchar_t* headers, HttpsHandle* request) {
  if (!EnsureConnection(target)) return FailureOfLastCall();
  *request = OpenHttpsGet(fetch_connection, target->url_path);
  if (*request == nullptr) return FailureOfLastCall();
  if (!RefuseRedirects(*request)) return AttemptEnd::kFatal;
  int sent = headers[0] != L'\0' ? SendHttpsRequestWithHeaders(*request, headers) : SendHttpsRequest(*request);
  if (!sent || !ReceiveHttpsResponse(*request)) return FailureOfLastCall();
  return AttemptEnd::kComplete;
}

// Reads Retry-After (seconds or a date) into the notes.
static void ReadRetryAfter(HttpsHandle request, AttemptNotes* notes) {
  wchar_t text[64];
  if (!QueryHttpsHeaderText(request, L"Retry-After", text, 64)) return;
  uint64_t seconds = 0;
  int64_t date = 0;
  if (!ParseDecimalText(text, &seconds)) {
    if (!ParseHttpDate(text, &date)) return;  // a value not understood asks for nothing
    int64_t left = date - static_cast<int64_t>(UtcSecondsNow());
    seconds = left > 0 ? static_cast<uint64_t>(left) : 0;
  }
  if (seconds * 1000 > kLongestRetryAfterMs) {
    notes->retry_after_over = 1;
  } else {
    notes->retry_after_ms = static_cast<uint32_t>(seconds * 1000);
  }
}

// 1 for the statuses a later attempt may find changed: time-out, too many
// requests, server errors and an overloaded or unreachable upstream.
static int IsTransientStatus(uint32_t status) {
  return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// The strong validator of an answer: its ETag unless weak, else its
// Last-Modified; empty when it has neither.
static void ReadValidator(HttpsHandle request, wchar_t* validator) {
  if (QueryHttpsHeaderText(request, L"ETag", validator, VALIDATOR_CAPACITY) && wcsncmp(validator, L"W/", 2) != 0) {
    return;
  }
  if (!QueryHttpsHeaderText(request, L"Last-Modified", validator, VALIDATOR_CAPACITY)) validator[0] = L'\0';
}

// Checks the announced length against what was asked for: longer is never
// taken, shorter is a cut body. An answer without the header is judged by
// its bytes.
static AttemptEnd JudgeLength(HttpsHandle request, uint64_t wanted) {
  wchar_t text[32];
  uint64_t announced = 0;
  if (!QueryHttpsHeaderText(request, L"Content-Length", text, 32)) return AttemptEnd::kComplete;
  if (!ParseDecimalText(text, &announced) || announced > wanted) return AttemptEnd::kFatal;
  return announced < wanted ? AttemptEnd::kTransient : AttemptEnd::kComplete;
}

// Streams exactly wanted body bytes into file, stopping before a chunk
// that would pass it. Each chunk counts towards the byte progress.
static AttemptEnd ReceiveInto(HttpsHandle request, FileHandle file, uint64_t wanted, AttemptNotes* notes) {
  unsigned char chunk[kChunk];
  uint64_t total = 0;
  for (;;) {
    uint32_t got = 0;
    // Bytes that came before a break are written before the break counts.
    int read = ReadHttpsBodyAsItComes(request, chunk, kChunk, &got);
    if (total + got > wanted) return AttemptEnd::kFatal;
    if (got > 0 && !WriteAll(file, chunk, got)) return AttemptEnd::kFatal;
    total += got;
    notes->new_bytes += got;
    AddDownloadBytes(got);
    if (!read) return AttemptEnd::kTransient;
    if (got < kChunk) break;
  }
  // Wine ends a body that stops short with a clean close as a normal end:
  // only this count tells.
  return total == wanted ? AttemptEnd::kComplete : AttemptEnd::kTransient;
}

// The bytes held at the part file: opened for appending, or created.
struct PartFile {
  FileHandle handle;
  uint64_t have;
};

// Opens the part file for appending (made when absent); 0 when it cannot be.
static int OpenPart(const wchar_t* path, PartFile* part) {
  part->have = 0;
  part->handle = OpenForAppending(path, &part->have);
  return part->handle != NO_FILE;
}

// Drops every byte of the part file and opens it empty.
static int EmptyPart(RangedFile* file, PartFile* part) {
  CloseFile(part->handle);
  part->handle = NO_FILE;
  if (FileAttributes(file->part_path) != NO_ATTRIBUTES && !DeleteOneFile(file->part_path)) return 0;
  return OpenPart(file->part_path, part);
}

// Judges the status of an answer to a request for bytes have to last of a
// file that holds have bytes. On kComplete *start is where the body
// belongs (have, or 0 for a whole file) and *wanted its length.
static AttemptEnd JudgeStatus(HttpsHandle request, const RangedFile* file, uint64_t have, uint64_t last, int ranged,
                              uint64_t* start, uint64_t* wanted, AttemptNotes* notes) {
  uint32_t status = 0;
  if (!QueryHttpsStatus(request, &status)) return AttemptEnd::kTransient;
  if (status == 200) {
    // A whole body: the server ignores ranges, or the file changed since
    // the bytes held were fetched. Under wine a whole body must stay below
    // 2 GiB.
    if (file->size > RANGE_BYTES) return AttemptEnd::kFatal;
    *start = 0;
    *wanted = file->size;
    return AttemptEnd::kComplete;
  }
  if (status == 206 && ranged) {
    wchar_t text[96];
    uint64_t first = 0, final_byte = 0, total = 0;
    if (!QueryHttpsHeaderText(request, L"Content-Range", text, 96) ||
        !ParseContentRange(text, &first, &final_byte, &total) || first != have || final_byte != last ||
        total != file->size) {
      return AttemptEnd::kStartWhole;
    }
    *start = have;
    *wanted = last - have + 1;
    return AttemptEnd::kComplete;
  }
  if (IsTransientStatus(status)) {
    ReadRetryAfter(request, notes);
    return AttemptEnd::kTransient;
  }
  if (status == 416 || status == 206) return AttemptEnd::kStartWhole;
  return AttemptEnd::kFatal;
}

// The extra header lines that ask for bytes have to last.
static void RangeHeaders(const RangedFile* file, uint64_t have, uint64_t last, wchar_t* headers, size_t capacity) {
  if (have == 0 && last + 1 == file->size) {
    headers[0] = L'\0';  // the whole file: a plain GET
    return;
  }
  if (have > 0 && file->validator[0] != L'\0') {
    FormatText(headers, capacity, L"Range: bytes=%llu-%llu\r\nIf-Range: %ls\r\n", static_cast<unsigned long long>(have),
               static_cast<unsigned long long>(last), file->validator);
  } else {
    FormatText(headers, capacity, L"Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(have),
               static_cast<unsigned long long>(last));
  }
}

// One request for the next range of the file, its body written to the
// part file. kComplete here means that range arrived.
static AttemptEnd RequestRange(RangedFile* file, const Target* target, PartFile* part, AttemptNotes* notes) {
  uint64_t have = part->have;
  uint64_t last = (file->size - have > RANGE_BYTES ? have + RANGE_BYTES : file->size) - 1;
  wchar_t headers[VALIDATOR_CAPACITY + 96];
  RangeHeaders(file, have, last, headers, VALIDATOR_CAPACITY + 96);
  HttpsHandle request = nullptr;
  AttemptEnd end = SendGet(target, headers, &request);
  uint64_t start = 0, wanted = 0;
  if (end == AttemptEnd::kComplete) end = JudgeStatus(request, file, have, last, headers[0] != L'\0', &start, &wanted, notes);
  if (end == AttemptEnd::kComplete) end = JudgeLength(request, wanted);
  if (end == AttemptEnd::kComplete && start == 0) {
    wchar_t validator[VALIDATOR_CAPACITY];
    ReadValidator(request, validator);
    if (have > 0) {
      notes->restarted = 1;
      DropDownloadBytes(have);
    }
    if (have > 0 && !EmptyPart(file, part)) end = AttemptEnd::kFatal;
    if (end == AttemptEnd::kComplete && file->on_fresh_start != nullptr &&
        !file->on_fresh_start(file->context, validator)) {
      end = AttemptEnd::kFatal;
    }
    CopyInto(file->validator, validator);
  } else if (end == AttemptEnd::kComplete && file->validator[0] == L'\0') {
    ReadValidator(request, file->validator);
  }
  if (end == AttemptEnd::kComplete) {
    uint64_t before = notes->new_bytes;
    end = ReceiveInto(request, part->handle, wanted, notes);
    part->have = start + (notes->new_bytes - before);
  }
  CloseHttps(request);
  // A request that did not end well may leave its connection with unread
  // bytes, which wine would hand to the next request as its answer: the
  // next attempt opens a connection of its own.
  if (end != AttemptEnd::kComplete) EndFetchConnection();
  return end;
}

// One attempt: ranges one after another until the file is complete or a
// request fails. The part file is flushed at the end either way, so that
// what arrived survives a power cut as far as the disk allows.
static AttemptEnd AttemptRanges(RangedFile* file, const Target* target, AttemptNotes* notes) {
  PartFile part;
  if (!OpenPart(file->part_path, &part)) return AttemptEnd::kFatal;
  if (part.have > file->size && !EmptyPart(file, &part)) {
    CloseFile(part.handle);
    return AttemptEnd::kFatal;
  }
  AttemptEnd end = AttemptEnd::kComplete;
  while (end == AttemptEnd::kComplete && part.have < file->size) {
    end = RequestRange(file, target, &part, notes);
  }
  if (!FlushFile(part.handle) && end == AttemptEnd::kComplete) end = AttemptEnd::kFatal;
  CloseFile(part.handle);
  return end;
}

// After a transient failure: 1 when another attempt is due, after the
// wait has been reported and waited; 0 when the file has had its attempts.
static int WaitForNextAttempt(uint32_t* failures_in_row, const AttemptNotes* notes) {
  if (notes->new_bytes > 0) *failures_in_row = 0;
  ++*failures_in_row;
  if (*failures_in_row >= ATTEMPTS_PER_FILE || notes->retry_after_over) return 0;
  if (notes->new_bytes == 0) {
    if (fruitless_left == 0) return 0;
    --fruitless_left;
  }
  uint32_t base = FirstWaitMs();
  for (uint32_t i = 1; i < *failures_in_row && base < kLongestWaitMs; ++i) base *= 2;
  if (base > kLongestWaitMs) base = kLongestWaitMs;
  uint32_t wait = base + JitterBelow(base / 4 + 1);
  if (wait > kLongestWaitMs) wait = kLongestWaitMs;
  if (notes->retry_after_ms > wait) wait = notes->retry_after_ms;
  wchar_t line[STATUS_CAPACITY];
  FormatInto(line, kRetrying, *failures_in_row + 1, ATTEMPTS_PER_FILE);
  ReportStatus(line);
  WaitMilliseconds(wait);
  return 1;
}

// The host, port and path of remote_path below the feed; 0 when the
// address is no HTTPS address the client can use.
static int SplitTarget(const wchar_t* remote_path, Target* target) {
  wchar_t address[2048];
  FormatInto(address, L"%ls%ls", config.feed_url, remote_path);
  return SplitHttpsAddress(address, target->host, 256, target->url_path, 2048, &target->port);
}

int FetchRemainder(RangedFile* file) {
  file->fetched = 0;
  file->restarted = 0;
  Target target;
  if (!SplitTarget(file->remote_path, &target)) {
    ReportStatus(NEED_HTTPS_MESSAGE);
    return 0;
  }
  uint32_t failures_in_row = 0;
  uint32_t whole_restarts = 0;  // answers that began the file again although bytes were held
  int dropped_once = 0;         // the bytes held were dropped for an answer that did not fit
  for (;;) {
    AttemptNotes notes = {0, 0, 0, 0};
    AttemptEnd end = AttemptRanges(file, &target, &notes);
    file->fetched += notes.new_bytes;
    if (notes.restarted) {
      file->restarted = 1;
      // A server that answers every range with the whole file and cuts it
      // each time would otherwise never stop.
      if (++whole_restarts > ATTEMPTS_PER_FILE) break;
    }
    if (end == AttemptEnd::kComplete) return 1;
    if (end == AttemptEnd::kFatal) break;
    if (end == AttemptEnd::kStartWhole) {
      if (dropped_once) break;
      dropped_once = 1;
      file->restarted = 1;
      file->validator[0] = L'\0';
      uint64_t held = 0;
      if (FileSizeFromAttributes(file->part_path, &held) && held <= file->size) DropDownloadBytes(held);
      if (FileAttributes(file->part_path) != NO_ATTRIBUTES && !DeleteOneFile(file->part_path)) break;
      continue;
    }
    if (!WaitForNextAttempt(&failures_in_row, &notes)) break;
  }
  ReportStatus(DOWNLOAD_FAILED_MESSAGE);
  return 0;
}

int FetchExactly(const wchar_t* remote_path, uint64_t size, const wchar_t* destination) {
  if (FileAttributes(destination) != NO_ATTRIBUTES) {
    ReportStatus(DOWNLOAD_FAILED_MESSAGE);
    return 0;
  }
  RangedFile file = {remote_path, size, destination, {0}, nullptr, nullptr, 0, 0};
  if (FetchRemainder(&file)) return 1;
  if (FileAttributes(destination) != NO_ATTRIBUTES) DeleteOneFile(destination);
  return 0;
}

// One whole GET of a file of at most limit bytes into a new file.
static AttemptEnd AttemptSmall(const Target* target, const wchar_t* destination, uint64_t limit,
                               AttemptNotes* notes) {
  HttpsHandle request = nullptr;
  AttemptEnd end = SendGet(target, L"", &request);
  uint32_t status = 0;
  if (end == AttemptEnd::kComplete && !QueryHttpsStatus(request, &status)) end = AttemptEnd::kTransient;
  if (end == AttemptEnd::kComplete && status != 200) {
    if (IsTransientStatus(status)) ReadRetryAfter(request, notes);
    end = IsTransientStatus(status) ? AttemptEnd::kTransient : AttemptEnd::kFatal;
  }
  wchar_t text[32];
  uint64_t announced = 0;
  if (end == AttemptEnd::kComplete && QueryHttpsHeaderText(request, L"Content-Length", text, 32) &&
      (!ParseDecimalText(text, &announced) || announced > limit)) {
    end = AttemptEnd::kFatal;
  }
  if (end == AttemptEnd::kComplete) {
    FileHandle file = CreateNewFile(destination);
    if (file == NO_FILE) {
      end = AttemptEnd::kFatal;
    } else {
      unsigned char chunk[kChunk];
      uint64_t total = 0;
      for (;;) {
        uint32_t got = 0;
        int read = ReadHttpsBodyAsItComes(request, chunk, kChunk, &got);
        total += got;
        if (total > limit || (got > 0 && !WriteAll(file, chunk, got))) {
          end = AttemptEnd::kFatal;
          break;
        }
        if (!read) {
          end = AttemptEnd::kTransient;
          break;
        }
        if (got < kChunk) break;
      }
      if (end == AttemptEnd::kComplete && announced != 0 && total != announced) end = AttemptEnd::kTransient;
      if (end == AttemptEnd::kComplete && !FlushFile(file)) end = AttemptEnd::kFatal;
      CloseFile(file);
      if (end != AttemptEnd::kComplete) DeleteOneFile(destination);
    }
  }
  CloseHttps(request);
  if (end != AttemptEnd::kComplete) EndFetchConnection();
  return end;
}

int FetchSmallResilient(const wchar_t* remote_path, const wchar_t* destination, uint64_t limit) {
  Target target;
  if (!SplitTarget(remote_path, &target)) {
    ReportStatus(NEED_HTTPS_MESSAGE);
    return 0;
  }
  uint32_t failures_in_row = 0;
  for (;;) {
    AttemptNotes notes = {0, 0, 0, 0};
    AttemptEnd end = AttemptSmall(&target, destination, limit, &notes);
    if (end == AttemptEnd::kComplete) return 1;
    if (end != AttemptEnd::kTransient || !WaitForNextAttempt(&failures_in_row, &notes)) break;
  }
  ReportStatus(DOWNLOAD_FAILED_MESSAGE);
  return 0;
}
