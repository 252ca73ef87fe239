// Signing manifests.
#include "release/signing.h"

#include "engine/signature.h"
#include "platform/hashing.h"
#include "platform/signing.h"
#include "release/output.h"

std::string SignedManifest(const std::string& body, const KeyPair& pair) {
  unsigned char digest[32];
  unsigned char signature[64];
  Sha256 sha;
  int ok = Sha256Begin(&sha) && Sha256Add(&sha, body.data(), static_cast<uint32_t>(body.size())) &&
           Sha256Finish(&sha, digest);
  Sha256End(&sha);
  // Checked at once with the public half: a key file whose halves do not
  // belong together would sign manifests that no updater accepts.
  if (!ok || !SignP256Digest(pair.public_key, pair.private_key, digest, signature) ||
      !VerifyP256Signature(pair.public_key, digest, signature)) {
    Problem(L"the manifest cannot be signed with this key (are its two halves one pair?)");
    return "";
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string line = ";signature=";
  for (unsigned char byte : signature) {
    line += kDigits[byte >> 4];
    line += kDigits[byte & 15];
  }
  return body + line + "\r\n";
}

std::string UnsignedPart(const std::string& text) {
  if (text.size() < SIGNATURE_LINE_BYTES) return text;
  size_t start = text.size() - SIGNATURE_LINE_BYTES;
  if (text.compare(start, 11, ";signature=") != 0) return text;
  return text.substr(0, start);
}
