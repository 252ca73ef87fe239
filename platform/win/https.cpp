// HTTPS over WinHTTP.
#include "platform/https.h"

#include <windows.h>
#include <winhttp.h>

#include <string.h>

// The split record is passed by size; the 32-bit layout is 60 bytes (104 in
// the 64-bit test twin), and a wrong size makes the call fail on every
// address.
static_assert(sizeof(URL_COMPONENTS) == (sizeof(void*) == 4 ? 60 : 104), "URL_COMPONENTS must have its Windows layout");

int UseHttpsAuthorityFile(const wchar_t*) {
  return 0;
}

int SplitHttpsAddress(const wchar_t* address, wchar_t* host, uint32_t host_capacity, wchar_t* path,
                      uint32_t path_capacity, uint16_t* port) {
  URL_COMPONENTS parts;
  memset(&parts, 0, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = host_capacity;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = path_capacity;
  if (!WinHttpCrackUrl(address, 0, 0, &parts)) return 0;
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) return 0;
  *port = parts.nPort;
  return 1;
}

HINTERNET OpenHttpsSession(const wchar_t* user_agent) {
  return WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                     WINHTTP_NO_PROXY_BYPASS, 0);
}

void SetHttpsTimeouts(HINTERNET session, int resolve, int connect, int send, int receive) {
  WinHttpSetTimeouts(session, resolve, connect, send, receive);
}

HINTERNET ConnectHttps(HINTERNET session, const wchar_t* host, uint16_t port) {
  return WinHttpConnect(session, host, port, 0);
}

HINTERNET OpenHttpsGet(HINTERNET connection, const wchar_t* path) {
  return WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
}

int RefuseRedirects(HINTERNET request) {
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  return WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy) ? 1 : 0;
}

int RefuseConnectionReuse(HINTERNET request) {
  DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
  return WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature) ? 1 : 0;
}

int SendHttpsRequest(HINTERNET request) {
  return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
             ? 1
             : 0;
}

int ReceiveHttpsResponse(HINTERNET request) {
  return WinHttpReceiveResponse(request, nullptr) ? 1 : 0;
}

int QueryHttpsStatus(HINTERNET request, uint32_t* status) {
  DWORD code = 0;
  DWORD size = sizeof code;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  *status = code;
  return 1;
}

int ReadHttpsBody(HINTERNET request, void* buffer, uint32_t room, uint32_t* got) {
  DWORD count = 0;
  if (!WinHttpReadData(request, buffer, room, &count)) return 0;
  *got = count;
  return 1;
}

int ReadHttpsBodyAsItComes(HINTERNET request, void* buffer, uint32_t room, uint32_t* got) {
  // WinHttpReadData on its own may wait until the whole buffer is filled
  // (wine's does), and when the connection breaks part-way it reports the
  // failure and drops the part. Asking what has arrived first reads only
  // that, so every byte that came before a break is kept. What has arrived
  // is often far less than the buffer; it is filled from several such
  // reads, so that the caller writes large pieces, as with a plain read.
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  *got = 0;
  while (*got < room) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return 0;
    if (available == 0) return 1;
    DWORD want = available < room - *got ? available : room - *got;
    DWORD count = 0;
    if (!WinHttpReadData(request, bytes + *got, want, &count)) return 0;
    if (count == 0) return 1;
    *got += count;
  }
  return 1;
}

void CloseHttps(HINTERNET handle) {
  if (handle != nullptr) WinHttpCloseHandle(handle);
}

int SendHttpsRequestWithHeaders(HINTERNET request, const wchar_t* headers) {
  return WinHttpSendRequest(request, headers, static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ? 1 : 0;
}

int QueryHttpsHeaderText(HINTERNET request, const wchar_t* name, wchar_t* out, uint32_t capacity) {
  DWORD size = capacity * sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, out, &size, WINHTTP_NO_HEADER_INDEX)) {
    out[0] = L'\0';
    return 0;
  }
  return 1;
}

HttpsFailure LastHttpsFailure() {
  switch (GetLastError()) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
      return HttpsFailure::kCertificate;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_WINHTTP_INCORRECT_HANDLE_TYPE:
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return HttpsFailure::kOther;
    default:
      return HttpsFailure::kTransient;
  }
}
