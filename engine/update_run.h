// The update run: one pass over the manifest that brings the install
// folder to the release.
#pragma once

#include <stdint.h>

// What a manifest that lists no file named like its launch key reports.
extern const wchar_t LAUNCH_NOT_LISTED_MESSAGE[];

// 1 when every listed file is current and verified and the game may be
// started; 0 after the first fault, whose message has been reported.
// Called once per process, by the worker thread.
int RunUpdate();
