// Checking a feed the way a player's updater reads it, in order: fetch
// manifest.ini as the updater does; judge [release], every [file.N] and every
// [patch.N.M] with the updater's own reading code and rules, reporting every
// problem rather than the first; then check every file and patch the
// manifest names by size and digest; then, when asked, plan an install
// folder and apply the patches whose base is at hand.
#include "release/check.h"

#include <string.h>
#include <wchar.h>

#include <set>

#include "app/config.h"
#include "engine/file_table.h"
#include "engine/key_record.h"
#include "engine/manifest.h"
#include "engine/release_time.h"
#include "engine/plan.h"
#include "engine/signature.h"
#include "engine/staging.h"
#include "engine/update_run.h"
#include "platform/paths.h"
#include "platform/files.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/ini.h"
#include "platform/https.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "release/front_end.h"
#include "release/ini_check.h"
#include "release/output.h"
#include "release/blob_store.h"
#include "release/client_folder.h"
#include "release/feed_history.h"
#include "release/feed_keys.h"
#include "release/manifest_writer.h"
#include "release/patches.h"
#include "release/progress.h"
#include "transfer/digest.h"
#include "transfer/fetch.h"
#include "transfer/ranged_fetch.h"

namespace {

// One [file.N] section as the updater read it.
struct Row {
  int valid = 0;                            // passed every test of the updater
  wchar_t full[REMOTE_CAPACITY] = L"";      // its "full" value
  uint32_t patch_count = 0;                 // its "patches" value, when valid
  std::vector<PatchSection> patches;        // its patch sections, [patch.N.0] on
  std::vector<int> patch_valid;             // which of them passed their tests
};

// A file or patch the manifest names, to be checked by size and digest.
struct Blob {
  std::wstring remote;   // remote path
  std::wstring sha256;   // digest the manifest gives
  uint64_t size = 0;     // size the manifest gives
  std::wstring label;    // the section and key that name it
  int good = 0;          // present, of its size and digest
  std::wstring local;    // where its bytes are on this machine, once checked good
};

// The check's own folder for fetched files, removed at the end.
std::wstring work_folder;

std::wstring Quote(const wchar_t* message) {
  return std::wstring(L"\"") + message + L"\"";
}

std::wstring ReadText(const wchar_t* section, const wchar_t* key, uint32_t capacity) {
  std::vector<wchar_t> text(capacity);
  ReadManifestText(section, key, text.data(), capacity);
  return text.data();
}

const wchar_t kRemoteRule[] =
    L"breaks the remote path rule (1 to 240 characters of a-z 0-9 - . /, not beginning with '/', no \"..\")";
const wchar_t kDigestRule[] = L"is not 64 lowercase hexadecimal digits";

// The serial of a signed manifest, as an updater built with a key (or
// root keys) requires it.
void CheckSerial() {
  uint64_t serial = 0;
  if (ReadManifestNumber(L"release", L"serial", &serial) && serial != 0) {
    Say(L"manifest.ini: serial %llu", static_cast<unsigned long long>(serial));
  } else {
    Problem(L"manifest.ini [release] serial: \"%ls\" is not a number from 1 to 2^40; an updater built with a key "
            L"says %ls",
            ReadText(L"release", L"serial", 32).c_str(), Quote(UNSUPPORTED_MANIFEST_MESSAGE).c_str());
  }
}

// A time for a message: the written form, or the seconds when past 9999.
std::wstring TimeText(uint64_t seconds) {
  std::string text = UtcText(seconds);
  return text.empty() ? std::to_wstring(seconds) : WideAscii(text);
}

// A signed document's times against this machine's clock: a problem when
// it has expired or is signed in the future beyond the updaters' clock
// tolerance (updaters refuse it), a note when it expires within
// EXPIRY_WARNING_DAYS. renew says what renews it.
void JudgeTimes(const wchar_t* what, uint64_t signed_at, uint64_t expires, const wchar_t* renew) {
  uint64_t now = UtcSecondsNow();
  std::wstring refused = Quote(EXPIRED_RELEASE_MESSAGE);
  if (now > expires) {
    Problem(L"%ls expired at %ls (this machine's clock says %ls); updaters say %ls; %ls", what,
            TimeText(expires).c_str(), TimeText(now).c_str(), refused.c_str(), renew);
  } else if (signed_at > now + CLOCK_TOLERANCE_SECONDS) {
    Problem(L"%ls is signed at %ls, in the future (this machine's clock says %ls): the signing machine's clock is "
            L"ahead; updaters say %ls",
            what, TimeText(signed_at).c_str(), TimeText(now).c_str(), refused.c_str());
  } else if (expires - now < EXPIRY_WARNING_DAYS * 86400ULL) {
    Note(L"%ls expires at %ls, in %.1f days: updaters refuse it from then on (%ls); %ls", what,
         TimeText(expires).c_str(), static_cast<double>(expires - now) / 86400.0, refused.c_str(), renew);
  }
}

// [keys] of a record that a root signed but that breaks a rule: each rule
// broken, read as the updater reads it.
void ExplainUnsupportedRecord(const std::wstring& path, const std::wstring& refused) {
  auto text = [&](const wchar_t* key) {
    wchar_t value[160];
    ReadIniText(path.c_str(), L"keys", key, value, 160);
    return std::wstring(value);
  };
  int before = ProblemCount();
  if (text(L"format") != L"1") {
    Problem(L"keys.ini [keys] format: \"%ls\" is not 1; updaters say %ls", text(L"format").c_str(), refused.c_str());
  }
  uint64_t version = 0;
  if (!ParseManifestNumber(text(L"version").c_str(), &version) || version == 0) {
    Problem(L"keys.ini [keys] version: \"%ls\" is not a number from 1 to 2^40; updaters say %ls",
            text(L"version").c_str(), refused.c_str());
  }
  std::string key;
  for (wchar_t c : text(L"signing_key")) key += c < 128 ? char(c) : '?';
  unsigned char decoded[64];
  if (!DecodePublicKey(key.c_str(), decoded)) {
    Problem(L"keys.ini [keys] signing_key: not 128 lowercase hexadecimal digits; updaters say %ls", refused.c_str());
  }
  uint64_t signed_at = 0, expires = 0;
  int times = 1;
  for (const wchar_t* name : {L"signed", L"expires"}) {
    uint64_t* value = name[0] == L's' ? &signed_at : &expires;
    if (!ParseUtcTime(text(name).c_str(), value)) {
      Problem(L"keys.ini [keys] %ls: \"%ls\" is no time of the form YYYY-MM-DDTHH:MM:SSZ; updaters say %ls", name,
              text(name).c_str(), refused.c_str());
      times = 0;
    }
  }
  if (times && signed_at > expires) {
    Problem(L"keys.ini [keys]: signed (%ls) is after expires (%ls); updaters say %ls", text(L"signed").c_str(),
            text(L"expires").c_str(), refused.c_str());
  }
  if (ProblemCount() == before) Problem(L"keys.ini [keys]: updaters refuse it and say %ls", refused.c_str());
}

// The manifest's key fields that break their rules, each named.
void ExplainManifestKeyFields() {
  std::wstring refused = Quote(UNSUPPORTED_MANIFEST_MESSAGE);
  int before = ProblemCount();
  uint64_t version = 0;
  if (!ReadManifestNumber(L"release", L"key_version", &version) || version == 0) {
    Problem(L"manifest.ini [release] key_version: \"%ls\" is not a number from 1 to 2^40; updaters built with "
            L"root keys say %ls",
            ReadText(L"release", L"key_version", 32).c_str(), refused.c_str());
  }
  uint64_t signed_at = 0, expires = 0;
  int times = 1;
  for (const wchar_t* name : {L"signed", L"expires"}) {
    uint64_t* value = name[0] == L's' ? &signed_at : &expires;
    std::wstring text = ReadText(L"release", name, 32);
    if (!ParseUtcTime(text.c_str(), value)) {
      Problem(L"manifest.ini [release] %ls: \"%ls\" is no time of the form YYYY-MM-DDTHH:MM:SSZ; updaters built "
              L"with root keys say %ls",
              name, text.c_str(), refused.c_str());
      times = 0;
    }
  }
  if (times && signed_at > expires) {
    Problem(L"manifest.ini [release]: signed is after expires; updaters built with root keys say %ls", refused.c_str());
  }
  if (ProblemCount() == before) Problem(L"manifest.ini [release]: updaters built with root keys refuse it and say %ls",
                                        refused.c_str());
}

// A key version the manifest names that is not the record's: a
// publication in progress (higher) or a retired key (lower).
void KeyVersionProblem(uint64_t named, uint64_t record) {
  if (named > record) {
    Problem(L"manifest.ini names key version %llu, but keys.ini holds version %llu: upload keys.ini before the "
            L"manifest that names its version; updaters say %ls",
            static_cast<unsigned long long>(named), static_cast<unsigned long long>(record),
            Quote(KEY_UPDATING_MESSAGE).c_str());
  } else {
    Problem(L"manifest.ini names key version %llu, retired by keys.ini's version %llu: sign it again with the "
            L"record's key (resign); updaters say %ls",
            static_cast<unsigned long long>(named), static_cast<unsigned long long>(record),
            Quote(REVOKED_KEY_MESSAGE).c_str());
  }
}

// The manifest as an updater built with root keys judges it once the
// record holds: signed by the record's key, naming its version, in date.
void CheckRootedManifest(const std::wstring& manifest, const KeyRecord& record) {
  uint64_t named = 0;
  SignatureFault fault = CheckSignedFile(manifest.c_str(), record.signing_key);
  if (fault != SignatureFault::None) {
    // As the updater does: the unverified key version only chooses what
    // to say.
    if (ReadManifestNumber(L"release", L"key_version", &named) && named != record.version) {
      KeyVersionProblem(named, record.version);
    } else if (fault == SignatureFault::Unreadable) {
      Problem(L"manifest.ini: cannot be read");
    } else {
      Problem(L"manifest.ini: %ls; updaters built with these root keys say %ls",
              fault == SignatureFault::NoLine
                  ? L"its last line is no signature line (\";signature=\", 128 lowercase hexadecimal digits, CR LF, "
                    L"nothing after it)"
                  : L"the signature does not verify with the record's signing key over these bytes (another key "
                    L"signed it, or the manifest changed after signing)",
              Quote(BAD_SIGNATURE_MESSAGE).c_str());
    }
    return;
  }
  Say(L"manifest.ini: signed by the record's signing key");
  uint64_t signed_at = 0, expires = 0;
  if (!ReadManifestKeyFields(&named, &signed_at, &expires)) {
    ExplainManifestKeyFields();
    return;
  }
  if (named != record.version) {
    KeyVersionProblem(named, record.version);
    return;
  }
  Say(L"manifest.ini: key version %llu, signed %ls, expires %ls", static_cast<unsigned long long>(named),
      TimeText(signed_at).c_str(), TimeText(expires).c_str());
  JudgeTimes(L"manifest.ini", signed_at, expires, L"resign gives it a new expiry");
  CheckSerial();
}

// keys.ini, as an updater built with these root keys (and no recorded
// roots: a fresh install) judges it before it fetches the manifest. 1 with
// *record filled when the record holds (its times may still be
// problems), else 0.
int CheckKeyRecordFile(const std::vector<std::string>& root_keys, KeyRecord* record) {
  RootSet roots;
  roots.count = 0;
  for (const std::string& key : root_keys) DecodePublicKey(key.c_str(), roots.keys[roots.count++]);
  std::wstring path = work_folder + PATH_SEPARATOR L"keys.ini";
  std::wstring refused = Quote(KEY_RECORD_MESSAGE);
  ClearReported();
  if (!FetchFile(L"keys.ini", path.c_str(), 0)) {
    Problem(L"keys.ini: the updater cannot fetch it and says %ls", QuotedReport().c_str());
    Note(L"the manifest's signature cannot be judged without the key record");
    return 0;
  }
  KeyRecordFault fault = VerifyKeyRecord(path.c_str(), &roots, record);
  switch (fault) {
    case KeyRecordFault::None:
      break;
    case KeyRecordFault::Unreadable:
      Problem(L"keys.ini: cannot be read, or is larger than %u bytes; updaters say %ls", KEY_RECORD_LARGEST_BYTES,
              refused.c_str());
      break;
    case KeyRecordFault::NoLine:
      Problem(L"keys.ini: its last line is no signature line (\";signature=\", 128 lowercase hexadecimal digits, CR "
              L"LF, nothing after it); updaters say %ls",
              refused.c_str());
      break;
    case KeyRecordFault::NotTrusted:
      Problem(L"keys.ini: no root key given (nor one its rotations hand over to) signed these bytes: another key "
              L"signed it, or it changed after signing; updaters built with these root keys say %ls",
              refused.c_str());
      break;
    case KeyRecordFault::Unsupported:
      ExplainUnsupportedRecord(path, refused);
      break;
  }
  if (fault != KeyRecordFault::None) {
    Note(L"the manifest's signature cannot be judged without a valid key record");
    return 0;
  }
  Say(L"keys.ini: signed by a root key; key version %llu, signing key %ls, expires %ls",
      static_cast<unsigned long long>(record->version), WideAscii(KeyHex(record->signing_key)).c_str(),
      TimeText(record->expires).c_str());
  for (uint32_t i = 0; i < record->roots.count; ++i) {
    int given = 0;
    for (uint32_t j = 0; j < roots.count; ++j) given = given || memcmp(roots.keys[j], record->roots.keys[i], 64) == 0;
    if (!given) {
      Say(L"keys.ini: its root rotations hand over to %ls; updaters that read it trust that root from then on",
          WideAscii(KeyHex(record->roots.keys[i])).c_str());
    }
  }
  JudgeTimes(L"keys.ini", record->signed_at, record->expires,
             L"the keys command with the root key writes it again (the same --version and signing key renew it)");
  return 1;
}

// Without root keys given: a note when the feed has a key record, which
// only root keys can judge.
void NoteKeyRecord(const CheckOptions& options) {
  int present = 0;
  if (options.over_https) {
    std::wstring path = work_folder + PATH_SEPARATOR L"keys-probe.ini";
    ClearReported();
    present = FetchFile(L"keys.ini", path.c_str(), 0);
    ClearReported();
  } else {
    present = IsRegularFile((options.feed + PATH_SEPARATOR L"keys.ini").c_str());
  }
  if (present) {
    Note(L"keys.ini: the feed has a key record; give --root-key <root public key> to check it and the manifest as "
         L"an updater built with root keys does");
  }
}

// The signature line and the serial, as an updater built with the key
// judges them; without a key, only whether the manifest looks signed.
void CheckSignature(const std::wstring& manifest, const std::string& public_key) {
  unsigned char key[64] = {};
  if (public_key.empty()) {
    if (CheckSignedFile(manifest.c_str(), nullptr) == SignatureFault::None) {
      Note(L"manifest.ini ends with a signature line; give --public-key to check it");
    }
    return;
  }
  DecodePublicKey(public_key.c_str(), key);
  std::wstring refused = Quote(BAD_SIGNATURE_MESSAGE);
  switch (CheckSignedFile(manifest.c_str(), key)) {
    case SignatureFault::None:
      Say(L"manifest.ini: signed by this key");
      break;
    case SignatureFault::NoLine:
      Problem(L"manifest.ini: its last line is no signature line (\";signature=\", 128 lowercase hexadecimal digits, "
              L"CR LF, nothing after it); an updater built with this key says %ls",
              refused.c_str());
      break;
    case SignatureFault::Mismatch:
      Problem(L"manifest.ini: the signature does not verify with this key over these bytes (another key signed it, "
              L"the manifest changed after signing, or the digits given are no P-256 public key at all); an updater "
              L"built with this key says %ls",
              refused.c_str());
      break;
    case SignatureFault::Unreadable:
      Problem(L"manifest.ini: cannot be read");
      break;
  }
  CheckSerial();
}

// [release]: format, count and launch, each judged on its own. Returns the
// count when it is usable, else 0.
int CheckHeader() {
  int problems_before = ProblemCount();
  ClearReported();
  ReadManifestHeader();
  uint64_t count = 0;
  if (!ReadSupportedFormat()) {
    Problem(L"manifest.ini [release] format: \"%ls\" is not 1; the updater says %ls",
            ReadText(L"release", L"format", 32).c_str(), Quote(UNSUPPORTED_MANIFEST_MESSAGE).c_str());
  }
  int usable = ReadEntryCount(&count);
  if (!usable) {
    Problem(L"manifest.ini [release] count: \"%ls\" is not a number from 1 to %d; the updater says %ls",
            ReadText(L"release", L"count", 32).c_str(), MAX_FILES, Quote(UNSUPPORTED_MANIFEST_MESSAGE).c_str());
  }
  std::wstring launch = ReadText(L"release", L"launch", NAME_CAPACITY);
  if (!IsLaunchExecutable(launch.c_str())) {
    Problem(L"manifest.ini [release] launch: \"%ls\" is not exactly %ls; the updater says %ls", launch.c_str(),
            LAUNCH_EXECUTABLE, Quote(BAD_LAUNCH_MESSAGE).c_str());
  }
  // The updater's reader itself must agree; a refusal that none of the
  // tests above explains would still be one.
  if (!Reported().empty() && ProblemCount() == problems_before) {
    Problem(L"manifest.ini [release]: the updater refuses it: %ls", QuotedReport().c_str());
  }
  return usable ? static_cast<int>(count) : 0;
}

// [file.n]: every key against its rule, and the name against the rows
// before it.
void CheckRow(int n, Row* row) {
  ClearReported();
  int problems_before = ProblemCount();
  row->valid = ReadFileEntry(n, row->full, &row->patch_count);
  wchar_t section[64];
  FormatInto(section, L"file.%d", n);
  const FileEntry& entry = file_table[n];
  std::wstring bad_entry = Quote(BAD_ENTRY_MESSAGE);

  NameFault fault = FindNameFault(entry.name);
  if (fault != NameFault::None) {
    Problem(L"manifest.ini [%ls] name: \"%ls\": %ls; the updater says %ls", section, entry.name,
            DescribeNameFault(fault), bad_entry.c_str());
  }
  if (!IsSha256Hex(entry.sha256)) {
    Problem(L"manifest.ini [%ls] sha256: \"%ls\" %ls; the updater says %ls", section, entry.sha256, kDigestRule,
            bad_entry.c_str());
  }
  uint64_t value = 0;
  if (!ReadManifestNumber(section, L"size", &value)) {
    Problem(L"manifest.ini [%ls] size: \"%ls\" is not a number from 0 to 2^40; the updater says %ls", section,
            ReadText(section, L"size", 32).c_str(), bad_entry.c_str());
  }
  uint32_t patch_count = 0;
  if (!ReadPatchCount(section, &patch_count)) {
    Problem(L"manifest.ini [%ls] patches: \"%ls\" is not a number from 0 to 32; the updater says %ls", section,
            ReadText(section, L"patches", 32).c_str(), bad_entry.c_str());
  }
  if (!IsRemotePath(row->full)) {
    Problem(L"manifest.ini [%ls] full: \"%ls\" %ls; the updater says %ls", section, row->full, kRemoteRule,
            bad_entry.c_str());
  }
  int32_t earlier = EarlierRowOfSameName(n);
  if (earlier >= 0) {
    Problem(L"manifest.ini [%ls] name: \"%ls\" repeats [file.%d] (names are compared without regard to case); "
            L"the updater says %ls",
            section, entry.name, earlier, Quote(DUPLICATE_ENTRY_MESSAGE).c_str());
  }
  if (!row->valid && ProblemCount() == problems_before) {
    Problem(L"manifest.ini [%ls]: the updater refuses it: %ls", section, QuotedReport().c_str());
  }
}

// [patch.n.m] of a valid row: read by the updater whenever this file needs
// an update on a player's machine.
void CheckPatchSections(int n, Row* row) {
  const FileEntry& entry = file_table[n];
  for (uint32_t m = 0; m < row->patch_count; ++m) {
    PatchSection patch;
    ClearReported();
    int valid = ReadValidPatchSection(n, m, &patch);
    row->patches.push_back(patch);
    row->patch_valid.push_back(valid);
    wchar_t section[64];
    FormatInto(section, L"patch.%d.%u", n, m);
    std::wstring bad = Quote(BAD_PATCH_MESSAGE);
    if (!IsSha256Hex(patch.base_sha256)) {
      Problem(L"manifest.ini [%ls] base_sha256: \"%ls\" %ls; the updater says %ls", section, patch.base_sha256,
              kDigestRule, bad.c_str());
    }
    if (!IsSha256Hex(patch.sha256)) {
      Problem(L"manifest.ini [%ls] sha256: \"%ls\" %ls; the updater says %ls", section, patch.sha256, kDigestRule,
              bad.c_str());
    }
    uint64_t size = 0;
    if (!ReadPatchSize(section, &size)) {
      Problem(L"manifest.ini [%ls] size: \"%ls\" is not a number from 1 to 2^40; the updater says %ls", section,
              ReadText(section, L"size", 32).c_str(), bad.c_str());
    }
    if (!IsRemotePath(patch.path)) {
      Problem(L"manifest.ini [%ls] path: \"%ls\" %ls; the updater says %ls", section, patch.path, kRemoteRule,
              bad.c_str());
    }
    if (valid && patch.size >= entry.size) {
      Note(L"manifest.ini [%ls]: the patch (%llu bytes) is not smaller than %ls; the updater never chooses it",
           section, static_cast<unsigned long long>(patch.size), entry.name);
    }
  }
}

// The files and patches the manifest names, each remote path once.
std::vector<Blob> NamedBlobs(int count, const std::vector<Row>& rows) {
  std::vector<Blob> blobs;
  auto add = [&](const std::wstring& remote, const std::wstring& sha256, uint64_t size, const std::wstring& label) {
    for (const Blob& blob : blobs) {
      if (blob.remote != remote) continue;
      if (blob.sha256 != sha256 || blob.size != size) {
        Problem(L"%ls: %ls names it with another digest or size than %ls; both cannot be right", remote.c_str(),
                label.c_str(), blob.label.c_str());
      }
      return;
    }
    Blob blob;
    blob.remote = remote;
    blob.sha256 = sha256;
    blob.size = size;
    blob.label = label;
    blobs.push_back(blob);
  };
  for (int n = 0; n < count; ++n) {
    if (!rows[n].valid) continue;
    wchar_t label[64];
    FormatInto(label, L"[file.%d] full", n);
    add(rows[n].full, file_table[n].sha256, file_table[n].size, label);
    for (uint32_t m = 0; m < rows[n].patches.size(); ++m) {
      if (!rows[n].patch_valid[m]) continue;
      const PatchSection& patch = rows[n].patches[m];
      FormatInto(label, L"[patch.%d.%u] path", n, m);
      add(patch.path, patch.sha256, patch.size, label);
    }
  }
  return blobs;
}

int FeedProgress(void*, const void*, uint32_t count) {
  ProgressAdd(count);
  return 1;
}

// A blob in a feed folder, checked where it lies.
void CheckLocalBlob(Blob* blob) {
  std::wstring stop = Quote(DOWNLOAD_CHECK_MESSAGE);
  wchar_t source[PATH_CAPACITY];
  uint64_t size = 0;
  if (!PackageSourcePath(config.package_dir, blob->remote.c_str(), source)) {
    Problem(L"%ls (%ls): the path is too long to be fetched; the updater would stop with %ls", blob->remote.c_str(),
            blob->label.c_str(), stop.c_str());
    return;
  }
  if (!FileSizeFromAttributes(source, &size)) {
    Problem(L"%ls (%ls): missing; the updater would stop with %ls", blob->remote.c_str(), blob->label.c_str(),
            stop.c_str());
    return;
  }
  if (!IsRegularFile(source)) {
    Problem(L"%ls (%ls): not a regular file; the updater would stop with %ls", blob->remote.c_str(),
            blob->label.c_str(), stop.c_str());
    return;
  }
  if (size != blob->size) {
    Problem(L"%ls (%ls): %llu bytes, the manifest says %llu; the updater would stop with %ls", blob->remote.c_str(),
            blob->label.c_str(), static_cast<unsigned long long>(size), static_cast<unsigned long long>(blob->size),
            stop.c_str());
    ProgressAdd(blob->size);
    return;
  }
  wchar_t digest[DIGEST_CAPACITY];
  if (!HashFileFeeding(source, digest, &size, FeedProgress, nullptr)) {
    Problem(L"%ls (%ls): cannot be read; the updater would stop with %ls", blob->remote.c_str(), blob->label.c_str(),
            stop.c_str());
    return;
  }
  if (size != blob->size || blob->sha256 != digest) {
    Problem(L"%ls (%ls): its SHA-256 is %ls, the manifest says %ls; the updater would stop with %ls",
            blob->remote.c_str(), blob->label.c_str(), digest, blob->sha256.c_str(), stop.c_str());
    return;
  }
  blob->good = 1;
  blob->local = source;
}

// A blob of a feed address, fetched as the updater's resilient mode fetches
// it (ranges below 2 GiB, each counted against the bytes asked for,
// transient failures tried again over a new connection) and checked. A
// failure is this blob's alone: the fetch leaves no connection behind that
// the next blob could pick up. Kept on this machine when keep is set
// (patches to be applied).
void CheckFetchedBlob(Blob* blob, int index, int keep) {
  std::wstring stop = Quote(DOWNLOAD_CHECK_MESSAGE);
  wchar_t name[32];
  FormatInto(name, L"blob-%d", index);
  std::wstring local = work_folder + PATH_SEPARATOR + name;
  ClearReported();
  if (!FetchExactly(blob->remote.c_str(), blob->size, local.c_str())) {
    // Only the last line is the updater's verdict; the lines before it
    // are the resilient mode's retries.
    std::wstring said = Reported().empty() ? L"nothing" : Quote(Reported().back().c_str());
    Problem(L"%ls (%ls): the download fails, also when tried again (no status 200 or 206, or not exactly %llu "
            L"bytes); the updater says %ls then %ls",
            blob->remote.c_str(), blob->label.c_str(), static_cast<unsigned long long>(blob->size), said.c_str(),
            stop.c_str());
    ProgressAdd(blob->size);
    return;
  }
  if (!Reported().empty()) {
    Note(L"%ls (%ls): arrived only after %u retries; an updater in its default mode tries once",
         blob->remote.c_str(), blob->label.c_str(), static_cast<unsigned>(Reported().size()));
  }
  wchar_t digest[DIGEST_CAPACITY];
  uint64_t size = 0;
  if (!HashFileFeeding(local.c_str(), digest, &size, FeedProgress, nullptr)) {
    Problem(L"%ls (%ls): its download cannot be read back here", blob->remote.c_str(), blob->label.c_str());
    DeleteOneFile(local.c_str());
    return;
  }
  if (blob->sha256 != digest) {
    Problem(L"%ls (%ls): its SHA-256 is %ls, the manifest says %ls; the updater would stop with %ls",
            blob->remote.c_str(), blob->label.c_str(), digest, blob->sha256.c_str(), stop.c_str());
    DeleteOneFile(local.c_str());
    return;
  }
  blob->good = 1;
  if (keep) {
    blob->local = local;
  } else {
    DeleteOneFile(local.c_str());
  }
}

// Wine's WinHTTP ends every body after this many bytes as if it were
// complete, so the default updater cannot fetch a file of this size or more
// under Wine.
constexpr uint64_t kWineBodyBytes = 2147483647;

// A note for every blob the default updater cannot fetch under Wine: not a
// problem, since players on Windows get it and network=resilient fetches
// it in ranges.
void NoteWineBodyLimit(const std::vector<Blob>& blobs) {
  for (const Blob& blob : blobs) {
    if (blob.size < kWineBodyBytes) continue;
    Note(L"%ls (%ls, %llu bytes): the default updater cannot fetch a file of 2,147,483,647 bytes or more under "
         L"Wine (Linux, handheld PCs); players on Windows are unaffected, players on Wine need network=resilient "
         L"in Quenfar8Updater.ini",
         blob.remote.c_str(), blob.label.c_str(), static_cast<unsigned long long>(blob.size));
  }
}

void CheckBlobs(std::vector<Blob>* blobs, int over_https, int keep_patches) {
  uint64_t total = 0;
  for (const Blob& blob : *blobs) total += blob.size;
  ProgressBegin(L"checking files and patches", total);
  for (size_t i = 0; i < blobs->size(); ++i) {
    Blob& blob = (*blobs)[i];
    if (over_https) {
      int is_patch = blob.label.compare(0, 7, L"[patch.") == 0;
      CheckFetchedBlob(&blob, static_cast<int>(i), keep_patches && is_patch);
    } else {
      CheckLocalBlob(&blob);
    }
  }
  if (over_https) EndFetchConnection();
  ProgressEnd();
}

const Blob* FindBlob(const std::vector<Blob>& blobs, const wchar_t* remote) {
  for (const Blob& blob : blobs) {
    if (blob.remote == remote) return &blob;
  }
  return nullptr;
}

// The plan the updater would make for an install folder, with the updater's
// own file checks and patch choice. Reads the folder and changes nothing.
void ShowClientPlan(const std::wstring& client, int count, const std::vector<Row>& rows) {
  CopyInto(config.install_dir, client.c_str());
  CopyInto(config.run_dir, work_folder.c_str());
  Say(L"plan for %ls:", client.c_str());
  uint64_t staging = 0, fetch = 0;
  unsigned fetched = 0;
  for (int n = 0; n < count; ++n) {
    const FileEntry& entry = file_table[n];
    ClearReported();
    if (!PlanFileEntry(n, rows[n].full, rows[n].patch_count, &staging)) {
      Problem(L"%ls: the updater stops at this file with \"%ls\"", entry.target_path, Reported().back().c_str());
      continue;
    }
    if (!entry.needs_update) {
      Say(L"  %ls: current", entry.name);
      continue;
    }
    fetch += entry.source_size;
    ++fetched;
    if (!entry.via_patch) {
      Say(L"  %ls: whole file %ls, %ls", entry.name, entry.source, Bytes(entry.source_size).c_str());
      continue;
    }
    for (uint32_t m = 0; m < rows[n].patches.size(); ++m) {
      if (wcscmp(rows[n].patches[m].path, entry.source) == 0) {
        Say(L"  %ls: patch [patch.%d.%u] %ls, %ls", entry.name, n, m, entry.source, Bytes(entry.source_size).c_str());
        break;
      }
    }
  }
  Say(L"the updater would fetch %ls in %u files (%llu bytes)", Bytes(fetch).c_str(), fetched,
      static_cast<unsigned long long>(fetch));
  uint64_t needed = staging + SPARE_BYTES;
  uint64_t free_bytes = 0;
  ClearReported();
  int room = CheckDiskSpace(staging);
  if (FreeBytesForUser(client.c_str(), &free_bytes)) {
    Say(L"it needs %ls free on the client's volume (%llu bytes: what it stages and 16 MiB); %ls are free",
        Bytes(needed).c_str(), static_cast<unsigned long long>(needed), Bytes(free_bytes).c_str());
  }
  if (!room) Problem(L"%ls: not enough free space; the updater says %ls", client.c_str(), QuotedReport().c_str());
}

// The base file with this digest in the feed, as files/<digest>: in a feed
// folder where it lies, over HTTPS fetched into the work folder, and then
// its digest checked. Its size is known when the manifest names it (the
// resilient fetch takes it then); otherwise any size is taken by a request
// that keeps no connection for the next one. Empty when the feed has none.
std::wstring BaseInFeed(const wchar_t* base_sha256, int over_https, const std::vector<Blob>& blobs) {
  std::wstring remote = std::wstring(L"files/") + base_sha256;
  wchar_t digest[DIGEST_CAPACITY];
  wchar_t source[PATH_CAPACITY];
  std::wstring path;
  if (!over_https) {
    if (!PackageSourcePath(config.package_dir, remote.c_str(), source)) return L"";
    path = source;
  } else {
    path = work_folder + PATH_SEPARATOR L"base-" + base_sha256;
    if (!IsRegularFile(path.c_str())) {
      ClearReported();
      const Blob* named = FindBlob(blobs, remote.c_str());
      int fetched = named != nullptr ? FetchExactly(remote.c_str(), named->size, path.c_str())
                                     : FetchFileUpTo(remote.c_str(), path.c_str(), MANIFEST_LARGEST_NUMBER);
      if (!fetched) return L"";
    }
  }
  if (!IsRegularFile(path.c_str()) || !HashFile(path.c_str(), digest, nullptr) || wcscmp(digest, base_sha256) != 0) {
    return L"";
  }
  return path;
}

// Applies every patch whose base is at hand: the client's installed copy
// when the plan hashed one with that digest, or files/<base> in the feed.
void ApplyPatches(const std::wstring& patch_tool, int count, const std::vector<Row>& rows,
                  const std::vector<Blob>& blobs, int have_client, int over_https) {
  NoteUnpinnedPatchTool(patch_tool);
  unsigned applied = 0, skipped = 0;
  for (int n = 0; n < count; ++n) {
    const FileEntry& entry = file_table[n];
    for (uint32_t m = 0; m < rows[n].patches.size(); ++m) {
      if (!rows[n].patch_valid[m]) continue;
      const PatchSection& patch = rows[n].patches[m];
      const Blob* blob = FindBlob(blobs, patch.path);
      if (blob == nullptr || !blob->good) continue;  // already reported
      std::wstring base;
      if (have_client && entry.existed && wcscmp(entry.local_sha256, patch.base_sha256) == 0) {
        base = entry.target_path;
      } else {
        base = BaseInFeed(patch.base_sha256, over_https, blobs);
      }
      wchar_t label[64];
      FormatInto(label, L"[patch.%d.%u]", n, m);
      if (base.empty()) {
        ++skipped;
        continue;
      }
      wchar_t rebuilt_name[64];
      FormatInto(rebuilt_name, L"rebuilt-%d-%u", n, m);
      if (RebuildsTarget(patch_tool, base, blob->local, work_folder + PATH_SEPARATOR + rebuilt_name, ToolFolder(),
                         entry.sha256, entry.size, label)) {
        Say(L"  %ls: rebuilds %ls from %ls", label, entry.name, base.c_str());
        ++applied;
      }
    }
  }
  Say(L"patches applied: %u; without a base file at hand: %u", applied, skipped);
}

// The blobs in files\ and patches\ of a feed folder that no kept release
// names (neither manifest.ini nor a history entry): information, not a
// problem; prune removes them. Only when the live manifest can be read.
void NoteUnnamedBlobs(const std::wstring& feed) {
  std::set<std::wstring> named;
  ReleaseRecord release;
  std::wstring why;
  if (!ReadRelease(feed + PATH_SEPARATOR L"manifest.ini", &release, &why)) return;
  for (const NamedBlob& blob : release.blobs) named.insert(BlobKey(blob.remote));
  uint32_t count = 0;
  if (HasHistory(feed) && CountHistory(feed, &count)) {
    for (uint32_t n = 1; n <= count; ++n) {
      if (!ReadRelease(HistoryEntryPath(feed, n), &release, &why)) {
        Problem(L"%ls: %ls", HistoryEntryPath(feed, n).c_str(), why.c_str());
        continue;
      }
      for (const NamedBlob& blob : release.blobs) named.insert(BlobKey(blob.remote));
    }
  }
  uint64_t unnamed = 0, bytes = 0;
  for (const wchar_t* kind : {L"files", L"patches"}) {
    FolderWalk walk;
    if (BeginFolderWalk((feed + PATH_SEPARATOR + kind).c_str(), &walk)) {
      FolderEntry entry;
      while (NextFolderEntry(&walk, &entry)) {
        std::wstring remote = std::wstring(kind) + L"/" + entry.name;
        if ((entry.attributes & ATTRIBUTE_FOLDER) || named.count(BlobKey(remote)) != 0) continue;
        Note(L"%ls (%llu bytes): no kept release names it", remote.c_str(), static_cast<unsigned long long>(entry.size));
        ++unnamed;
        bytes += entry.size;
      }
    }
    EndFolderWalk(&walk);
  }
  if (unnamed != 0) {
    Note(L"%llu files in files" PATH_SEPARATOR L" and patches" PATH_SEPARATOR L" (%ls, %llu bytes) that neither manifest.ini nor a history entry names; "
         L"%ls",
         static_cast<unsigned long long>(unnamed), Bytes(bytes).c_str(), static_cast<unsigned long long>(bytes),
         HasHistory(feed) ? L"prune removes them"
                          : L"the feed keeps no history yet (the next pack that publishes a release starts one), so prune cannot judge them");
  }
}

int CheckFeed(const CheckOptions& options) {
  std::wstring manifest = work_folder + PATH_SEPARATOR L"manifest.ini";
  // The updater built with root keys fetches and judges the record first.
  KeyRecord record;
  int record_holds = !options.root_keys.empty() && CheckKeyRecordFile(options.root_keys, &record);
  ClearReported();
  if (!FetchFile(L"manifest.ini", manifest.c_str(), 0)) {
    Problem(L"manifest.ini: the updater cannot fetch it and says %ls", QuotedReport().c_str());
    return 1;
  }
  CopyInto(config.manifest_path, manifest.c_str());
  if (!options.root_keys.empty()) {
    if (record_holds) CheckRootedManifest(manifest, record);
  } else {
    CheckSignature(manifest, options.public_key);
    NoteKeyRecord(options);
  }
  int count = CheckHeader();
  std::vector<Row> rows(count);
  int launch_listed = 0;
  for (int n = 0; n < count; ++n) {
    CheckRow(n, &rows[n]);
    if (wcscmp(file_table[n].name, LAUNCH_EXECUTABLE) == 0) launch_listed = 1;
  }
  if (count > 0 && !launch_listed) {
    Problem(L"manifest.ini: no [file.N] is named exactly %ls; the updater says %ls", LAUNCH_EXECUTABLE,
            Quote(LAUNCH_NOT_LISTED_MESSAGE).c_str());
  }
  for (int n = 0; n < count; ++n) {
    if (rows[n].valid) CheckPatchSections(n, &rows[n]);
  }
  int manifest_problems = ProblemCount();
  std::vector<Blob> blobs = NamedBlobs(count, rows);
  NoteWineBodyLimit(blobs);
  CheckBlobs(&blobs, options.over_https, !options.patch_tool.empty());
  uint64_t bytes = 0;
  for (const Blob& blob : blobs) bytes += blob.size;
  Say(L"manifest.ini: %d files; %u files and patches named, %ls", count, static_cast<unsigned>(blobs.size()),
      Bytes(bytes).c_str());
  if (!options.client.empty()) {
    if (manifest_problems == 0) {
      ShowClientPlan(options.client, count, rows);
    } else {
      Note(L"no plan for %ls: the manifest itself has problems", options.client.c_str());
    }
  }
  if (!options.patch_tool.empty()) {
    ApplyPatches(options.patch_tool, count, rows, blobs, !options.client.empty() && manifest_problems == 0,
                 options.over_https);
  }
  if (!options.over_https) NoteUnnamedBlobs(options.feed);
  return ProblemCount() == 0 ? 0 : 1;
}

}  // namespace

