// Per-file checks, the patch choice and the free-space test.
#include "engine/plan.h"

#include <wchar.h>

#include "app/config.h"
#include "app/status.h"
#include "engine/file_table.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"

static const wchar_t kNotRegular[] = L"일반 파일이 아닌 설치 경로입니다.";
static const wchar_t kUnreadable[] = L"설치 파일을 읽지 못했습니다. 게임을 종료해 주세요.";
extern const wchar_t BAD_PATCH_MESSAGE[] = L"차등 패치 정보가 올바르지 않습니다.";
static const wchar_t kNoSpace[] = L"패치 복원에 필요한 디스크 공간이 부족합니다.";

extern const uint64_t SPARE_BYTES = 16777216;

static void ComposePaths(FileEntry* row) {
  JoinPath(row->target_path, config.install_dir, row->name);
  FormatInto(row->new_path, L"%ls" PATH_SEPARATOR L"new" PATH_SEPARATOR L"%ls", config.run_dir, row->name);
  FormatInto(row->backup_path, L"%ls" PATH_SEPARATOR L"backup" PATH_SEPARATOR L"%ls", config.run_dir, row->name);
}

int ReadPatchSize(const wchar_t* section, uint64_t* size) {
  return ReadManifestNumber(section, L"size", size) && *size != 0;
}

int ReadValidPatchSection(int32_t n, uint32_t m, PatchSection* patch) {
  wchar_t section[64];
  FormatInto(section, L"patch.%d.%u", n, m);
  ReadManifestText(section, L"base_sha256", patch->base_sha256, DIGEST_CAPACITY);
  ReadManifestText(section, L"sha256", patch->sha256, DIGEST_CAPACITY);
  ReadManifestText(section, L"path", patch->path, REMOTE_CAPACITY);
  if (IsSha256Hex(patch->base_sha256) && IsSha256Hex(patch->sha256) && ReadPatchSize(section, &patch->size) &&
      IsRemotePath(patch->path)) {
    return 1;
  }
  ReportStatus(BAD_PATCH_MESSAGE);
  return 0;
}

int PatchBeats(const PatchSection* patch, const wchar_t* local_sha256, uint64_t chosen_size) {
  return wcscmp(patch->base_sha256, local_sha256) == 0 && patch->size < chosen_size;
}

// Every patch section of a row that needs an update is validated; the
// smallest one made for exactly the installed copy, and smaller than what
// is chosen so far, wins (the lowest M on equal sizes).
static int ChoosePatch(int32_t n, uint32_t patch_count, FileEntry* row) {
  PatchSection patch;
  for (uint32_t m = 0; m < patch_count; ++m) {
    if (!ReadValidPatchSection(n, m, &patch)) return 0;
    if (row->existed && PatchBeats(&patch, row->local_sha256, row->source_size)) {
      row->via_patch = 1;
      CopyInto(row->source, patch.path);
      CopyInto(row->source_sha256, patch.sha256);
      row->source_size = patch.size;
    }
  }
  return 1;
}

int PlanFileEntry(int32_t n, const wchar_t* full, uint32_t patch_count, uint64_t* staging_total) {
  FileEntry* row = &file_table[n];
  ComposePaths(row);
  row->existed = FileAttributes(row->target_path) != NO_ATTRIBUTES;
  if (row->existed && !IsRegularFile(row->target_path)) {
    ReportStatus(kNotRegular);
    return 0;
  }
  wchar_t line[STATUS_CAPACITY];
  FormatInto(line, L"파일 확인 중: %ls", row->name);
  ReportStatus(line);

  uint64_t hashed = 0;
  if (row->existed && !HashFile(row->target_path, row->local_sha256, &hashed)) {
    ReportStatus(kUnreadable);
    return 0;
  }
  if (row->existed && wcscmp(row->local_sha256, row->sha256) == 0 && hashed == row->size) return 1;

  row->needs_update = 1;
  CopyInto(row->source, full);
  CopyInto(row->source_sha256, row->sha256);
  row->source_size = row->size;
  if (!ChoosePatch(n, patch_count, row)) return 0;
  *staging_total += row->size + (row->via_patch ? row->source_size : 0);
  return 1;
}

int CheckDiskSpace(uint64_t staging_total) {
  uint64_t free_bytes = 0;
  if (!FreeBytesForUser(config.install_dir, &free_bytes) || free_bytes < staging_total + SPARE_BYTES) {
    ReportStatus(kNoSpace);
    return 0;
  }
  return 1;
}
