// The one rule for joining paths: the separator of the system the program
// runs on. Windows names folders with a backslash, POSIX with a slash; a
// path the program builds uses this and nothing else, so that the Windows
// program's paths, logs and output keep their bytes and the POSIX program's
// paths are ones its system can open.
#pragma once

// _WIN32 comes from the compiler, not from a system header.
#ifdef _WIN32
#define PATH_SEPARATOR L"\\"
#define PATH_SEPARATOR_CHAR L'\\'
#else
#define PATH_SEPARATOR L"/"
#define PATH_SEPARATOR_CHAR L'/'
#endif
