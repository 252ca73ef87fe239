// ECDSA P-256 over OpenSSL's libcrypto (EVP and its key parameters): the
// same raw numbers as the Windows side, so a signature made by either
// program verifies with the other and with OpenSSL's command line.
#include "platform/signing.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <string.h>

// A P-256 key from the point X, Y and, for a private key, the secret d
// (null for a public key). Null when the numbers are no key of the curve:
// a public point is checked to lie on it.
static EVP_PKEY* MakeKey(const unsigned char public_key[64], const unsigned char* private_key) {
  unsigned char point[65];
  point[0] = 0x04;  // an uncompressed point: X then Y
  memcpy(point + 1, public_key, 64);
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  BIGNUM* secret = private_key != nullptr ? BN_bin2bn(private_key, 32, nullptr) : nullptr;
  OSSL_PARAM* params = nullptr;
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  int ok = build != nullptr && context != nullptr && (private_key == nullptr || secret != nullptr);
  ok = ok && OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0);
  ok = ok && OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point);
  if (ok && secret != nullptr) ok = OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, secret);
  if (ok) ok = (params = OSSL_PARAM_BLD_to_param(build)) != nullptr;
  if (ok) ok = EVP_PKEY_fromdata_init(context) == 1;
  if (ok) ok = EVP_PKEY_fromdata(context, &key, secret != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) == 1;
  EVP_PKEY_CTX_free(context);
  context = nullptr;
  // Import takes the point as given; a point off the curve must be refused
  // as the Windows side's import refuses it.
  if (ok) ok = (context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)) != nullptr;
  if (ok) ok = EVP_PKEY_public_check(context) == 1;
  EVP_PKEY_CTX_free(context);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  BN_clear_free(secret);
  if (!ok) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return key;
}

int VerifyP256Signature(const unsigned char public_key[64], const unsigned char digest[32],
                        const unsigned char signature[64]) {
  EVP_PKEY* key = MakeKey(public_key, nullptr);
  if (key == nullptr) return 0;
  ECDSA_SIG* sig = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
  int ok = sig != nullptr && r != nullptr && s != nullptr && ECDSA_SIG_set0(sig, r, s) == 1;
  if (ok) r = s = nullptr;  // the signature owns them now
  unsigned char* der = nullptr;
  int der_length = ok ? i2d_ECDSA_SIG(sig, &der) : 0;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  ok = ok && der_length > 0 && context != nullptr && EVP_PKEY_verify_init(context) == 1 &&
       EVP_PKEY_verify(context, der, static_cast<size_t>(der_length), digest, 32) == 1;
  EVP_PKEY_CTX_free(context);
  OPENSSL_free(der);
  BN_free(r);
  BN_free(s);
  ECDSA_SIG_free(sig);
  EVP_PKEY_free(key);
  return ok ? 1 : 0;
}

int GenerateP256KeyPair(unsigned char public_key[64], unsigned char private_key[32]) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (key == nullptr) return 0;
  unsigned char point[65];
  size_t point_length = 0;
  BIGNUM* secret = nullptr;
  int ok = EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "uncompressed") == 1 &&
           EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &point_length) == 1 &&
           point_length == 65 && point[0] == 0x04 && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &secret) == 1 &&
           BN_bn2binpad(secret, private_key, 32) == 32;
  if (ok) memcpy(public_key, point + 1, 64);
  BN_clear_free(secret);
  EVP_PKEY_free(key);
  return ok ? 1 : 0;
}

int SignP256Digest(const unsigned char public_key[64], const unsigned char private_key[32],
                   const unsigned char digest[32], unsigned char signature[64]) {
  EVP_PKEY* key = MakeKey(public_key, private_key);
  if (key == nullptr) return 0;
  unsigned char der[80];
  size_t der_length = sizeof der;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  int ok = context != nullptr && EVP_PKEY_sign_init(context) == 1 &&
           EVP_PKEY_sign(context, der, &der_length, digest, 32) == 1;
  ECDSA_SIG* sig = nullptr;
  if (ok) {
    const unsigned char* at = der;
    sig = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(der_length));
    ok = sig != nullptr && BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature, 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature + 32, 32) == 32;
  }
  ECDSA_SIG_free(sig);
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(key);
  return ok ? 1 : 0;
}
