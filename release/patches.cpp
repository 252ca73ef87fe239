// Making and proving patches.
#include "release/patches.h"

#include <algorithm>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "engine/staging.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "release/front_end.h"
#include "release/output.h"
#include "release/progress.h"
#include "transfer/digest.h"

// Hashes one older file with progress; 0 when it cannot be read.
static int FeedProgress(void*, const void*, uint32_t count) {
  ProgressAdd(count);
  return 1;
}

std::wstring ToolFolder() {
  wchar_t temp[PATH_CAPACITY];
  if (!TemporaryFolder(temp, PATH_CAPACITY)) return L"";
  return temp;
}

// Runs the diff tool: "<tool>" <args> "<old>" "<new>" "<patch>", the way
// HDiffPatch's hdiffz takes them, from folder, and waits for it.
static int RunDiffTool(const PackOptions& options, const std::wstring& folder, const std::wstring& old_file,
                       const std::wstring& new_file, const std::wstring& patch_file, uint32_t* exit_code) {
  std::wstring command = L"\"" + options.diff_tool + L"\" ";
  if (!options.diff_args.empty()) command += options.diff_args + L" ";
  command += L"\"" + old_file + L"\" \"" + new_file + L"\" \"" + patch_file + L"\"";
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  StartedProcess process;
  if (!StartHiddenProcess(options.diff_tool.c_str(), line.data(), folder.empty() ? nullptr : folder.c_str(), &process)) return 0;
  WaitForProcessEnd(&process);
  *exit_code = 1;  // an exit code that cannot be read counts as a failure
  QueryExitCode(&process, exit_code);
  CloseProcessHandles(&process);
  return 1;
}

int RebuildsTarget(const std::wstring& patch_tool, const std::wstring& old_file, const std::wstring& patch_file,
                   const std::wstring& rebuilt, const std::wstring& folder, const std::wstring& target_sha256,
                   uint64_t target_size, const std::wstring& label) {
  // The updater's own start of the tool, on a row that names the old file
  // and the output; folder stands for the install folder as its current
  // folder.
  static FileEntry row;
  row = FileEntry();
  CopyInto(row.target_path, old_file.c_str());
  CopyInto(row.new_path, rebuilt.c_str());
  CopyInto(config.install_dir, folder.c_str());
  ClearReported();
  int ran = RunPatchTool(patch_tool.c_str(), &row, patch_file.c_str());
  int rebuilds = ran && VerifyFile(rebuilt.c_str(), target_sha256.c_str(), target_size);
  DeleteOneFile(rebuilt.c_str());
  if (!ran) {
    Problem(L"%ls: the patch tool failed; the updater would say %ls", label.c_str(), QuotedReport().c_str());
  } else if (!rebuilds) {
    Problem(L"%ls: the patch tool ended well but did not rebuild the file (other bytes); the updater would refuse it",
            label.c_str());
  }
  return rebuilds;
}

// 1 when the file at path begins as a Windows program does ("MZ").
static int IsWindowsProgram(const std::wstring& path) {
  FileHandle file = OpenForHashing(path.c_str());
  if (file == NO_FILE) return 0;
  unsigned char start[2] = {0, 0};
  uint32_t got = 0;
  int read = ReadChunk(file, start, 2, &got);
  CloseFile(file);
  return read && got == 2 && start[0] == 'M' && start[1] == 'Z';
}

void NoteUnpinnedPatchTool(const std::wstring& patch_tool) {
  if (CheckPatchTool(patch_tool.c_str())) return;
  if (!IsWindowsProgram(patch_tool)) {
    // On a Linux build machine the tool is a build of the patch tool for
    // that machine, never the Windows program players run: nothing is
    // wrong, but the two must read the same patch format.
    Note(L"%ls applied the patches here; players' updaters apply them with the hpatchz.exe build of SHA-256 %ls: "
         L"build both from the same release of the patch tool",
         patch_tool.c_str(), PATCH_TOOL_SHA256);
    return;
  }
  Note(L"%ls is not the hpatchz.exe build that the released updater accepts (SHA-256 %ls); players need that build",
       patch_tool.c_str(), PATCH_TOOL_SHA256);
}

// The digests of an older client's copies of the release files.
static int HashOlderClient(const std::wstring& folder, const std::vector<ClientFile>& release, OlderClient* older) {
  std::vector<ClientFile> found;
  if (!ListOlderClient(folder, release, &found)) return 0;
  older->folder = folder;
  older->sha256.assign(release.size(), L"");
  older->size.assign(release.size(), 0);
  older->written.assign(release.size(), 0);
  uint64_t total = 0;
  for (const ClientFile& file : found) {
    uint64_t size = 0;
    if (FileSizeFromAttributes(file.path.c_str(), &size)) total += size;
  }
  ProgressBegin(L"hashing the older client", total);
  size_t at = 0;
  for (const ClientFile& file : found) {
    while (release[at].name != file.name) ++at;
    wchar_t digest[DIGEST_CAPACITY];
    uint64_t count = 0, size = 0;
    if (!FileStamp(file.path.c_str(), &size, &older->written[at]) ||
        !HashFileFeeding(file.path.c_str(), digest, &count, FeedProgress, nullptr)) {
      ProgressEnd();
      Problem(L"%ls: cannot be read", file.path.c_str());
      return 0;
    }
    older->sha256[at] = digest;
    older->size[at] = count;
  }
  ProgressEnd();
  return 1;
}

