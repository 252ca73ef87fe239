// A small SHA-256 of the test suite's own, so that expected digests never
// come from the code under test.
#pragma once

#include <string>

// Lowercase hexadecimal digest of bytes.
std::wstring Sha256Hex(const std::string& bytes);
