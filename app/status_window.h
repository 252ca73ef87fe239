// The updater's window controls and log that its status services write to.
#pragma once

#include <windows.h>

#include "app/status.h"

extern HANDLE log_file;    // the open updater.log; invalid when it could not be created
extern HWND status_label;  // the window's status line; null until the window exists
extern HWND progress_bar;  // the window's progress bar; null until the window exists
extern HWND bytes_label;   // with progress=bytes, the byte figures under the status line; else null
