// Hostile servers: the loopback feed breaks off, lies about lengths, never
// ends a body, drips or stalls, or shows a certificate that must be
// refused. The real updater must end with the fetcher's message and leave
// the install folder as it was; a slow but steady body just takes its time.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "support/feed.h"
#include "support/files.h"
#include "support/hostile_client.h"
#include "support/messages.h"
#include "support/release.h"
#include "support/updater.h"
#include "support/process.h"
#include "support/window_probe.h"

namespace {

const char kFetchingTarget[] = "파일 받는 중: target.bin";

// A client one release behind and its release on the loopback feed. The
// manifest lists the game (current), target.bin and whole.pak (both to be
// fetched whole, in that order). A fault goes on the manifest through a
// "fault-..." segment in the feed address, or on target.bin through one in
// its remote path (tests/https/server.py).
struct FeedClient {
  FeedClient(const std::string& name, int port, const std::string& feed_fault, const std::string& file_fault,
             const std::string& target = Filler(200000, 21))
      : install(Join(FreshTestFolder(L"-" + Wide(name)), L"client")) {
    EXPECT_TRUE(feed.Load()) << "the HTTPS fixture is not running";
    Release release(feed.Folder(name));
    release.AddFile("Quenfar8.exe", "the game, current");
    release.AddFile("target.bin", target);
    release.AddFile("whole.pak", "whole, release 2");
    if (!file_fault.empty()) release.Set("file.1", "full", file_fault + "/files/target.bin");
    release.WriteManifest();
    WriteBytes(install.Path(L"Quenfar8.exe"), "the game, current");
    WriteBytes(install.Path(L"target.bin"), "target, release 1");
    WriteBytes(install.Path(L"whole.pak"), "whole, release 1");
    folder = name + "/";
    if (!feed_fault.empty()) folder = feed_fault + "/" + folder;
    install.WriteFeed(feed.UrlOn(port, "") + folder);
    before = SnapshotTree(install.dir());
  }

  TestFeed feed;
  InstallFolder install;
  std::string folder;  // below the server's root, fault segment included
  TreeSnapshot before;
};

// What a run that the server failed must look like: exit code 1, the given
// log, no partial download anywhere, and the install folder unchanged.
void ExpectFailedCleanly(const FeedClient& client, const InstallFolder::Result& run,
                         const std::vector<std::string>& log, const std::string& what) {
  EXPECT_EQ(run.outcome.exit_code, 1u) << what;
  EXPECT_FALSE(run.outcome.timed_out) << what;
  EXPECT_EQ(run.log, log) << what;
  EXPECT_TRUE(SameTree(SnapshotTree(client.install.dir()), client.before)) << what << ": the install folder changed";
  EXPECT_TRUE(ListFolder(Join(run.run_folder, L"new")).empty()) << what << ": a staged or partial file remains";
  EXPECT_EQ(Exists(Join(run.run_folder, L"manifest.ini")), log != std::vector<std::string>{kDownloadFailed})
      << what << ": the manifest copy is there exactly when its fetch succeeded";
}

// How many connections to port ended without a request (the server
// records each; a refused certificate leaves one).
size_t ConnectionsWithoutRequest(const TestFeed& feed, int port) {
  const std::string hits = "\n" + feed.Hits();
  const std::string mark = "\n" + std::to_string(port) + ": no request";
  size_t count = 0;
  for (size_t at = hits.find(mark); at != std::string::npos; at = hits.find(mark, at + 1)) ++count;
  return count;
}

TEST(HostileServer, BrokenBodiesAndRefusedCertificates) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  const std::vector<std::string> manifest_failed = {kDownloadFailed};
  // The manifest has no expected size, so a body that ends early without an
  // error is the manifest: half of it leaves [file.1] without its keys.
  const std::vector<std::string> manifest_cut = {"파일 확인 중: Quenfar8.exe", kBadEntry};
  const std::vector<std::string> target_failed = {"파일 확인 중: Quenfar8.exe",
                                                  "파일 확인 중: target.bin",
                                                  "파일 확인 중: whole.pak",
                                                  kFetchingTarget,
                                                  kDownloadFailed,
                                                  kDownloadCheck};
  struct {
    const char* what;
    int port;
    std::string feed_fault;  // on the manifest
    std::string file_fault;  // on target.bin
    const std::vector<std::string>& log;
  } const cases[] = {
      {"manifest: reset half-way", feed.port, "fault-reset", "", manifest_failed},
      {"manifest: closed short of its Content-Length", feed.port, "fault-short", "", manifest_cut},
      {"manifest: more bytes than its Content-Length", feed.port, "fault-long", "", manifest_cut},
      {"manifest: endless chunked body", feed.port, "fault-chunked", "", manifest_failed},
      {"file: reset half-way", feed.port, "", "fault-reset", target_failed},
      {"file: closed short of its Content-Length", feed.port, "", "fault-short", target_failed},
      {"file: one byte more than its Content-Length", feed.port, "", "fault-long-1", target_failed},
      {"file: half more than its Content-Length", feed.port, "", "fault-long", target_failed},
      {"file: endless chunked body", feed.port, "", "fault-chunked", target_failed},
      {"certificate for another host name", feed.other_host_port, "", "", manifest_failed},
      {"expired certificate", feed.expired_port, "", "", manifest_failed},
      {"self-signed certificate", feed.self_signed_port, "", "", manifest_failed},
      {"certificate from an unknown authority", feed.untrusted_port, "", "", manifest_failed},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::string name = "hostile-server-" + std::to_string(i++);
    FeedClient client(name, c.port, c.feed_fault, c.file_fault);
    size_t refused_before = ConnectionsWithoutRequest(feed, c.port);
    InstallFolder::Result run = client.install.Update(L"/quiet");
    ExpectFailedCleanly(client, run, c.log, c.what);
    // The failure came from the fault asked for, not from a missing file
    // or a server that was not there.
    if (!c.feed_fault.empty()) {
      std::string request = c.feed_fault + " /" + c.feed_fault + "/" + name + "/manifest.ini";
      EXPECT_NE(feed.Hits().find(request), std::string::npos) << c.what << ": no " << request;
    } else if (!c.file_fault.empty()) {
      std::string request = c.file_fault + " /" + name + "/" + c.file_fault + "/files/target.bin";
      EXPECT_NE(feed.Hits().find(request), std::string::npos) << c.what << ": no " << request;
    } else {
      EXPECT_TRUE(WaitFor([&] { return ConnectionsWithoutRequest(feed, c.port) > refused_before; }))
          << c.what << ": the server saw no connection that ended without a request";
    }
  }
}