int Check(const CheckOptions& options) {
  if (!options.ini.empty()) return CheckIniFile(options.ini);
  if (options.over_https) {
    if (!IsFeedAddress(options.feed.c_str()) || options.feed.size() >= PATH_CAPACITY) {
      UsageError(L"%ls: a feed address begins with https:// and ends with /", options.feed.c_str());
      return 2;
    }
    if (!options.ca_file.empty()) {
      if (!IsRegularFile(options.ca_file.c_str())) {
        Problem(L"%ls: --ca-file names no file", options.ca_file.c_str());
        return 1;
      }
      if (!UseHttpsAuthorityFile(options.ca_file.c_str())) {
        UsageError(L"--ca-file: this build trusts the certificate authorities of the system's store alone; add the "
                   L"CA there");
        return 2;
      }
    }
    CopyInto(config.feed_url, options.feed.c_str());
    config.package_dir[0] = L'\0';
  } else {
    uint32_t attributes = FileAttributes(options.feed.c_str());
    if (attributes == NO_ATTRIBUTES || !(attributes & ATTRIBUTE_FOLDER)) {
      Problem(L"%ls: no feed folder there", options.feed.c_str());
      return 1;
    }
    CopyInto(config.package_dir, options.feed.c_str());
  }
  if (!options.client.empty()) {
    uint32_t attributes = FileAttributes(options.client.c_str());
    if (attributes == NO_ATTRIBUTES || !(attributes & ATTRIBUTE_FOLDER)) {
      Problem(L"%ls: --client names no folder", options.client.c_str());
      return 1;
    }
  }
  if (!options.patch_tool.empty() && !IsRegularFile(options.patch_tool.c_str())) {
    Problem(L"%ls: --patch-tool names no program", options.patch_tool.c_str());
    return 1;
  }
  wchar_t temp[PATH_CAPACITY];
  wchar_t folder[PATH_CAPACITY];
  if (!TemporaryFolder(temp, PATH_CAPACITY)) {
    Problem(L"no folder for temporary files");
    return 1;
  }
  // Named after the process, and after a counter too when a check of an
  // earlier process with the same id was stopped before it cleaned up.
  int made = 0;
  for (unsigned attempt = 0; attempt < 100 && !made; ++attempt) {
    FormatInto(folder, attempt == 0 ? L"%ls" PATH_SEPARATOR L"quenfar8-check-%lu" : L"%ls" PATH_SEPARATOR L"quenfar8-check-%lu-%u", temp,
               static_cast<unsigned long>(CurrentProcessId()), attempt);
    made = CreateFolder(folder);
  }
  if (!made) {
    Problem(L"%ls: cannot make a folder for temporary files in it", temp);
    return 1;
  }
  work_folder = folder;
  int code = CheckFeed(options);
  RemoveWorkFolder(work_folder);
  if (code == 0) {
    Say(L"no problems: a player's updater accepts this feed");
  } else {
    Say(ProblemCount() == 1 ? L"%d problem" : L"%d problems", ProblemCount());
  }
  return code;
}
