// Re-check, commit, rollback and final verification.
#include "engine/commit.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "engine/file_table.h"
#include "engine/staging.h"
#include "platform/files.h"
#include "transfer/digest.h"

static const wchar_t kChanged[] = L"확인 중 설치 파일이 바뀌었습니다. 다시 실행해 주세요.";
static const wchar_t kInUse[] = L"게임 또는 다른 프로그램이 파일을 사용 중입니다. 종료 후 다시 실행해 주세요.";
static const wchar_t kFolderChanged[] = L"설치 폴더가 변경되었습니다. 다시 실행해 주세요.";
static const wchar_t kRestored[] = L"적용에 실패해 이전 파일로 복구했습니다. 로그를 확인해 주세요.";
static const wchar_t kPartlyRestored[] =
    L"복구 일부가 실패했습니다. .quenfar8-update 폴더의 backup 폴더와 로그를 보존해 주세요.";
static const wchar_t kFinalFailed[] = L"적용 후 검증에 실패했습니다. 게임을 시작하지 않습니다.";

// A staged file that changed after staging verified it (another program
// wrote to or removed it) would otherwise be put in place and fail only the
// final verification, which rolls nothing back: the client would keep a
// file that is neither its old nor its new version. Checked again here,
// before anything is replaced; 0 after reporting.
static int RecheckStaged(const FileEntry* row) {
  if (!VerifyFile(row->new_path, row->sha256, row->size)) {
    ReportStatus(FINAL_CHECK_MESSAGE);
    return 0;
  }
  return 1;
}

// One row's re-check; 0 after reporting.
static int RecheckRow(const FileEntry* row) {
  if (!row->existed) {
    if (FileAttributes(row->target_path) != NO_ATTRIBUTES) {
      ReportStatus(kFolderChanged);
      return 0;
    }
    return RecheckStaged(row);
  }
  wchar_t digest[DIGEST_CAPACITY];
  if (!HashFile(row->target_path, digest, nullptr) || wcscmp(digest, row->local_sha256) != 0) {
    ReportStatus(kChanged);
    return 0;
  }
  if (row->needs_update) {
    FileHandle probe = OpenExclusive(row->target_path);
    if (probe == NO_FILE) {
      ReportStatus(kInUse);
      return 0;
    }
    CloseFile(probe);
    return RecheckStaged(row);
  }
  return 1;
}

int RecheckInstalled() {
  for (int32_t i = 0; i < entry_count; ++i) {
    if (!RecheckRow(&file_table[i])) return 0;
  }
  return 1;
}

int CommitFiles() {
  for (int32_t i = 0; i < entry_count; ++i) {
    FileEntry* row = &file_table[i];
    if (!row->needs_update) continue;
    int done = row->existed ? ReplaceKeepingBackup(row->target_path, row->new_path, row->backup_path)
                            : MoveToNewPlace(row->new_path, row->target_path);
    if (!done) {
      RollBack(i);
      return 0;
    }
    row->applied = 1;
  }
  return 1;
}

void RollBack(int32_t f) {
  int restored = 1;
  // A failed replacement may already have moved the previous file to its
  // backup name; put it back first.
  const FileEntry* failed = &file_table[f];
  if (failed->existed && failed->needs_update && IsRegularFile(failed->backup_path)) {
    restored = MoveOverExisting(failed->backup_path, failed->target_path);
  }
  for (int32_t i = f - 1; i >= 0; --i) {
    const FileEntry* row = &file_table[i];
    if (!row->applied) continue;
    int undone = row->existed ? MoveOverExisting(row->backup_path, row->target_path)
                              : DeleteOneFile(row->target_path);
    if (!undone) restored = 0;
  }
  ReportStatus(restored ? kRestored : kPartlyRestored);
}

int VerifyInstalled() {
  for (int32_t i = 0; i < entry_count; ++i) {
    const FileEntry* row = &file_table[i];
    if (!VerifyFile(row->target_path, row->sha256, row->size)) {
      ReportStatus(kFinalFailed);
      return 0;
    }
  }
  return 1;
}
