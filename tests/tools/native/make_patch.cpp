// The native build of the test suite's differ (tools/make_patch.cpp), with
// hdiffz's command line: make_patch [options...] <old> <new> <patch>. It
// writes the test format of tools/patch_format.h, byte for byte what the
// Windows build writes, so feeds packed by either program match.
//   QUENFAR8_TEST_DIFF_MODE=fail     exit 9 and write nothing
//   QUENFAR8_TEST_DIFF_RECORD=<file> append the arguments, one line
#include <stdlib.h>
#include <string.h>

#include "tools/native/posix_io.h"
#include "tools/patch_format.h"

int main(int argc, char** argv) {
  const char* record = getenv("QUENFAR8_TEST_DIFF_RECORD");
  if (record != nullptr) {
    std::string line;
    for (int i = 0; i < argc; ++i) line += std::string(i ? " " : "") + argv[i];
    Spill(record, line + "\n", O_CREAT | O_APPEND);
  }
  if (argc < 4) return 2;
  const char* mode = getenv("QUENFAR8_TEST_DIFF_MODE");
  if (mode != nullptr && strcmp(mode, "fail") == 0) return 9;
  std::string base, target;
  if (!Slurp(argv[argc - 3], &base) || !Slurp(argv[argc - 2], &target)) return 3;
  return Spill(argv[argc - 1], MakePatch(base, target), O_CREAT | O_TRUNC) ? 0 : 5;
}
