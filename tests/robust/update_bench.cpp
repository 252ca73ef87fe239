#include "robust/update_bench.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include "support/feed.h"
#include "support/messages.h"
#include "support/release.h"

namespace {

// Every entry below folder, relative to it, with its bytes; a folder is
// listed as "<folder>" and its entries follow. Names in skip (relative to
// the top) are passed over with everything below them.
void ListInto(const std::wstring& top, const std::wstring& relative, const std::vector<std::wstring>& skip,
              std::map<std::wstring, std::string>* out) {
  std::wstring folder = relative.empty() ? top : Join(top, relative);
  for (const std::wstring& name : ListFolder(folder)) {
    std::wstring child = relative.empty() ? name : Join(relative, name);
    bool skipped = false;
    for (const std::wstring& s : skip) skipped = skipped || _wcsicmp(s.c_str(), child.c_str()) == 0;
    if (skipped) continue;
    if (IsFolder(Join(top, child))) {
      (*out)[child] = "<folder>";
      ListInto(top, child, skip, out);
    } else {
      (*out)[child] = ReadBytes(Join(top, child));
    }
  }
}

std::string FeedFolderName() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("robust-") + info->test_suite_name() + "-" + info->name();
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) c = '-';
  }
  return name;
}

// The subject of a change point with the client's folder written as
// <client> and a run folder, whatever its name, as <run>.
std::wstring ShortenPaths(const std::wstring& subject, const std::wstring& client_dir) {
  std::wstring text = subject;
  if (_wcsnicmp(text.c_str(), client_dir.c_str(), client_dir.size()) == 0) {
    text = L"<client>" + text.substr(client_dir.size());
  }
  const std::wstring work = L"<client>\\.quenfar8-update\\";
  if (text.compare(0, work.size(), work) == 0) {
    size_t end = text.find(L'\\', work.size());
    std::wstring name = text.substr(work.size(), end == std::wstring::npos ? std::wstring::npos : end - work.size());
    if (IsRunFolderName(name)) text = L"<run>" + (end == std::wstring::npos ? L"" : text.substr(end));
  }
  return text;
}

}  // namespace

bool RemoveLink(const std::wstring& path) {
  std::wstring unix_path = path.substr(2);
  for (wchar_t& c : unix_path) c = c == L'\\' ? L'/' : c;
  std::wstring command = L"rm -f \"" + unix_path + L"\"";
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\rm", buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The end of a Unix program is not always reported back; its effect is.
  return WaitFor([&] { return !Exists(path); });
}

void StateTally::Add(const StateTally& other) {
  all_old += other.all_old;
  mixed += other.mixed;
  all_new += other.all_new;
  missing += other.missing;
}

std::string StateTally::Text() const {
  return std::to_string(all_old) + " all old, " + std::to_string(mixed) + " mixed, " + std::to_string(all_new) +
         " all new; " + std::to_string(missing) + " with a file missing from its place";
}

UpdateBench::UpdateBench(std::vector<ReleaseFile> files, Source source)
    : files_(std::move(files)), source_(source), root_(FreshTestFolder()) {
  records_ = Join(root_, L"records");
  MakeFolder(records_);
  MakeFolder(Beside());
  WriteBytes(Join(Beside(), L"neighbour.txt"), "a neighbouring folder's file");
  MakeFolder(Join(Beside(), L"a-folder"));
  WriteBytes(Join(Join(Beside(), L"a-folder"), L"inside.txt"), "inside a neighbouring folder");

  if (source_ == Source::kPackage) {
    release_folder_ = Join(root_, L"package");
  } else {
    TestFeed feed;
    EXPECT_TRUE(feed.Load()) << "the HTTPS test feed is not running";
    std::string name = FeedFolderName();
    release_folder_ = feed.Folder(name);
    feed_url_ = feed.Url(name);
  }
  Release release(release_folder_);
  for (const ReleaseFile& file : files_) {
    int n = release.AddFile(file.name, file.new_bytes);
    if (file.row == Row::kPatched) release.AddPatch(n, file.old_bytes);
  }
  release.WriteManifest();

  player_files_[L"Quenfar8Updater.exe"] = ReadBytes(TestUpdaterExe());
  player_files_[L"hpatchz.exe"] = ReadBytes(TestPatchTool());
  player_files_[L"notes.txt"] = "the player's own notes";
  player_files_[L"screenshots"] = "<folder>";
  player_files_[L"screenshots\\shot-1.bmp"] = Filler(3000, 99);
  if (source_ == Source::kFeed) player_files_[L"Quenfar8Updater.ini"] = "[updater]\r\nfeed=" + feed_url_ + "\r\n";
  if (source_ == Source::kResilientFeed) {
    player_files_[L"Quenfar8Updater.ini"] = "[updater]\r\nfeed=" + feed_url_ + "\r\nnetwork=resilient\r\n";
  }
  outside_before_ = OutsideSnapshot();
}

