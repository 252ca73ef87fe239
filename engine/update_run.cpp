// The run's phases, in order; each runs only when all before it succeeded.
#include "engine/update_run.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "cleanup/run_folders.h"
#include "delivery/resilient_staging.h"
#include "engine/commit.h"
#include "engine/file_table.h"
#include "engine/key_record.h"
#include "engine/manifest.h"
#include "engine/plan.h"
#include "engine/signature.h"
#include "engine/staging.h"
#include "transfer/fetch.h"

FileEntry file_table[MAX_FILES];
int32_t entry_count = 0;

extern const wchar_t LAUNCH_NOT_LISTED_MESSAGE[] = L"실행 파일 검증 항목이 없습니다.";
static const wchar_t kApplying[] = L"검증 완료. 클라이언트에 적용 중...";
static const wchar_t kReady[] = L"최신 클라이언트입니다. 게임 시작을 눌러 주세요.";

// Reads, validates and plans every row, one row completely before the next.
static int ReadAndPlanEntries(uint64_t* staging_total) {
  int launch_listed = 0;
  for (int32_t n = 0; n < entry_count; ++n) {
    wchar_t full[REMOTE_CAPACITY];
    uint32_t patch_count = 0;
    if (!ReadFileEntry(n, full, &patch_count)) return 0;
    if (wcscmp(file_table[n].name, config.launch_name) == 0) launch_listed = 1;
    if (!PlanFileEntry(n, full, patch_count, staging_total)) return 0;
  }
  if (!launch_listed) {
    ReportStatus(LAUNCH_NOT_LISTED_MESSAGE);
    return 0;
  }
  return 1;
}

// Every phase of the run, in order; 0 at the first that fails.
static int RunPhases() {
  // With root keys built in, the key record that names the signing key
  // comes first, from the same source.
  if (RootedReleases() && !CheckKeyRecord()) return 0;
  // The fetcher reports its own failure; the run adds nothing to it.
  if (!FetchFile(L"manifest.ini", config.manifest_path, 0)) return 0;
  // With a publisher key or root keys built in, nothing in the manifest is
  // read before its signature holds (only its key version, to choose what
  // to say), and an older release is refused after its header.
  if (SignedReleases() && !CheckManifestSignature()) return 0;
  if (RootedReleases() && !CheckRootedManifest()) return 0;
  if (!ReadManifestHeader()) return 0;
  int serials = SignedReleases() || RootedReleases();
  if (serials && !CheckReleaseSerial()) return 0;
  SetProgressRange(entry_count);
  uint64_t staging_total = 0;
  if (!ReadAndPlanEntries(&staging_total)) return 0;
  // In resilient mode only what is still to be fetched or rebuilt counts.
  if (ResilientRun()) staging_total = ResilientStagingTotal();
  if (!CheckDiskSpace(staging_total)) return 0;
  if (!StageFiles()) return 0;
  if (!RecheckInstalled()) return 0;
  ReportStatus(kApplying);
  if (!CommitFiles()) return 0;
  if (!VerifyInstalled()) return 0;
  if (serials) RecordReleaseSerial();
  if (RootedReleases()) RecordKeyState();
  // Only now: a failed run's backups may be all a player has.
  PruneAfterGoodRun();
  ReportStatus(kReady);
  return 1;
}

int RunUpdate() {
  int succeeded = RunPhases();
  if (ResilientRun()) EndResilientRun(succeeded);
  return succeeded;
}
