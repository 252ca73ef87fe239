// The DLL search on POSIX: the program loads no library by name at run
// time (libcrypto and libcurl are linked in by the loader from the system's
// library paths), so there is nothing to narrow and the program may go on.
#include "platform/dll_search.h"

int LoadSystemDllsOnly() {
  return 1;
}
