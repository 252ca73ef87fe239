// The manifest of a release, as the bytes pack publishes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "release/client_folder.h"
#include "release/patches.h"

// The manifest text: [release] with format, count, launch, the version
// when there is one and the serial when it is not 0, then [file.N] in the order of files, each followed by
// its [patch.N.M] sections in the order of its patches. Remote paths are
// "files/<sha256>" and "patches/<sha256>". Lines end with CR LF, and every
// section but the first is preceded by an empty line; nothing in the text
// depends on anything but these inputs.
std::string ManifestText(const std::vector<ClientFile>& files, const std::vector<std::vector<MadePatch>>& patches,
                         const std::wstring& version, uint64_t serial);

// 1 for a version text the manifest can carry and the INI reader gives back
// unchanged: 1 to 64 printable ASCII characters, no blank or quote at
// either end.
int IsVersionText(const std::wstring& version);