std::unique_ptr<InstallFolder> UpdateBench::NewClient(const std::wstring& name) const {
  clients_.push_back(name);
  std::wstring dir = Join(root_, name);
  RemoveTree(dir);
  std::unique_ptr<InstallFolder> client(new InstallFolder(dir));
  for (const ReleaseFile& file : files_) {
    if (file.row != Row::kAdded) WriteBytes(client->Path(Wide(file.name)), file.old_bytes);
  }
  if (keep_runs_ > 0) {
    // Two earlier starts, older than any this test makes.
    for (const wchar_t* name : {L"20200101-101010-11", L"20200102-101010-12"}) {
      std::wstring run = Join(client->WorkFolder(), name);
      MakeFolder(client->WorkFolder());
      MakeFolder(run);
      MakeFolder(Join(run, L"new"));
      MakeFolder(Join(run, L"backup"));
      WriteBytes(Join(run, L"updater.log"), std::string(kReady) + "\r\n");
      WriteBytes(Join(Join(run, L"backup"), L"whole-a.pak"), Filler(4000, 17));
    }
  }
  for (const auto& entry : player_files_) {
    if (entry.first == L"Quenfar8Updater.exe") continue;  // copied by InstallFolder
    if (entry.second == "<folder>") {
      MakeFolder(client->Path(entry.first));
    } else {
      WriteBytes(client->Path(entry.first), entry.second);
    }
  }
  return client;
}

void UpdateBench::KeepRuns(int keep) {
  keep_runs_ = keep;
  std::string ini = "[updater]\r\n";
  if (source_ == Source::kFeed) ini += "feed=" + feed_url_ + "\r\n";
  player_files_[L"Quenfar8Updater.ini"] = ini + "keep_runs=" + std::to_string(keep) + "\r\n";
}

RunRecord UpdateBench::Run(const InstallFolder& client, const RunSettings& settings) const {
  RunRecord record;
  std::vector<std::wstring> before = client.RunFolders();
  std::wstring number = std::to_wstring(++runs_);
  std::wstring change_log = Join(records_, L"points-" + number + L".txt");
  std::wstring flag = Join(records_, L"pause-" + number);
  std::wstring arguments = L"/quiet";
  if (source_ == Source::kPackage) arguments += L" /package \"" + release_folder_ + L"\"";
  {
    // The child takes the environment as it is when it starts.
    ScopedEnv log(L"QUENFAR8_TEST_CHANGE_LOG", change_log);
    std::unique_ptr<ScopedEnv> die, mode, pause;
    if (settings.die_at != 0) die.reset(new ScopedEnv(L"QUENFAR8_TEST_DIE_AT", std::to_wstring(settings.die_at)));
    if (!settings.patch_mode.empty()) mode.reset(new ScopedEnv(L"QUENFAR8_TEST_PATCH_MODE", settings.patch_mode));
    if (settings.at_pause) pause.reset(new ScopedEnv(L"QUENFAR8_TEST_PATCH_PAUSE", flag));
    record.program.reset(new Program(client.exe(), arguments, client.dir()));
  }
  EXPECT_TRUE(record.program->started()) << "CreateProcessW failed with error " << record.program->start_error();
  if (!record.program->started()) return record;

  auto find_run_folder = [&] {
    for (const std::wstring& folder : client.RunFolders()) {
      // A pruned folder's new name (".removing") is no run folder.
      if (!IsRunFolderName(folder.substr(folder.rfind(L'\\') + 1))) continue;
      bool old = false;
      for (const std::wstring& known : before) old = old || known == folder;
      if (!old) return folder;
    }
    return std::wstring();
  };

  std::shared_ptr<void> kept;
  if (settings.at_pause) {
    DWORD ignored = 0;
    bool waiting = false;
    EXPECT_TRUE(WaitFor(
        [&] {
          waiting = Exists(flag + L".waiting");
          return waiting || record.program->WaitEnded(0, &ignored);
        },
        120000))
        << "the run neither ended nor reached its patch tool";
    if (waiting) {
      record.paused = true;
      kept = settings.at_pause(find_run_folder());
      WriteBytes(flag + L".go", "go");
    }
  }
  record.ended = record.program->WaitEnded(120000, &record.exit_code);
  EXPECT_TRUE(record.ended) << "the run did not end within two minutes";
  kept.reset();

  record.run_folder = find_run_folder();
  if (!record.run_folder.empty()) record.log = CrLfLines(ReadBytes(Join(record.run_folder, L"updater.log")));
  if (Exists(change_log)) {
    int expected = 1;
    for (const std::string& line : CrLfLines(ReadBytes(change_log))) {
      size_t space = line.find(' ');
      EXPECT_EQ(atoi(line.substr(0, space).c_str()), expected++) << "change points are numbered in order";
      size_t subject = line.find(' ', space + 1);
      std::string operation = line.substr(space + 1, subject - space - 1);
      record.points.push_back(operation + " " + Utf8(ShortenPaths(Wide(line.substr(subject + 1)), client.dir())));
    }
  }
  return record;
}

std::map<std::wstring, std::string> UpdateBench::InstallSnapshot(const InstallFolder& client) const {
  std::map<std::wstring, std::string> snapshot;
  ListInto(client.dir(), L"", {L".quenfar8-update"}, &snapshot);
  return snapshot;
}

