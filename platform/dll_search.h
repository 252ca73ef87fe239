// Where the process finds the DLLs it loads by name: the Windows system
// folder only, never the folder of the executable.
//
// winhttp.dll and bcrypt.dll are no known DLLs, so Windows would look for
// them beside the executable first, and a file of that name in the install
// folder (a mod loader's proxy, a release file, a planted DLL) would run
// inside the program. Both programs therefore delay-load the two (their
// import tables name them as delay-loaded) and call LoadSystemDllsOnly from
// the process's first constructor (priority 101), before the compiler
// runtime's constructors and the entry can load anything that imports
// them; the delay-load stubs, and every later load by name, then find the
// copies already loaded from the system folder.
#pragma once

// Makes the system folder the only place DLLs are searched for by name
// (when the system offers SetDefaultDllDirectories), then loads winhttp.dll
// and bcrypt.dll by their full path in the system folder. Returns 1 when
// both are loaded; 0 when one cannot be, and the program must then end
// without calling into either (the delay-load stub would fault).
int LoadSystemDllsOnly();
