// Signing a manifest: the signature line that ends it.
#pragma once

#include <string>

#include "release/key_file.h"

// The manifest body followed by its signature line: ";signature=", r and s
// in 128 lowercase hexadecimal digits, CR LF; the signature is over the
// SHA-256 of every byte of the body. Empty after a problem.
std::string SignedManifest(const std::string& body, const KeyPair& pair);

// The bytes of a signed manifest before its signature line; the whole text
// when it has none of the right length.
std::string UnsignedPart(const std::string& text);
