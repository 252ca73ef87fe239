// The disk changes under a running update: while the updater waits for its
// patch tool (the last row), every installed file has been checked and the
// earlier rows are staged, so a change made then falls between the check
// and the commit, or between staging and the commit. Each run ends with its
// message; once the change is taken back the client is exactly as before,
// and the next run finishes the job.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "robust/update_bench.h"
#include "support/files.h"
#include "support/messages.h"

namespace {

std::vector<ReleaseFile> PausingRelease() {
  std::string data = Filler(6000, 1);
  std::string revised = data;
  revised.replace(3000, 5, "PATCH");
  return {
      {"Quenfar8.exe", Row::kCurrent, "the game, unchanged", "the game, unchanged"},
      {"whole.pak", Row::kWhole, "whole, old release", "whole, new release, a little longer"},
      {"added.txt", Row::kAdded, "", "a file the old client did not have"},
      {"data.pak", Row::kPatched, data, revised},  // its patch tool waits while the disk changes
  };
}

enum class Change {
  kInstalledToFolder,      // an installed file becomes a folder
  kInstalledToFolderLink,  // an installed file becomes a link to a folder outside
  kInstalledToFileLink,    // an installed file becomes a link to another file outside
  kFolderAtAdded,          // a folder appears where a file is to be added
  kLinkAtAdded,            // a link to a file outside appears there
  kStagedRemoved,          // a staged file is deleted
  kStagedRewritten,        // a staged file is rewritten, same size
  kStagedCutShort,         // a staged file loses its last byte
  kStagedToFolder,         // a staged file becomes a folder
};

struct DiskCase {
  const char* what;
  Change change;
  const char* file;  // the release file whose installed or staged copy changes
  const char* message;
};

const DiskCase kCases[] = {
    {"a current file becomes a folder", Change::kInstalledToFolder, "Quenfar8.exe", kChanged},
    {"a file to replace becomes a folder", Change::kInstalledToFolder, "whole.pak", kChanged},
    {"a file to replace becomes a link to a folder", Change::kInstalledToFolderLink, "whole.pak", kChanged},
    {"a file to replace becomes a link to another file", Change::kInstalledToFileLink, "whole.pak", kChanged},
    {"a current file becomes a link to another file", Change::kInstalledToFileLink, "Quenfar8.exe", kChanged},
    {"a folder where a file is to be added", Change::kFolderAtAdded, "added.txt", kFolderChanged},
    {"a link where a file is to be added", Change::kLinkAtAdded, "added.txt", kFolderChanged},
    {"a staged file is deleted", Change::kStagedRemoved, "whole.pak", kFinalCheck},
    {"a staged file is rewritten, same size", Change::kStagedRewritten, "whole.pak", kFinalCheck},
    {"a staged file to be added is rewritten, same size", Change::kStagedRewritten, "added.txt", kFinalCheck},
    {"a staged file loses its last byte", Change::kStagedCutShort, "whole.pak", kFinalCheck},
    {"a staged file becomes a folder", Change::kStagedToFolder, "whole.pak", kFinalCheck},
};

// Makes the change of c in client, whose run folder is run_folder.
void MakeChange(const DiskCase& c, const UpdateBench& bench, const InstallFolder& client,
                const std::wstring& run_folder) {
  std::wstring installed = client.Path(Wide(c.file));
  std::wstring staged = Join(Join(run_folder, L"new"), Wide(c.file));
  std::wstring outside_folder = Join(bench.Beside(), L"a-folder");
  std::wstring outside_file = Join(bench.Beside(), L"neighbour.txt");
  switch (c.change) {
    case Change::kInstalledToFolder:
      EXPECT_TRUE(DeleteFileW(installed.c_str()));
      MakeFolder(installed);
      break;
    case Change::kInstalledToFolderLink:
      EXPECT_TRUE(DeleteFileW(installed.c_str()));
      EXPECT_TRUE(MakeUnixLink(outside_folder, installed));
      break;
    case Change::kInstalledToFileLink:
      EXPECT_TRUE(DeleteFileW(installed.c_str()));
      EXPECT_TRUE(MakeUnixLink(outside_file, installed));
      break;
    case Change::kFolderAtAdded: MakeFolder(installed); break;
    case Change::kLinkAtAdded: EXPECT_TRUE(MakeUnixLink(outside_file, installed)); break;
    case Change::kStagedRemoved: EXPECT_TRUE(DeleteFileW(staged.c_str())); break;
    case Change::kStagedRewritten: {
      std::string bytes = ReadBytes(staged);
      bytes[0] = char(bytes[0] ^ 0x20);
      WriteBytes(staged, bytes);
      break;
    }
    case Change::kStagedCutShort: {
      std::string bytes = ReadBytes(staged);
      WriteBytes(staged, bytes.substr(0, bytes.size() - 1));
      break;
    }
    case Change::kStagedToFolder:
      EXPECT_TRUE(DeleteFileW(staged.c_str()));
      MakeFolder(staged);
      break;
  }
}

// Takes back a change to an installed file: whatever the change put there
// goes, and the file's old bytes (or nothing, for a file to be added) come
// back.
void TakeBack(const DiskCase& c, const UpdateBench& bench, const InstallFolder& client) {
  std::wstring installed = client.Path(Wide(c.file));
  switch (c.change) {
    case Change::kInstalledToFolder:
    case Change::kFolderAtAdded:
      RemoveTree(installed);
      break;
    case Change::kInstalledToFolderLink:
    case Change::kInstalledToFileLink:
    case Change::kLinkAtAdded:
      EXPECT_TRUE(RemoveLink(installed));
      break;
    default: return;  // the run folder is the updater's own; a new run makes a new one
  }
  for (const ReleaseFile& file : bench.files()) {
    if (file.name == c.file && file.row != Row::kAdded) WriteBytes(installed, file.old_bytes);
  }
}

// Every change ends the run before anything in the install folder is
// replaced: the run's backup folder stays empty and the change is still in
// place, untouched.
TEST(ChangingDisk, EachChangeEndsWithItsMessageAndNothingLost) {
  UpdateBench bench(PausingRelease(), Source::kPackage);
  int i = 0;
  for (const DiskCase& c : kCases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<InstallFolder> client = bench.NewClient(L"case-" + std::to_wstring(i++));
    const InstallFolder& installed = *client;
    RunSettings settings;
    settings.at_pause = [&](const std::wstring& run_folder) {
      MakeChange(c, bench, installed, run_folder);
      return std::shared_ptr<void>();
    };
    RunRecord run = bench.Run(*client, settings);
    EXPECT_TRUE(run.paused) << "the run never reached its patch tool";
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(!run.log.empty() && run.log.back() == c.message)
        << "last line: " << (run.log.empty() ? std::string("(none)") : run.log.back());
    EXPECT_TRUE(ListFolder(Join(run.run_folder, L"backup")).empty()) << "something was replaced";
    if (c.change == Change::kInstalledToFolder || c.change == Change::kFolderAtAdded) {
      EXPECT_TRUE(IsFolder(client->Path(Wide(c.file)))) << "the folder in the way was removed";
    }

    TakeBack(c, bench, *client);
    StateTally end;
    bench.ExpectNeverBroken(*client, &end);
    EXPECT_EQ(end.all_old, 1) << "once the change is taken back: " << end.Text();
    bench.ExpectConverges(*client, &run);
  }
}

// Wine shows a link to a file as that file, so a link to a copy of the
// installed file's own bytes cannot be told apart from the file: the
// re-check passes and the run succeeds. Wine's ReplaceFileW then follows
// the link and moves the file it points to, outside the install folder,
// into the backup: its bytes are kept, but it leaves its place.
TEST(ChangingDisk, ALinkToACopyOfTheSameBytesPassesAndWineMovesItsTarget) {
  UpdateBench bench(PausingRelease(), Source::kPackage);
  const ReleaseFile& whole = bench.files()[1];
  std::wstring elsewhere = Join(bench.Records(), L"elsewhere");  // left out of the outside checks
  MakeFolder(elsewhere);
  std::wstring copy = Join(elsewhere, L"copy.pak");
  WriteBytes(copy, whole.old_bytes);
  std::unique_ptr<InstallFolder> client = bench.NewClient(L"client");
  std::wstring installed = client->Path(Wide(whole.name));
  RunSettings settings;
  settings.at_pause = [&](const std::wstring&) {
    EXPECT_TRUE(DeleteFileW(installed.c_str()));
    EXPECT_TRUE(MakeUnixLink(copy, installed));
    return std::shared_ptr<void>();
  };
  RunRecord run = bench.Run(*client, settings);
  EXPECT_TRUE(run.paused);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(!run.log.empty() && run.log.back() == kReady);
  EXPECT_EQ(ReadBytes(installed), whole.new_bytes);
  EXPECT_EQ(ReadBytes(Join(Join(run.run_folder, L"backup"), Wide(whole.name))), whole.old_bytes);
  EXPECT_FALSE(Exists(copy)) << "wine's ReplaceFileW no longer follows the link: see docs/wine-traps.md";
  bench.ExpectNeverBroken(*client);
}

}  // namespace
