// Pruning of old run folders (keep_runs=N in Quenfar8Updater.ini).
//
// Every start leaves a run folder in .quenfar8-update, with the backups of
// the files it replaced. With keep_runs set, a run that ended with the
// client current and verified removes the oldest of them so that at most
// N remain, its own included. Only names of the run-folder form are
// touched: the lock and any other record of the work folder never.
#pragma once

#include <stdint.h>

// What one pruning freed.
struct PruneResult {
  uint32_t folders;  // run folders removed completely
  uint64_t bytes;    // bytes of the files deleted, in removed and in half-removed folders
};

// 1 when name has the run-folder form: 8 digits, '-', 6 digits, '-', and a
// decimal process id of 1 to 10 digits without leading zeros.
int HasRunFolderForm(const wchar_t* name);

// 1 when name is a run folder's name with the suffix a folder gets when its
// removal begins (".removing").
int HasRemovingFolderForm(const wchar_t* name);

// Removes the oldest run folders of work_folder (by the time and process id
// in their names) so that at most keep remain besides current_name (this
// run's folder, never touched), and every folder whose removal an earlier
// run began. Each folder is first renamed to "<name>.removing", then
// emptied and removed; a folder that cannot be renamed or emptied (a file
// held open by another program) stays for a later run. Never fails: the
// result says what was freed.
PruneResult PruneRunFolders(const wchar_t* work_folder, const wchar_t* current_name, uint32_t keep);

// After a run that ended with the client current and verified: prunes the
// install folder's work folder to config.keep_runs run folders and logs
// one line with what was freed (nothing when nothing was). Does nothing
// when keep_runs is 0.
void PruneAfterGoodRun();
