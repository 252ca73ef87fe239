// Staging: every file that needs an update is fetched, verified and, for
// patches, rebuilt into the run folder. Nothing in the install folder is
// written here.
#pragma once

#include <stdint.h>

#include "engine/file_table.h"

// SHA-256 of the one accepted build of hpatchz.exe, fixed by the build.
extern const wchar_t PATCH_TOOL_SHA256[];

// What a fetched file of the wrong size or digest reports.
extern const wchar_t DOWNLOAD_CHECK_MESSAGE[];

// What a staged file that is not the release's file reports (after it is
// rebuilt, and again in the re-check before the commit).
extern const wchar_t FINAL_CHECK_MESSAGE[];

// 1 when every row that needs an update has its verified final file at its
// new_path; 0 after the first failure, which has been reported. The
// progress bar moves once per row.
int StageFiles();

// 1 when tool_path is a regular file whose digest is PATCH_TOOL_SHA256.
// Silent.
int CheckPatchTool(const wchar_t* tool_path);

// Runs the tool on the row's installed file and patch_path, writing its
// new_path, and waits for it. 1 when it ran and ended with exit code 0; on
// 0 the message has been reported.
int RunPatchTool(const wchar_t* tool_path, const FileEntry* row, const wchar_t* patch_path);
