// HTTPS over libcurl, behind the calls the Windows side makes with WinHTTP.
//
// WinHTTP is pulled from: the caller sends, waits for the answer, then
// reads the body in pieces of its choosing. libcurl pushes instead, so each
// request here keeps what libcurl has delivered in a small buffer and runs
// the session's multi handle only while the caller waits for something the
// buffer does not hold yet. When the buffer is full the transfer is paused
// until the caller has read it, so memory stays bounded whatever the body's
// size.
//
// The rules are the Windows side's: certificate checks on (the system's CA
// store, or only the file UseHttpsAuthorityFile names), HTTPS only, no
// redirect followed, HTTP/1.1, no content coding asked for, and the
// connection a session opened is kept for its later requests, so that a
// run of fetches to one feed uses one connection.
#include "platform/https.h"

#include <curl/curl.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "platform/posix/utf8.h"

// Body bytes held for the caller before the transfer is paused.
static const size_t kHeldBodyLimit = 1u << 20;

// The longest wait of one poll of the multi handle, so that the receive
// time-out is looked at often enough.
static const int kPollSliceMs = 200;

static int curl_ready = 0;                                  // curl_global_init has run
static HttpsFailure last_failure = HttpsFailure::kOther;   // how the last failed call failed
static std::string authority_file;                          // the only CA file trusted; empty: the system's store

namespace {

enum class Kind : uint32_t { kSession = 0x53455353, kConnection = 0x434f4e4e, kRequest = 0x52455155 };

struct Session {
  Kind kind;
  CURLM* multi;
  std::string user_agent;
  long connect_ms;  // resolve and connect together, as libcurl counts them
  long receive_ms;  // the longest wait for any byte of the answer
};

struct Connection {
  Kind kind;
  Session* session;
  std::string base;  // "https://host:port", the host bracketed when it is an IPv6 address
};

struct Request {
  Kind kind;
  Connection* connection;
  CURL* easy;
  curl_slist* headers;
  std::string url;
  std::vector<unsigned char> held;  // body bytes delivered and not yet read
  size_t held_from;                 // the first of them not yet read
  std::vector<std::string> header_lines;  // of the last answer, without line ends
  uint32_t status;                  // of the last answer
  int answered;                     // the final answer's header block is complete
  int added;                        // the easy handle is in the session's multi handle
  int paused;                       // the write callback asked libcurl to hold the body
  int done;                         // the transfer has ended
  uint64_t arrived;                 // header and body bytes taken in so far
  CURLcode result;                  // how it ended
};

}  // namespace

static uint64_t MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

// Maps how a transfer ended to the failure kinds the retry policy knows.
static HttpsFailure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
      return HttpsFailure::kCertificate;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_PROXY:
      return HttpsFailure::kTransient;
    default:
      return HttpsFailure::kOther;
  }
}

static int Fail(HttpsFailure failure) {
  last_failure = failure;
  return 0;
}

// UTF-8 of a terminated wide text; 0 when it holds what UTF-8 cannot encode.
static int Utf8Of(const wchar_t* text, std::string* out) {
  std::vector<char> room(wcslen(text) * 4 + 1);
  int length = Utf8BytesFromWide(text, room.data(), room.size());
  if (length < 0) return 0;
  out->assign(room.data(), static_cast<size_t>(length));
  return 1;
}

int UseHttpsAuthorityFile(const wchar_t* path) {
  return Utf8Of(path, &authority_file);
}