std::map<std::wstring, std::string> UpdateBench::OutsideSnapshot() const {
  std::map<std::wstring, std::string> snapshot;
  std::vector<std::wstring> skip = clients_;
  skip.push_back(L"records");
  ListInto(root_, L"", skip, &snapshot);
  if (source_ != Source::kPackage) {
    std::map<std::wstring, std::string> feed;
    ListInto(release_folder_, L"", {}, &feed);
    for (const auto& entry : feed) snapshot[L"<feed>\\" + entry.first] = entry.second;
  }
  return snapshot;
}

void UpdateBench::ExpectNeverBroken(const InstallFolder& client, StateTally* tally) const {
  std::vector<std::wstring> runs = client.RunFolders();
  int changing = 0, at_new = 0, at_old = 0;
  bool missing = false;
  for (const ReleaseFile& file : files_) {
    SCOPED_TRACE(file.name);
    std::wstring path = client.Path(Wide(file.name));
    if (file.row != Row::kCurrent) ++changing;
    if (!Exists(path)) {
      bool in_backup = false;
      for (const std::wstring& run : runs) {
        std::wstring backup = Join(Join(run, L"backup"), Wide(file.name));
        in_backup = in_backup || (Exists(backup) && !IsFolder(backup) && ReadBytes(backup) == file.old_bytes);
      }
      EXPECT_TRUE(file.row == Row::kAdded || in_backup) << "gone, and its old bytes are in no backup";
      if (file.row == Row::kAdded) {
        ++at_old;
      } else {
        missing = true;
      }
      continue;
    }
    EXPECT_FALSE(IsFolder(path)) << "a folder in a file's place";
    std::string bytes = ReadBytes(path);
    bool is_old = file.row != Row::kAdded && bytes == file.old_bytes;
    bool is_new = bytes == file.new_bytes;
    EXPECT_TRUE(is_old || is_new) << "neither its old nor its new version (" << bytes.size() << " bytes)";
    if (file.row != Row::kCurrent && is_new) ++at_new;
    if (file.row != Row::kCurrent && is_old) ++at_old;
  }

  std::map<std::wstring, std::string> others = InstallSnapshot(client);
  for (const ReleaseFile& file : files_) {
    for (auto it = others.begin(); it != others.end();) {
      std::wstring name = Wide(file.name);
      bool below = _wcsicmp(it->first.c_str(), name.c_str()) == 0 ||
                   _wcsnicmp(it->first.c_str(), (name + L"\\").c_str(), name.size() + 1) == 0;
      it = below ? others.erase(it) : std::next(it);
    }
  }
  EXPECT_TRUE(others == player_files_) << "the install folder holds other entries than the release's and the "
                                          "player's own, or one of the player's files changed";
  EXPECT_TRUE(OutsideSnapshot() == outside_before_) << "something outside the install folder changed";

  std::wstring lock = Join(client.WorkFolder(), L"updater.lock");
  if (Exists(lock)) {
    HANDLE taken = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(taken, INVALID_HANDLE_VALUE) << "the lock is still held";
    if (taken != INVALID_HANDLE_VALUE) CloseHandle(taken);
  }

  if (tally != nullptr) {
    if (missing) ++tally->missing;
    if (at_new == changing) {
      ++tally->all_new;
    } else if (at_old == changing) {
      ++tally->all_old;
    } else {
      ++tally->mixed;
    }
  }
}

void UpdateBench::ExpectConverges(const InstallFolder& client, RunRecord* previous) const {
  RunRecord run = Run(client, RunSettings());
  // Only now may the previous run's process id be given out again.
  if (previous != nullptr) previous->program.reset();
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u) << "the next run does not finish the job"
                               << (run.run_folder.empty() ? " (it made no run folder)" : "");
  EXPECT_TRUE(!run.log.empty() && run.log.back() == kReady)
      << "last line: " << (run.log.empty() ? std::string("(none)") : run.log.back());
  for (const ReleaseFile& file : files_) {
    EXPECT_EQ(ReadBytes(client.Path(Wide(file.name))), file.new_bytes) << file.name << " after the next run";
  }
  std::map<std::wstring, std::string> others = InstallSnapshot(client);
  for (const ReleaseFile& file : files_) others.erase(Wide(file.name));
  EXPECT_TRUE(others == player_files_) << "the next run changed other files of the install folder";
  EXPECT_TRUE(OutsideSnapshot() == outside_before_) << "the next run changed something outside the install folder";
  if (keep_runs_ > 0) {
    // The good run pruned the work folder: keep_runs run folders, its own
    // among them, nothing left half removed, the lock in place.
    std::vector<std::wstring> names = ListFolder(client.WorkFolder());
    int runs = 0;
    for (const std::wstring& name : names) {
      if (IsRunFolderName(name)) ++runs;
      EXPECT_TRUE(IsRunFolderName(name) || name == L"updater.lock") << "left in the work folder: " << Utf8(name);
    }
    EXPECT_EQ(runs, keep_runs_);
    EXPECT_TRUE(!run.run_folder.empty() && IsFolder(run.run_folder)) << "the run pruned its own folder";
  }
}
