// Files, folders and text for the tests. Tests use Windows directly; the
// product's own wrappers are what is under test.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

// A Unix path of the build machine as wine sees it on drive Z:.
std::wstring WindowsPath(const std::string& unix_path);

// Folder for this test's files: the test root joined with the running
// test's name; emptied first. suffix keeps several folders of one test apart.
std::wstring FreshTestFolder(const std::wstring& suffix = L"");

std::wstring Join(const std::wstring& folder, const std::wstring& name);

void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
void MakeFolder(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Names of the entries of folder, sorted, without "." and "..".
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// Every file below folder, as paths relative to it with '\' between parts,
// sorted.
std::vector<std::wstring> ListTree(const std::wstring& folder);

// The lines of a text file ended by CR LF; the last line must be ended too.
std::vector<std::string> CrLfLines(const std::string& bytes);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// Deterministic filler bytes, different for each variant number.
std::string Filler(size_t size, unsigned variant);

// Sets an environment variable for the life of the object; the child
// processes that tests start inherit it.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const std::wstring& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::wstring name_;
};

// Holds a file open with the given access and sharing until destroyed.
class HeldFile {
 public:
  HeldFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Makes a symbolic link at link to target through the build machine's own
// ln (wine starts Unix programs too, and its own CreateSymbolicLinkW makes
// nothing). Both paths must lie on drive Z:. Wine reports a link to a
// folder as a folder with the reparse-point bit; a link to a file looks
// like the file itself.
bool MakeUnixLink(const std::wstring& target, const std::wstring& link);

// Copies source to target through the build machine's own cp, so that
// target may differ from a name in its folder only in case (which wine's
// own calls would take for the same file). Both paths must lie on drive Z:.
bool MakeUnixCopy(const std::wstring& source, const std::wstring& target);

// Runs a command line of the build machine's own programs (Unix paths; no
// double quotes, sh's single quotes are fine) through sh and waits until it
// has ended well, for at most timeout_ms: false when it failed or did not
// end. done is a path on drive Z: for the file that marks the end; it is
// removed again.
bool RunUnixCommand(const std::wstring& command, const std::wstring& done, DWORD timeout_ms = 30000);

// The Unix path of a path on drive Z:.
std::string UnixPathOf(const std::wstring& windows_path);
