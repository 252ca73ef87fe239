// Listing a client folder.
#include "release/client_folder.h"

#include <algorithm>

#include "engine/file_table.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "release/output.h"
#include "transfer/digest.h"

// Files of the install folder that belong to the updater, not to a release.
static int IsUpdaterOwn(const wchar_t* name, uint32_t attributes) {
  if (attributes & ATTRIBUTE_FOLDER) return EqualsIgnoringAsciiCase(name, L".quenfar8-update");
  return IsUpdaterProgramName(name) || EqualsIgnoringAsciiCase(name, L"Quenfar8Updater.ini");
}

const wchar_t* DescribeNameFault(NameFault fault) {
  switch (fault) {
    case NameFault::Length:
      return L"a name must have 1 to 120 characters";
    case NameFault::DotLast:
      return L"a name must not end with '.'";
    case NameFault::TwoDots:
      return L"a name must not hold \"..\"";
    case NameFault::DotFirst:
      return L"a name must not begin with '.'";
    case NameFault::Character:
      return L"a name may hold only A-Z a-z 0-9 _ - .";
    case NameFault::DeviceName:
      return L"a Windows device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9) before the first dot";
    case NameFault::UpdaterOwnFile:
      return L"the updater's own file, which no release may replace";
    case NameFault::None:
      break;
  }
  return L"";
}

std::wstring FoldedName(const std::wstring& name) {
  std::wstring out = name;
  for (wchar_t& c : out) c = FoldAsciiCase(c);
  return out;
}

int NameLess(const std::wstring& a, const std::wstring& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return FoldAsciiCase(x) < FoldAsciiCase(y); });
}

// One entry of the client folder: 1 when it belongs in the release, 0 when
// it is passed over or refused (refusals are printed and counted in *bad).
static int TakeEntry(const FolderEntry& entry, int* bad) {
  if (IsUpdaterOwn(entry.name, entry.attributes)) return 0;
  // Only a POSIX system hands over such a name (its bytes print as they
  // are): no manifest could name the file, and no Windows client hold it.
  if (entry.undecodable) {
    Problem(L"%ls: the name is not valid UTF-8; a Windows client cannot hold it", entry.name);
    ++*bad;
    return 0;
  }
  if (entry.attributes & ATTRIBUTE_LINK) {
    Problem(L"%ls: a link, not a regular file", entry.name);
    ++*bad;
    return 0;
  }
  if (entry.attributes & ATTRIBUTE_FOLDER) {
    Problem(L"%ls: a subfolder; the updater places files only directly in the install folder", entry.name);
    ++*bad;
    return 0;
  }
  NameFault fault = FindNameFault(entry.name);
  if (fault != NameFault::None) {
    Problem(L"%ls: the updater refuses this name: %ls", entry.name, DescribeNameFault(fault));
    ++*bad;
    return 0;
  }
  if (entry.size > MANIFEST_LARGEST_NUMBER) {
    Problem(L"%ls: %llu bytes; a file may have at most 2^40 bytes", entry.name,
            static_cast<unsigned long long>(entry.size));
    ++*bad;
    return 0;
  }
  return 1;
}

int ListClientFolder(const std::wstring& folder, std::vector<ClientFile>* files) {
  FolderWalk walk;
  if (!BeginFolderWalk(folder.c_str(), &walk)) {
    EndFolderWalk(&walk);
    Problem(L"%ls: not a folder that can be read", folder.c_str());
    return 0;
  }
  int bad = 0;
  FolderEntry entry;
  while (NextFolderEntry(&walk, &entry)) {
    if (!TakeEntry(entry, &bad)) continue;
    ClientFile file;
    file.name = entry.name;
    file.path = folder + PATH_SEPARATOR + entry.name;
    file.size = entry.size;
    files->push_back(file);
  }
  EndFolderWalk(&walk);

  std::sort(files->begin(), files->end(), [](const ClientFile& a, const ClientFile& b) { return NameLess(a.name, b.name); });
  for (size_t i = 1; i < files->size(); ++i) {
    if (EqualsIgnoringAsciiCase((*files)[i - 1].name.c_str(), (*files)[i].name.c_str())) {
      Problem(L"%ls and %ls: names equal but for case; the updater refuses the second", (*files)[i - 1].name.c_str(),
              (*files)[i].name.c_str());
      ++bad;
    }
  }
  if (files->size() > static_cast<size_t>(MAX_FILES)) {
    Problem(L"%ls: %u files; a release may hold at most %d", folder.c_str(), static_cast<unsigned>(files->size()),
            MAX_FILES);
    ++bad;
  }
  int has_launch = 0;
  for (const ClientFile& file : *files) {
    if (file.name == LAUNCH_EXECUTABLE) {
      has_launch = 1;
    } else if (EqualsIgnoringAsciiCase(file.name.c_str(), LAUNCH_EXECUTABLE)) {
      Problem(L"%ls: the game must be named exactly %ls, with that case", file.name.c_str(), LAUNCH_EXECUTABLE);
      ++bad;
      has_launch = -1;
    }
  }
  if (has_launch == 0) {
    Problem(L"%ls: no %ls; every release must hold the game", folder.c_str(), LAUNCH_EXECUTABLE);
    ++bad;
  }
  return bad == 0;
}

int ListOlderClient(const std::wstring& folder, const std::vector<ClientFile>& release,
                    std::vector<ClientFile>* files) {
  uint32_t attributes = FileAttributes(folder.c_str());
  if (attributes == NO_ATTRIBUTES || !(attributes & ATTRIBUTE_FOLDER)) {
    Problem(L"%ls: not a folder that can be read", folder.c_str());
    return 0;
  }
  for (const ClientFile& wanted : release) {
    std::wstring path = folder + PATH_SEPARATOR + wanted.name;
    if (!IsRegularFile(path.c_str())) continue;
    ClientFile file;
    file.name = wanted.name;
    file.path = path;
    files->push_back(file);
  }
  return 1;
}