int SplitHttpsAddress(const wchar_t* address, wchar_t* host, uint32_t host_capacity, wchar_t* path,
                      uint32_t path_capacity, uint16_t* port) {
  // By the rules of WinHttpCrackUrl for https: the scheme in any case, a
  // user name and password before "@" dropped, an empty port the default.
  static const wchar_t kScheme[] = L"https://";
  for (int i = 0; i < 8; ++i) {
    wchar_t c = address[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kScheme[i]) return 0;
  }
  const wchar_t* authority = address + 8;
  const wchar_t* authority_end = authority;
  while (*authority_end != L'\0' && *authority_end != L'/' && *authority_end != L'?' && *authority_end != L'#') {
    ++authority_end;
  }
  const wchar_t* host_begin = authority;
  for (const wchar_t* c = authority; c < authority_end; ++c) {
    if (*c == L'@') host_begin = c + 1;
  }
  const wchar_t* host_end = host_begin;
  while (host_end < authority_end && *host_end != L':') ++host_end;
  uint32_t number = 443;
  if (host_end < authority_end) {
    number = 0;
    for (const wchar_t* c = host_end + 1; c < authority_end; ++c) {
      if (*c < L'0' || *c > L'9') return 0;
      number = number * 10 + static_cast<uint32_t>(*c - L'0');
      if (number > 65535) return 0;
    }
    if (host_end + 1 == authority_end) number = 443;
  }
  size_t host_length = static_cast<size_t>(host_end - host_begin);
  size_t path_length = wcslen(authority_end);
  if (host_length == 0 || host_length >= host_capacity || path_length >= path_capacity) return 0;
  wmemcpy(host, host_begin, host_length);
  host[host_length] = L'\0';
  wmemcpy(path, authority_end, path_length);
  path[path_length] = L'\0';
  *port = static_cast<uint16_t>(number);
  return 1;
}

HttpsHandle OpenHttpsSession(const wchar_t* user_agent) {
  if (!curl_ready) {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      Fail(HttpsFailure::kOther);
      return nullptr;
    }
    curl_ready = 1;
  }
  Session* session = new Session{Kind::kSession, curl_multi_init(), std::string(), 15000, 30000};
  if (session->multi == nullptr || !Utf8Of(user_agent, &session->user_agent)) {
    CloseHttps(session);
    Fail(HttpsFailure::kOther);
    return nullptr;
  }
  // One connection to the feed, kept between requests.
  curl_multi_setopt(session->multi, CURLMOPT_MAX_HOST_CONNECTIONS, 1L);
  curl_multi_setopt(session->multi, CURLMOPT_MAXCONNECTS, 1L);
  return session;
}

void SetHttpsTimeouts(HttpsHandle handle, int resolve, int connect, int, int receive) {
  Session* session = static_cast<Session*>(handle);
  session->connect_ms = resolve + connect;
  session->receive_ms = receive;
}

HttpsHandle ConnectHttps(HttpsHandle handle, const wchar_t* host, uint16_t port) {
  Session* session = static_cast<Session*>(handle);
  std::string name;
  if (!Utf8Of(host, &name)) {
    Fail(HttpsFailure::kOther);
    return nullptr;
  }
  if (name.find(':') != std::string::npos) name = "[" + name + "]";
  return new Connection{Kind::kConnection, session, "https://" + name + ":" + std::to_string(port)};
}

static size_t OnBody(char* bytes, size_t size, size_t count, void* context) {
  Request* request = static_cast<Request*>(context);
  size_t length = size * count;
  if (request->held.size() - request->held_from >= kHeldBodyLimit) {
    // libcurl keeps these bytes and hands them over again on resuming.
    request->paused = 1;
    return CURL_WRITEFUNC_PAUSE;
  }
  request->held.insert(request->held.end(), bytes, bytes + length);
  request->arrived += length;
  return length;
}

static size_t OnHeaderLine(char* bytes, size_t size, size_t count, void* context) {
  Request* request = static_cast<Request*>(context);
  size_t length = size * count;
  request->arrived += length;
  std::string line(bytes, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new answer: an interim one (100 Continue) is followed by the final.
    request->header_lines.clear();
    request->status = 0;
    size_t space = line.find(' ');
    if (space != std::string::npos) {
      for (size_t i = space + 1; i < line.size() && line[i] >= '0' && line[i] <= '9' && request->status < 1000; ++i) {
        request->status = request->status * 10 + static_cast<uint32_t>(line[i] - '0');
      }
    }
  } else if (line.empty()) {
    if (request->status >= 200) request->answered = 1;
  } else {
    request->header_lines.push_back(line);
  }
  return length;
}