// 1 when no older file changed since it was hashed; each that did is a
// problem.
static int OlderClientsUnchanged(const std::vector<OlderClient>& olders, const std::vector<ClientFile>& release) {
  int ok = 1;
  for (const OlderClient& older : olders) {
    for (size_t i = 0; i < release.size(); ++i) {
      if (older.sha256[i].empty()) continue;
      std::wstring path = older.folder + PATH_SEPARATOR + release[i].name;
      uint64_t size = 0, written = 0;
      if (!FileStamp(path.c_str(), &size, &written) || size != older.size[i] || written != older.written[i]) {
        Problem(L"%ls: changed while it was packed; pack again when the older client is left alone", path.c_str());
        ok = 0;
      }
    }
  }
  return ok;
}

// One patch from an older file to a release file. 1 when it is made and
// kept or dropped for its size; 0 after a problem.
static int MakeOnePatch(const PackOptions& options, BlobStore* store, const ClientFile& file, const std::wstring& old_path,
                        const std::wstring& base, std::vector<MadePatch>* list) {
  std::wstring made = WorkPath(store, L"patch");
  std::wstring label = file.name + L" from " + old_path;
  Say(L"diffing %ls", label.c_str());
  uint32_t exit_code = 1;
  if (!RunDiffTool(options, ToolFolder(), old_path, CurrentBlobPath(*store, L"files", file.sha256), made, &exit_code)) {
    Problem(L"%ls: cannot start the diff tool", options.diff_tool.c_str());
    return 0;
  }
  if (exit_code != 0) {
    DeleteOneFile(made.c_str());
    Problem(L"%ls: the diff tool ended with exit code %lu", label.c_str(), static_cast<unsigned long>(exit_code));
    return 0;
  }
  wchar_t digest[DIGEST_CAPACITY];
  uint64_t size = 0;
  if (!HashFile(made.c_str(), digest, &size)) {
    Problem(L"%ls: the diff tool ended well but wrote no patch", label.c_str());
    return 0;
  }
  // No patch is empty, and the updater refuses a patch section of size 0
  // for every player whose file needs an update.
  if (size == 0) {
    DeleteOneFile(made.c_str());
    Problem(L"%ls: the diff tool ended well but wrote an empty patch", label.c_str());
    return 0;
  }
  if (size >= file.size) {
    DeleteOneFile(made.c_str());
    Note(L"%ls: the patch (%llu bytes) is not smaller than the file; those clients get it whole", label.c_str(),
         static_cast<unsigned long long>(size));
    return 1;
  }
  if (!options.patch_tool.empty() && !RebuildsTarget(options.patch_tool, old_path, made, WorkPath(store, L"rebuilt"),
                                                     ToolFolder(), file.sha256, file.size, label)) {
    DeleteOneFile(made.c_str());
    return 0;
  }
  if (!AdoptBlob(store, L"patches", made, digest, size)) return 0;
  MadePatch patch;
  patch.base_sha256 = base;
  patch.sha256 = digest;
  patch.size = size;
  list->push_back(patch);
  return 1;
}

int MakePatches(const PackOptions& options, BlobStore* store, const std::vector<ClientFile>& release,
                std::vector<std::vector<MadePatch>>* patches, std::vector<OlderClient>* olders) {
  patches->assign(release.size(), std::vector<MadePatch>());
  // Bases already diffed per file, kept or not: a second older client with
  // the same bytes needs no second run of the differ.
  std::vector<std::vector<std::wstring>> tried(release.size());
  for (const std::wstring& folder : options.from) {
    OlderClient older;
    if (!HashOlderClient(folder, release, &older)) return 0;
    olders->push_back(older);
    // The files to diff against this folder, and their bytes for progress.
    std::vector<size_t> jobs;
    uint64_t total = 0;
    for (size_t i = 0; i < release.size(); ++i) {
      const std::wstring& base = older.sha256[i];
      const ClientFile& file = release[i];
      if (base.empty() || (base == file.sha256 && older.size[i] == file.size)) continue;
      if (std::find(tried[i].begin(), tried[i].end(), base) != tried[i].end()) continue;
      if ((*patches)[i].size() >= MAX_PATCHES_PER_FILE) {
        Note(L"%ls: has %llu patches already; clients of %ls get it whole", file.name.c_str(),
             static_cast<unsigned long long>(MAX_PATCHES_PER_FILE), folder.c_str());
        continue;
      }
      tried[i].push_back(base);
      jobs.push_back(i);
      total += file.size;
    }
    ProgressBegin(L"diffing", total);
    for (size_t i : jobs) {
      if (!MakeOnePatch(options, store, release[i], folder + PATH_SEPARATOR + release[i].name, older.sha256[i], &(*patches)[i])) {
        ProgressEnd();
        return 0;
      }
      ProgressAdd(release[i].size);
    }
    ProgressEnd();
  }
  return OlderClientsUnchanged(*olders, release);
}
