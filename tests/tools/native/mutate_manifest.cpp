// Writes the suite's hostile manifests for a run of seeds, for programs
// that are not test programs themselves (the differential check of the
// native release tool against the Windows one):
//   mutate_manifest <valid manifest> <first seed> <count> <folder>
// makes <folder>/<seed>.ini (the manifest's bytes) and <folder>/<seed>.txt
// (what was done to it) for each seed.
#include <stdlib.h>

#include "support/manifest_mutator.h"
#include "tools/native/posix_io.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  std::string valid;
  if (!Slurp(argv[1], &valid)) return 3;
  uint64_t first = strtoull(argv[2], nullptr, 10);
  uint64_t count = strtoull(argv[3], nullptr, 10);
  std::string folder = argv[4];
  for (uint64_t seed = first; seed < first + count; ++seed) {
    Mutant mutant = MutateManifest(valid, seed);
    std::string name = folder + "/" + std::to_string(seed);
    if (!Spill((name + ".ini").c_str(), mutant.bytes, O_CREAT | O_TRUNC) ||
        !Spill((name + ".txt").c_str(), mutant.recipe + "\n", O_CREAT | O_TRUNC)) {
      return 5;
    }
  }
  return 0;
}