HttpsHandle OpenHttpsGet(HttpsHandle handle, const wchar_t* path) {
  Connection* connection = static_cast<Connection*>(handle);
  Session* session = connection->session;
  std::string path_bytes;
  if (!Utf8Of(path[0] != L'\0' ? path : L"/", &path_bytes)) {
    Fail(HttpsFailure::kOther);
    return nullptr;
  }
  Request* request = new Request{Kind::kRequest, connection, curl_easy_init(), nullptr, connection->base + path_bytes,
                                 {}, 0, {}, 0, 0, 0, 0, 0, 0, CURLE_OK};
  CURL* easy = request->easy;
  if (easy == nullptr) {
    CloseHttps(request);
    Fail(HttpsFailure::kOther);
    return nullptr;
  }
  int ok = curl_easy_setopt(easy, CURLOPT_URL, request->url.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_USERAGENT, session->user_agent.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, session->connect_ms) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_WRITEDATA, request) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_HEADERDATA, request) == CURLE_OK;
  if (ok && !authority_file.empty()) {
    // Only the named authority: the system's store is not consulted.
    ok = curl_easy_setopt(easy, CURLOPT_CAINFO, authority_file.c_str()) == CURLE_OK &&
         curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr) == CURLE_OK;
  }
  if (!ok) {
    CloseHttps(request);
    Fail(HttpsFailure::kOther);
    return nullptr;
  }
  return request;
}

int RefuseRedirects(HttpsHandle) {
  // No request here ever follows one (CURLOPT_FOLLOWLOCATION is off).
  return 1;
}

int RefuseConnectionReuse(HttpsHandle handle) {
  Request* request = static_cast<Request*>(handle);
  return curl_easy_setopt(request->easy, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK ? 1 : Fail(HttpsFailure::kOther);
}

// Starts the transfer; the request goes out as the multi handle runs.
static int Start(Request* request) {
  if (request->added) return Fail(HttpsFailure::kOther);
  if (request->headers != nullptr && curl_easy_setopt(request->easy, CURLOPT_HTTPHEADER, request->headers) != CURLE_OK) {
    return Fail(HttpsFailure::kOther);
  }
  if (curl_multi_add_handle(request->connection->session->multi, request->easy) != CURLM_OK) {
    return Fail(HttpsFailure::kOther);
  }
  request->added = 1;
  return 1;
}

int SendHttpsRequest(HttpsHandle handle) {
  return Start(static_cast<Request*>(handle));
}

int SendHttpsRequestWithHeaders(HttpsHandle handle, const wchar_t* headers) {
  Request* request = static_cast<Request*>(handle);
  std::string text;
  if (!Utf8Of(headers, &text)) return Fail(HttpsFailure::kOther);
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) {
      curl_slist* longer = curl_slist_append(request->headers, text.substr(begin, end - begin).c_str());
      if (longer == nullptr) return Fail(HttpsFailure::kOther);
      request->headers = longer;
    }
    begin = end + 2;
  }
  return Start(request);
}

// 1 when the caller's wait is over: the answer's headers are in (need_body
// 0), or body bytes are held or the transfer has ended (need_body 1).
static int Satisfied(const Request* request, int need_body) {
  if (request->done) return 1;
  if (!need_body) return request->answered;
  return request->held_from < request->held.size();
}

// Runs the session's transfers until the request satisfies the wait, it
// ends, or no byte has come for the receive time-out. 0 on a failure,
// recorded for LastHttpsFailure.
static int RunUntil(Request* request, int need_body) {
  if (!request->added) return Fail(HttpsFailure::kOther);
  Session* session = request->connection->session;
  CURLM* multi = session->multi;
  uint64_t last_arrived = request->arrived;
  uint64_t quiet_since = MonotonicMs();
  while (!Satisfied(request, need_body)) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) return Fail(HttpsFailure::kOther);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == request->easy) {
        request->done = 1;
        request->result = message->data.result;
      }
    }
    if (Satisfied(request, need_body)) break;
    // The receive time-out counts from the last byte of any kind; before
    // the first, the connect time-out is allowed on top.
    uint64_t now = MonotonicMs();
    if (request->arrived != last_arrived) {
      last_arrived = request->arrived;
      quiet_since = now;
    }
    uint64_t allowed = static_cast<uint64_t>(session->receive_ms) +
                       (request->arrived == 0 ? static_cast<uint64_t>(session->connect_ms) : 0);
    if (now - quiet_since > allowed) return Fail(HttpsFailure::kTransient);
    curl_multi_poll(multi, nullptr, 0, kPollSliceMs, nullptr);
  }
  if (request->done && request->result != CURLE_OK && !(need_body && request->held_from < request->held.size())) {
    return Fail(FailureOf(request->result));
  }
  return 1;
}

