// Trusts a test certificate authority inside the test wine prefix only:
//   trust_ca <certificate.der>
// Adds it to the LocalMachine "Root" store of the prefix; the build
// machine's own trust store is never touched. Each run's authority has a
// name of its own. Wine does not keep deletions from this store, so the
// prefix collects one small certificate per test run; removing the build
// tree's wineprefix folder starts afresh.
#include <windows.h>
#include <wincrypt.h>

#include <string>

static HCERTSTORE OpenRoot() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  std::string der;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) der.append(chunk, got);
  CloseHandle(file);

  HCERTSTORE store = OpenRoot();
  if (store == nullptr) return 4;
  BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                             DWORD(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return ok ? 0 : 6;
}
