// Listing a feed's release history, one entry at a time: only the entry
// before is kept, for the new bytes.
#include "release/history_commands.h"

#include <wchar.h>

#include <set>

#include "platform/paths.h"
#include "platform/text.h"
#include "release/feed_history.h"
#include "release/output.h"

int ShowHistory(const std::wstring& feed) {
  uint32_t count = 0;
  if (!CountHistory(feed, &count)) return 1;
  std::string live = ReadSmallFile(feed + PATH_SEPARATOR L"manifest.ini");
  // The newest entry with the live manifest's bytes is the live one; an
  // older entry with the same bytes is the same release published earlier.
  uint32_t live_entry = 0;
  for (uint32_t n = count; n >= 1 && live_entry == 0 && !live.empty(); --n) {
    if (ReadSmallFile(HistoryEntryPath(feed, n)) == live) live_entry = n;
  }
  // resign renews a live manifest's serial, times and signature without a
  // new entry: the newest entry of the same release is then the live one.
  int resigned = 0;
  for (uint32_t n = count; n >= 1 && live_entry == 0 && !live.empty(); --n) {
    if (SameRelease(ReadSmallFile(HistoryEntryPath(feed, n)), live)) {
      live_entry = n;
      resigned = 1;
    }
  }
  Say(L"history of %ls: %u entries", feed.c_str(), count);
  std::set<std::wstring> before;  // remote paths of the entry before
  for (uint32_t n = 1; n <= count; ++n) {
    ReleaseRecord release;
    std::wstring why;
    if (!ReadRelease(HistoryEntryPath(feed, n), &release, &why)) {
      Problem(L"%u: %ls: %ls", n, HistoryEntryPath(feed, n).c_str(), why.c_str());
      before.clear();
      continue;
    }
    uint64_t fresh = 0;
    std::set<std::wstring> names;
    for (const NamedBlob& blob : release.blobs) {
      names.insert(blob.remote);
      if (before.count(blob.remote) == 0) fresh += blob.size;
    }
    before.swap(names);
    wchar_t serial[160] = L"";
    if (release.serial != 0) FormatInto(serial, L", serial %llu", static_cast<unsigned long long>(release.serial));
    if (release.key_version != 0) {
      wchar_t keys[112];
      FormatInto(keys, L", key version %llu, expires %ls", static_cast<unsigned long long>(release.key_version),
                 release.expires.c_str());
      size_t used = wcslen(serial);
      CopyText(serial + used, 160 - used, keys);
    }
    std::vector<std::wstring> missing;
    wchar_t pruned[64] = L"";
    if (!HasAllBlobs(feed, release, 0, &missing)) {
      FormatInto(pruned, L", %u blobs gone (cannot be rolled back to)", static_cast<unsigned>(missing.size()));
    }
    Say(L"%u: version %ls%ls, %u files, %ls (%llu bytes), new %ls (%llu bytes)%ls%ls", n,
        release.version.empty() ? L"(none)" : release.version.c_str(), serial,
        static_cast<unsigned>(release.files.size()), Bytes(release.bytes).c_str(),
        static_cast<unsigned long long>(release.bytes), Bytes(fresh).c_str(), static_cast<unsigned long long>(fresh),
        pruned, n != live_entry ? L"" : resigned ? L", live (signed again by resign)" : L", live");
  }
  if (live.empty()) {
    Note(L"%ls" PATH_SEPARATOR L"manifest.ini: missing; no release is live", feed.c_str());
  } else if (live_entry == 0) {
    Note(L"manifest.ini is no history entry: it was changed by hand, or a pack or rollback stopped before it "
         L"published");
  } else if (live_entry != count) {
    Note(L"manifest.ini is entry %u, not the newest: a pack or rollback stopped after it wrote entry %u", live_entry,
         count);
  }
  return ProblemCount() == 0 ? 0 : 1;
}
