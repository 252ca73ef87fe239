// Trusts a test certificate authority inside the test wine prefix only:
//   trust_ca <certificate.der>
// Adds it to the LocalMachine "Root" store, after removing earlier test
// authorities of the same subject, so that the prefix does not collect one
// per test run. The build machine's own trust store is never touched.
#include <windows.h>
#include <wincrypt.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  std::string der;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) der.append(chunk, got);
  CloseHandle(file);

  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return 4;
  PCCERT_CONTEXT added = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                      DWORD(der.size()));
  if (added == nullptr) return 5;
  // Remove earlier authorities with the same subject name.
  for (;;) {
    PCCERT_CONTEXT old = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                    &added->pCertInfo->Subject, nullptr);
    if (old == nullptr) break;
    CertDeleteCertificateFromStore(old);
  }
  CertFreeCertificateContext(added);
  BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                             DWORD(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return ok ? 0 : 6;
}