// The control for the table above: the same release without a fault
// updates the client.
TEST(HostileServer, SameReleaseWithoutAFaultUpdates) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  FeedClient client("hostile-server-control", feed.port, "", "");
  InstallFolder::Result run = client.install.Update(L"/quiet");
  EXPECT_EQ(run.outcome.exit_code, 0u);
  EXPECT_EQ(run.log.back(), kReady);
  EXPECT_EQ(ReadBytes(client.install.Path(L"target.bin")), Filler(200000, 21));
}

// A server that pauses longer than the receive time-out (30 s) in the
// middle of a body: the read fails at the time-out, with the fetcher's
// message. The pause is 45 s, so a run that ended after 20 s or more
// (rather than at once) waited for the time-out, not for the server.
TEST(HostileServer, StalledBodyEndsAtTheReceiveTimeOut) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  FeedClient client("hostile-server-stall", feed.port, "", "fault-stall-45000");
  DWORD start = GetTickCount();
  InstallFolder::Result run = client.install.Update(L"/quiet", L"", 120000);
  DWORD elapsed = GetTickCount() - start;
  ExpectFailedCleanly(client, run,
                      {"파일 확인 중: Quenfar8.exe", "파일 확인 중: target.bin", "파일 확인 중: whole.pak",
                       kFetchingTarget, kDownloadFailed, kDownloadCheck},
                      "stall");
  EXPECT_GE(elapsed, 20000u);
  std::cout << "the stalled run ended after " << elapsed / 1000.0 << " s\n";
}

// A server that drips one byte every 2.5 s trips no time-out, since each
// applies to one read: the run takes as long as the drip and succeeds.
// Meanwhile the window shows "파일 받는 중: target.bin" and the bar stays
// where it was (the window cannot be closed during a run).
TEST(HostileServer, DrippedBodyTakesItsTimeAndSucceeds) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  const std::string dripped = "drip!";  // 4 pauses: 10 s
  FeedClient client("hostile-server-drip", feed.port, "", "fault-drip-2500", dripped);
  Program program(client.install.exe(), L"/apply-only", client.install.dir());
  ASSERT_TRUE(program.started());
  UpdaterWindow w;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w));

  // While the label names the dripped file, the bar stays at 1 (the game's
  // row done) until the file is complete; it moves on to 2 just before the
  // label moves on to the next file.
  const std::wstring fetching = Wide(kFetchingTarget);
  bool seen = false;
  DWORD first = 0, last = 0, moved = 0, exit_code = 99;
  std::vector<int> positions;  // each position the bar took while the label named the file
  ASSERT_TRUE(WaitFor(
      [&] {
        if (WindowText(w.label) == fetching) {
          DWORD now = GetTickCount();
          int position = ProgressPos(w.bar);
          if (!seen) first = now;
          seen = true;
          last = now;
          if (positions.empty() || positions.back() != position) {
            positions.push_back(position);
            if (positions.size() == 2) moved = now;
          }
        }
        return program.WaitEnded(0, &exit_code);
      },
      120000));
  EXPECT_EQ(exit_code, 0u);
  ASSERT_TRUE(seen);
  EXPECT_GE(last - first, 8000u) << "the label named the file for less than the drip";
  EXPECT_EQ(positions.front(), 1);
  EXPECT_LE(positions.size(), 2u) << "the bar moved more than once";
  if (positions.size() == 2) {
    EXPECT_EQ(positions[1], 2);
    EXPECT_GE(moved - first, 8000u) << "the bar moved during the drip";
  }
  std::cout << "the label named the dripped file for " << (last - first) / 1000.0 << " s\n";
  EXPECT_EQ(ReadBytes(client.install.Path(L"target.bin")), dripped);
  EXPECT_EQ(ReadBytes(client.install.Path(L"whole.pak")), "whole, release 2");
}

}  // namespace