int ReceiveHttpsResponse(HttpsHandle handle) {
  Request* request = static_cast<Request*>(handle);
  if (!RunUntil(request, 0)) return 0;
  // A transfer that ended without a complete answer is a broken one.
  return request->answered ? 1 : Fail(HttpsFailure::kTransient);
}

int QueryHttpsStatus(HttpsHandle handle, uint32_t* status) {
  Request* request = static_cast<Request*>(handle);
  if (!request->answered) return Fail(HttpsFailure::kOther);
  *status = request->status;
  return 1;
}

// Moves up to room held bytes to buffer and resumes a paused transfer
// once the caller has taken what was held.
static uint32_t TakeHeld(Request* request, unsigned char* buffer, uint32_t room) {
  size_t available = request->held.size() - request->held_from;
  uint32_t count = available < room ? static_cast<uint32_t>(available) : room;
  memcpy(buffer, request->held.data() + request->held_from, count);
  request->held_from += count;
  if (request->held_from == request->held.size()) {
    request->held.clear();
    request->held_from = 0;
    if (request->paused) {
      request->paused = 0;
      curl_easy_pause(request->easy, CURLPAUSE_CONT);
    }
  }
  return count;
}

int ReadHttpsBody(HttpsHandle handle, void* buffer, uint32_t room, uint32_t* got) {
  Request* request = static_cast<Request*>(handle);
  *got = 0;
  if (!request->answered) return Fail(HttpsFailure::kOther);
  if (!RunUntil(request, 1)) return 0;
  *got = TakeHeld(request, static_cast<unsigned char*>(buffer), room);
  return 1;
}

int ReadHttpsBodyAsItComes(HttpsHandle handle, void* buffer, uint32_t room, uint32_t* got) {
  Request* request = static_cast<Request*>(handle);
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  *got = 0;
  if (!request->answered) return Fail(HttpsFailure::kOther);
  while (*got < room) {
    if (!RunUntil(request, 1)) return 0;
    uint32_t count = TakeHeld(request, bytes + *got, room - *got);
    if (count == 0) return 1;  // the end of the body
    *got += count;
  }
  return 1;
}

void CloseHttps(HttpsHandle handle) {
  if (handle == nullptr) return;
  switch (*static_cast<Kind*>(handle)) {
    case Kind::kRequest: {
      Request* request = static_cast<Request*>(handle);
      // Taken out mid-body, the transfer's connection is closed rather
      // than kept: nothing of this body can reach a later request.
      if (request->added) curl_multi_remove_handle(request->connection->session->multi, request->easy);
      if (request->easy != nullptr) curl_easy_cleanup(request->easy);
      curl_slist_free_all(request->headers);
      delete request;
      break;
    }
    case Kind::kConnection:
      delete static_cast<Connection*>(handle);
      break;
    case Kind::kSession: {
      Session* session = static_cast<Session*>(handle);
      if (session->multi != nullptr) curl_multi_cleanup(session->multi);
      delete session;
      break;
    }
  }
}

int QueryHttpsHeaderText(HttpsHandle handle, const wchar_t* name, wchar_t* out, uint32_t capacity) {
  Request* request = static_cast<Request*>(handle);
  out[0] = L'\0';
  std::string wanted;
  if (!request->answered || !Utf8Of(name, &wanted)) return 0;
  for (const std::string& line : request->header_lines) {
    size_t colon = line.find(':');
    if (colon != wanted.size() || strncasecmp(line.c_str(), wanted.c_str(), colon) != 0) continue;
    size_t begin = colon + 1;
    size_t end = line.size();
    while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
    while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    return WideFromUtf8Bytes(line.data() + begin, end - begin, out, capacity, nullptr) ? 1 : (out[0] = L'\0', 0);
  }
  return 0;
}

HttpsFailure LastHttpsFailure() {
  return last_failure;
}
