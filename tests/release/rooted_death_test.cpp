// The updater with root keys ended at every change point of the run that
// takes a root rotation (its records of the serial, the key version and
// the roots are points too): after each death the next start must take
// the same feed, and then a record that only the new root signed.
#include "tests/release/rooted_feed.h"

namespace {

const unsigned kDiedAtPoint = 86;

TEST(RootedDeath, ARunEndedAtAnyPointStillTakesTheNextValidFeed) {
  std::wstring root = FreshTestFolder();
  SampleReleases releases;
  std::wstring signing = NewKey(L"signing"), new_root = NewKey(L"new-root");
  // Version 1 under root 1; version 2 hands over to the new root; version
  // 3 is signed by the new root alone.
  RootedFeed first(Join(root, L"v1"), releases), handover(Join(root, L"v2"), releases), after(Join(root, L"v3"), releases);
  RecordPlan record;
  record.signing_key = signing;
  record.root = RootKey1();
  ManifestPlan manifest;
  manifest.signing_key = signing;
  first.Publish(record, manifest);
  record.version = manifest.key_version = manifest.serial = 2;
  record.root = new_root;
  record.rotations = {{RootKey1(), new_root}};
  handover.Publish(record, manifest);
  record.version = manifest.key_version = manifest.serial = 3;
  record.rotations = {};
  after.Publish(record, manifest);
  const std::string roots_after = PublicHex(new_root) + "\r\n" + PublicHex(RootKey2()) + "\r\n";

  // The uninterrupted run: its points.
  std::wstring change_log = Join(root, L"reference.log");
  {
    RootedClient client(Join(root, L"reference"), releases.v10);
    ASSERT_EQ(client.From(first.folder).outcome.exit_code, 0u);
    ScopedEnv log(L"QUENFAR8_TEST_CHANGE_LOG", change_log);
    ASSERT_EQ(client.From(handover.folder).outcome.exit_code, 0u);
    ASSERT_EQ(client.Recorded(L"root.keys"), roots_after);
  }
  const std::vector<std::string> points = CrLfLines(ReadBytes(change_log));
  int record_points = 0;
  for (const std::string& point : points) {
    if (point.find("root.keys") != std::string::npos || point.find("key.version") != std::string::npos) ++record_points;
  }
  ASSERT_GE(record_points, 2) << "the run wrote no key record";

  int passed = 0;
  const testing::TestResult* result = testing::UnitTest::GetInstance()->current_test_info()->result();
  for (size_t n = 1; n <= points.size(); ++n) {
    SCOPED_TRACE("death point " + std::to_string(n) + " of " + std::to_string(points.size()) + ": " + points[n - 1]);
    const int failures_before = result->total_part_count();
    RootedClient client(Join(root, L"point-" + std::to_wstring(n)), releases.v10);
    ASSERT_EQ(client.From(first.folder).outcome.exit_code, 0u);
    {
      ScopedEnv die(L"QUENFAR8_TEST_DIE_AT", std::to_wstring(n));
      EXPECT_EQ(client.From(handover.folder).outcome.exit_code, kDiedAtPoint);
    }
    // Each record is whole: the old one or the new one.
    std::string version = client.Recorded(L"key.version"), roots = client.Recorded(L"root.keys");
    EXPECT_TRUE(version == "1" || version == "2") << version;
    EXPECT_TRUE(roots == "(none)" || roots == roots_after) << roots;
    InstallFolder::Result again = client.From(handover.folder);
    EXPECT_EQ(again.outcome.exit_code, 0u) << (again.log.empty() ? "" : again.log.back());
    EXPECT_EQ(client.Recorded(L"root.keys"), roots_after);
    InstallFolder::Result next = client.From(after.folder);
    EXPECT_EQ(next.outcome.exit_code, 0u) << (next.log.empty() ? "" : next.log.back());
    EXPECT_EQ(client.Recorded(L"key.version"), "3");
    if (result->total_part_count() == failures_before) ++passed;
  }
  printf("[death points] root rotation: %zu points (%d of them the key records), %d passed\n", points.size(),
         record_points, passed);
}

}  // namespace
