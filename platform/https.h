// The HTTPS client: WinHTTP in synchronous mode on Windows, libcurl on
// POSIX systems.
//
// Each wrapper is one WinHTTP call with the fixed settings of the fetcher
// (on POSIX, what libcurl does to the same effect); a null HttpsHandle
// means "not obtained".
#pragma once

#include <stdint.h>

// Trusts the certificate authorities of the PEM file at path, and only
// those, for every later request: a publisher's private CA. 1 when this
// client can do that (libcurl); 0 on Windows, whose client trusts the
// system's store alone.
int UseHttpsAuthorityFile(const wchar_t* path);

// A session, connection or request: opaque to the callers.
using HttpsHandle = void*;

// Splits address (terminated, no decoding) into host and path, each cut
// off as a failure when it does not fit its buffer. *port is the explicit
// port, or the scheme's default. Returns 1 only when the split succeeds and
// the scheme is HTTPS.
int SplitHttpsAddress(const wchar_t* address, wchar_t* host, uint32_t host_capacity, wchar_t* path,
                      uint32_t path_capacity, uint16_t* port);

// A synchronous session with the given user agent and the system's default
// proxy configuration.
HttpsHandle OpenHttpsSession(const wchar_t* user_agent);

// The four time-outs in milliseconds; the result is not needed.
void SetHttpsTimeouts(HttpsHandle session, int resolve, int connect, int send, int receive);

HttpsHandle ConnectHttps(HttpsHandle session, const wchar_t* host, uint16_t port);

// A GET of path over TLS with the platform's default certificate checks.
HttpsHandle OpenHttpsGet(HttpsHandle connection, const wchar_t* path);

// Tells the request never to follow a redirect.
int RefuseRedirects(HttpsHandle request);

// Tells the request to end its connection with its answer instead of
// handing it back to the process's pool of connections for later
// requests.
int RefuseConnectionReuse(HttpsHandle request);

// Sends the request without extra headers or body.
int SendHttpsRequest(HttpsHandle request);

int ReceiveHttpsResponse(HttpsHandle request);

// The numeric status code of the response.
int QueryHttpsStatus(HttpsHandle request, uint32_t* status);

// Reads up to room bytes of the body; *got is 0 at the end of the body.
int ReadHttpsBody(HttpsHandle request, void* buffer, uint32_t room, uint32_t* got);
// The same, built from reads of only what has already arrived, so that a
// connection that breaks loses none of the bytes that came before the
// break: fills the buffer, or stops at the end of the body (*got may then
// be below room, 0 once nothing is left). On failure (0) *got counts the
// bytes read before it, which the caller keeps.
int ReadHttpsBodyAsItComes(HttpsHandle request, void* buffer, uint32_t room, uint32_t* got);

// Closes a session, connection or request; null is ignored.
void CloseHttps(HttpsHandle handle);

// Sends the request with extra header lines (each ended by CR LF, e.g. a
// Range line), without a body.
int SendHttpsRequestWithHeaders(HttpsHandle request, const wchar_t* headers);

// The value of the response header name (e.g. L"Content-Range") as text
// into out (capacity characters). 0 when the header is absent or its value
// does not fit: size headers are read as text, never as a 32-bit number.
int QueryHttpsHeaderText(HttpsHandle request, const wchar_t* name, wchar_t* out, uint32_t capacity);

// How the last failed WinHTTP call of this thread failed, in the terms a
// retry policy needs. Read right after the failing call.
enum class HttpsFailure : uint32_t {
  kTransient = 0,    // resolve, connect, reset, closed, time-out, an answer it could not read
  kCertificate = 1,  // the server's certificate or the TLS handshake was refused
  kOther = 2,        // a call refused by the client itself (bad handle, bad parameter)
};
HttpsFailure LastHttpsFailure();
