// The HTTPS client of the POSIX layer: not there yet. The native release
// tool refuses an https:// feed up front (HttpsClientPresent), so none of
// the calls below is reached by it; each fails as its Windows counterpart
// fails when it cannot do its work. Addresses are still split, by the
// rules of WinHttpCrackUrl for https, because check --ini judges them.
#include "platform/https.h"

#include <wchar.h>

int HttpsClientPresent() {
  return 0;
}

int SplitHttpsAddress(const wchar_t* address, wchar_t* host, uint32_t host_capacity, wchar_t* path,
                      uint32_t path_capacity, uint16_t* port) {
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
  // A user name and password before "@" are not part of the host.
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

HttpsHandle OpenHttpsSession(const wchar_t*) {
  return nullptr;
}

void SetHttpsTimeouts(HttpsHandle, int, int, int, int) {}

HttpsHandle ConnectHttps(HttpsHandle, const wchar_t*, uint16_t) {
  return nullptr;
}

HttpsHandle OpenHttpsGet(HttpsHandle, const wchar_t*) {
  return nullptr;
}

int RefuseRedirects(HttpsHandle) {
  return 0;
}

int RefuseConnectionReuse(HttpsHandle) {
  return 0;
}

int SendHttpsRequest(HttpsHandle) {
  return 0;
}

int ReceiveHttpsResponse(HttpsHandle) {
  return 0;
}

int QueryHttpsStatus(HttpsHandle, uint32_t*) {
  return 0;
}

int ReadHttpsBody(HttpsHandle, void*, uint32_t, uint32_t*) {
  return 0;
}

int ReadHttpsBodyAsItComes(HttpsHandle, void*, uint32_t, uint32_t* got) {
  *got = 0;
  return 0;
}

void CloseHttps(HttpsHandle) {}

int SendHttpsRequestWithHeaders(HttpsHandle, const wchar_t*) {
  return 0;
}

int QueryHttpsHeaderText(HttpsHandle, const wchar_t*, wchar_t*, uint32_t) {
  return 0;
}

HttpsFailure LastHttpsFailure() {
  return HttpsFailure::kOther;
}
