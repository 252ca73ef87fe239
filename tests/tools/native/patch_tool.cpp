// The native build of the test suite's hpatchz (tools/patch_tool.cpp), with
// its command line: hpatchz -s-8m <old> <patch> <new>, applying patches of
// tools/patch_format.h. Exit code 0 only on success.
//   QUENFAR8_TEST_PATCH_MODE=fail      exit 7 and write nothing
//   QUENFAR8_TEST_PATCH_RECORD=<file>  append the arguments, one line
#include <stdlib.h>
#include <string.h>

#include "tools/native/posix_io.h"
#include "tools/patch_format.h"

int main(int argc, char** argv) {
  const char* record = getenv("QUENFAR8_TEST_PATCH_RECORD");
  if (record != nullptr) {
    std::string line;
    for (int i = 0; i < argc; ++i) line += std::string(i ? " " : "") + argv[i];
    Spill(record, line + "\n", O_CREAT | O_APPEND);
  }
  if (argc != 5 || strcmp(argv[1], "-s-8m") != 0) return 2;
  const char* mode = getenv("QUENFAR8_TEST_PATCH_MODE");
  if (mode != nullptr && strcmp(mode, "fail") == 0) return 7;
  std::string base, patch, target;
  if (!Slurp(argv[2], &base) || !Slurp(argv[3], &patch)) return 3;
  if (!ApplyPatch(base, patch, &target)) return 4;
  return Spill(argv[4], target, O_CREAT | O_EXCL) ? 0 : 5;
}
