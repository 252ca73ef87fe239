// The entry of a POSIX program whose own entry is wmain: the arguments
// arrive as bytes and are handed on as wide text, each byte that is no
// UTF-8 kept as U+DC80 + byte so that a path given in any encoding still
// opens the file it names.
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "platform/posix/utf8.h"

int wmain(int argc, wchar_t** argv);

int main(int argc, char** argv) {
  wchar_t** wide = static_cast<wchar_t**>(calloc(static_cast<size_t>(argc) + 1, sizeof(wchar_t*)));
  if (wide == nullptr) return 1;
  for (int i = 0; i < argc; ++i) {
    size_t length = strlen(argv[i]);
    wide[i] = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (wide[i] == nullptr || !WideFromUtf8Bytes(argv[i], length, wide[i], length + 1, nullptr)) return 1;
  }
  return wmain(argc, wide);
}
