// The manifest of a release, as the bytes pack publishes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "release/client_folder.h"
#include "release/patches.h"

// The key fields of a manifest in a feed with a key record (keys.ini): the
// record's version that the signing key belongs to, when the manifest was
// signed and when it expires (seconds since 1970). A key_version of 0: none.
struct ManifestKeyFields {
  uint64_t key_version = 0;
  uint64_t signed_at = 0;
  uint64_t expires = 0;
};

// The manifest text: [release] with format, count, launch, the version
// when there is one, the serial when it is not 0 and then the key fields
// (key_version, signed, expires) when keys names a key version, then
// [file.N] in the order of files, each followed by
// its [patch.N.M] sections in the order of its patches. Remote paths are
// "files/<sha256>" and "patches/<sha256>". Lines end with CR LF, and every
// section but the first is preceded by an empty line; nothing in the text
// depends on anything but these inputs.
std::string ManifestText(const std::vector<ClientFile>& files, const std::vector<std::vector<MadePatch>>& patches,
                         const std::wstring& version, uint64_t serial, const ManifestKeyFields& keys = {});

// A time in the written form of signed documents, YYYY-MM-DDTHH:MM:SSZ.
std::string UtcText(uint64_t seconds);

// 1 for a version text the manifest can carry and the INI reader gives back
// unchanged: 1 to 64 printable ASCII characters, no blank or quote at
// either end.
int IsVersionText(const std::wstring& version);
