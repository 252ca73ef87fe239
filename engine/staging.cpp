// Staging of whole files and patches.
#include "engine/staging.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "delivery/resilient_staging.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

extern const wchar_t DOWNLOAD_CHECK_MESSAGE[] = L"다운로드 검증에 실패했습니다. 기존 파일은 보존됩니다.";
static const wchar_t kBadTool[] = L"hpatchz.exe가 없거나 배포본과 다릅니다.";
static const wchar_t kToolNotStarted[] = L"차등 패치 도구를 실행하지 못했습니다.";
static const wchar_t kRebuildFailed[] = L"차등 패치 복원에 실패했습니다. 기존 파일은 보존됩니다.";
extern const wchar_t FINAL_CHECK_MESSAGE[] = L"복원 파일 검증에 실패했습니다. 기존 파일은 보존됩니다.";

// Capacity of the tool's command line: four quoted paths and the option.
static const size_t kCommandCapacity = 5120;

int CheckPatchTool(const wchar_t* tool_path) {
  if (!IsRegularFile(tool_path)) return 0;
  wchar_t digest[DIGEST_CAPACITY];
  if (!HashFile(tool_path, digest, nullptr)) return 0;
  return wcscmp(digest, PATCH_TOOL_SHA256) == 0 ? 1 : 0;
}

int RunPatchTool(const wchar_t* tool_path, const FileEntry* row, const wchar_t* patch_path) {
  // Paths go in as they are: none can hold a quote, since the install and
  // run folders come from the executable's own path and names are checked.
  wchar_t command_line[kCommandCapacity];
  FormatInto(command_line, L"\"%ls\" -s-8m \"%ls\" \"%ls\" \"%ls\"", tool_path, row->target_path, patch_path,
             row->new_path);
  StartedProcess process;
  if (!StartHiddenProcess(tool_path, command_line, config.install_dir, &process)) {
    ReportStatus(kToolNotStarted);
    return 0;
  }
  WaitForProcessEnd(&process);
  uint32_t exit_code = 1;  // a query that fails counts as a failed rebuild
  QueryExitCode(&process, &exit_code);
  CloseProcessHandles(&process);
  if (exit_code != 0) {
    ReportStatus(kRebuildFailed);
    return 0;
  }
  return 1;
}

// Brings what row needs (its whole file or its patch) to destination and
// checks it by size and digest; 0 when either fails.
static int FetchChecked(const FileEntry* row, const wchar_t* destination) {
  if (ResilientRun()) return FetchVerifiedResilient(row, destination);
  return FetchFile(row->source, destination, row->source_size) &&
         VerifyFile(destination, row->source_sha256, row->source_size);
}

// Fetches, verifies and rebuilds row i; 0 after reporting its failure.
static int StageRow(int32_t i, const FileEntry* row) {
  wchar_t line[STATUS_CAPACITY];
  FormatInto(line, row->via_patch ? L"변경분 받는 중: %ls" : L"파일 받는 중: %ls", row->name);
  ReportStatus(line);

  wchar_t patch_path[PATH_CAPACITY];
  FormatInto(patch_path, L"%ls" PATH_SEPARATOR L"patch-%d.hdiff", config.run_dir, i);
  const wchar_t* destination = row->via_patch ? patch_path : row->new_path;

  // A verified final file that an earlier failed run staged is taken over:
  // no verified byte is fetched twice.
  if (ResilientRun() && ReuseEarlierStaged(row)) return 1;
  if (!FetchChecked(row, destination)) {
    ReportStatus(DOWNLOAD_CHECK_MESSAGE);
    return 0;
  }
  if (row->via_patch) {
    // Hashed anew for every patch row, right before it runs, so that a
    // tool swapped during the run is never started.
    wchar_t tool_path[PATH_CAPACITY];
    JoinPath(tool_path, config.install_dir, L"hpatchz.exe");
    if (!CheckPatchTool(tool_path)) {
      ReportStatus(kBadTool);
      return 0;
    }
    if (!RunPatchTool(tool_path, row, patch_path)) return 0;
  }
  if (!VerifyFile(row->new_path, row->sha256, row->size)) {
    ReportStatus(FINAL_CHECK_MESSAGE);
    return 0;
  }
  if (row->via_patch) DeleteOneFile(patch_path);  // a leftover patch file harms nothing
  return 1;
}

int StageFiles() {
  // In resilient mode the plan has set the figures already, counting what
  // the partial store and earlier runs hold as done.
  if (!ResilientRun()) {
    uint64_t download_bytes = 0;
    for (int32_t i = 0; i < entry_count; ++i) {
      if (file_table[i].needs_update) download_bytes += file_table[i].source_size;
    }
    SetDownloadBytes(0, download_bytes);
  }
  for (int32_t i = 0; i < entry_count; ++i) {
    const FileEntry* row = &file_table[i];
    if (row->needs_update && !StageRow(i, row)) return 0;
    SetProgressPos(i + 1);
  }
  return 1;
}
