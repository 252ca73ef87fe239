// Feeds with a key record, written by hand and signed with OpenSSL's
// command line as a publisher with their own tooling would, and a client
// of the updater built with the test suite's two root keys.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <time.h>

#include "engine/release_time.h"
#include "support/feed.h"
#include "support/messages.h"
#include "tests/release/publishing.h"

#if !defined(QF8_ROOTED_UPDATER) || !defined(QF8_TEST_ROOT_KEY_1) || !defined(QF8_TEST_ROOT_KEY_2)
#error "the build must name the rooted test updater and its root keys"
#endif


inline constexpr char kBadSignature[] = "패치 목록의 서명이 올바르지 않습니다. 배포 주소를 확인해 주세요.";
inline constexpr char kKeyRecord[] = "서명 키 목록이 올바르지 않습니다. 배포 주소를 확인해 주세요.";
inline constexpr char kOlderKeyRecord[] = "설치된 버전보다 오래된 서명 키 목록입니다. 배포 주소를 확인해 주세요.";
inline constexpr char kExpired[] =
    "배포 정보의 유효 기간이 지났습니다. 컴퓨터의 날짜와 시간을 확인하고 잠시 후 다시 시도해 주세요. "
    "계속되면 고객 지원에 문의해 주세요.";
inline constexpr char kRevoked[] =
    "패치 목록의 서명이 더 이상 유효하지 않습니다. 잠시 후 다시 시도하고, 계속되면 고객 지원에 문의해 주세요.";
inline constexpr char kUpdating[] = "배포 정보가 갱신되는 중입니다. 잠시 후 다시 시도해 주세요.";

inline constexpr int64_t kDay = 86400;

inline std::wstring RootKey1() { return WindowsPath(QF8_TEST_ROOT_KEY_1); }
inline std::wstring RootKey2() { return WindowsPath(QF8_TEST_ROOT_KEY_2); }

// The test's folder for OpenSSL's inputs and outputs.
inline std::wstring ScratchFolder() {
  static std::wstring folder;
  if (folder.empty()) {
    folder = FreshTestFolder(L"openssl");
    MakeFolder(folder);
  }
  return folder;
}

inline std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : bytes) out += std::string(1, kDigits[byte >> 4]) + kDigits[byte & 15];
  return out;
}

// A new P-256 private key made by OpenSSL.
inline std::wstring NewKey(const std::wstring& name) {
  std::wstring key = Join(ScratchFolder(), name + L".pem");
  EXPECT_TRUE(RunUnixCommand(L"openssl ecparam -genkey -name prime256v1 -noout -out " + Wide(UnixPathOf(key)),
                             key + L".done"));
  return key;
}

// The public point of a key as 128 digits: the last 64 bytes of its DER
// public key.
inline std::string PublicHex(const std::wstring& key) {
  static int made = 0;
  std::wstring der = Join(ScratchFolder(), L"public-" + std::to_wstring(++made) + L".der");
  EXPECT_TRUE(RunUnixCommand(L"openssl ec -in " + Wide(UnixPathOf(key)) + L" -pubout -outform DER -out " +
                                 Wide(UnixPathOf(der)),
                             der + L".done"));
  std::string bytes = ReadBytes(der);
  return bytes.size() < 64 ? "" : Hex(bytes.substr(bytes.size() - 64));
}

// OpenSSL's signature of bytes with key: "openssl dgst -sha256 -sign",
// its DER form unwrapped into r and s, as 128 digits.
inline std::string OpenSslSignature(const std::string& bytes, const std::wstring& key) {
  static int made = 0;
  std::wstring input = Join(ScratchFolder(), L"signed-" + std::to_wstring(++made));
  std::wstring output = input + L".der";
  WriteBytes(input, bytes);
  EXPECT_TRUE(RunUnixCommand(L"openssl dgst -sha256 -sign " + Wide(UnixPathOf(key)) + L" -out " +
                                 Wide(UnixPathOf(output)) + L" " + Wide(UnixPathOf(input)),
                             input + L".done"));
  std::string der = ReadBytes(output), raw;
  size_t at = 2;
  for (int i = 0; i < 2; ++i) {
    if (at + 2 >= der.size()) return "";
    size_t length = uint8_t(der[at + 1]);
    std::string value = der.substr(at + 2, length);
    while (value.size() > 32 && value[0] == '\0') value.erase(0, 1);
    raw += std::string(32 - value.size(), '\0') + value;
    at += 2 + length;
  }
  return Hex(raw);
}

inline std::string SignatureLine(const std::string& body, const std::wstring& key) {
  return ";signature=" + OpenSslSignature(body, key) + "\r\n";
}

// The time now plus offset seconds, written as the documents write it.
inline std::string TimeFromNow(int64_t offset) {
  wchar_t text[UTC_TIME_CHARACTERS + 1];
  EXPECT_TRUE(FormatUtcTime(uint64_t(int64_t(time(nullptr)) + offset), text, UTC_TIME_CHARACTERS + 1));
  return Utf8(text);
}

// A root handing over to another: from signs the rotation statement
// (unless another signer is named, as a forger would).
struct Rotation {
  std::wstring from, to;  // key files
  std::wstring signer = L"";
};

// A key record as a publisher writes it.
struct RecordPlan {
  uint64_t version = 1;
  std::wstring signing_key;      // the manifests' key
  std::wstring root;             // signs the last line
  int64_t signed_offset = -60;   // seconds from now
  int64_t expires_offset = 30 * kDay;
  std::vector<Rotation> rotations;
};

inline std::string RecordText(const RecordPlan& plan) {
  std::string body = "[keys]\r\nformat=1\r\nversion=" + std::to_string(plan.version) +
                     "\r\nsigning_key=" + PublicHex(plan.signing_key) + "\r\nsigned=" +
                     TimeFromNow(plan.signed_offset) + "\r\nexpires=" + TimeFromNow(plan.expires_offset) + "\r\n";
  int n = 0;
  for (const Rotation& rotation : plan.rotations) {
    std::string from = PublicHex(rotation.from), to = PublicHex(rotation.to);
    std::string statement = "quenfar8 root rotation\n" + from + "\n" + to + "\n";
    body += "\r\n[rotation." + std::to_string(++n) + "]\r\nfrom=" + from + "\r\nto=" + to +
            "\r\nsignature=" +
            OpenSslSignature(statement, rotation.signer.empty() ? rotation.from : rotation.signer) + "\r\n";
  }
  return body + SignatureLine(body, plan.root);
}

// A manifest's key fields and the key that signs it.
struct ManifestPlan {
  uint64_t serial = 1;
  uint64_t key_version = 1;
  std::wstring signing_key;
  int64_t signed_offset = -60;
  int64_t expires_offset = 7 * kDay;
};

// The release's unsigned manifest with the key fields put into [release],
// signed.
inline std::string SignedManifestText(const std::string& unsigned_text, const ManifestPlan& plan) {
  std::string body = unsigned_text;
  size_t end = body.find("\r\n\r\n[file.0]");
  body.insert(end + 2, "serial=" + std::to_string(plan.serial) + "\r\nkey_version=" + std::to_string(plan.key_version) +
                           "\r\nsigned=" + TimeFromNow(plan.signed_offset) + "\r\nexpires=" +
                           TimeFromNow(plan.expires_offset) + "\r\n");
  return body + SignatureLine(body, plan.signing_key);
}

// A feed folder of release 1.1 whose record and manifest the tests write.
struct RootedFeed {
  std::wstring folder;
  std::string unsigned_manifest;

  RootedFeed(const std::wstring& root, const SampleReleases& releases) {
    MakeFolder(root);
    folder = Join(root, L"feed");
    std::wstring c11 = Join(root, L"1.1");
    WriteClient(c11, releases.v11);
    EXPECT_EQ(Pack(c11, folder).exit_code, 0u);
    unsigned_manifest = ReadBytes(Join(folder, L"manifest.ini"));
  }
  std::wstring Record() const { return Join(folder, L"keys.ini"); }
  std::wstring Manifest() const { return Join(folder, L"manifest.ini"); }
  void Publish(const std::string& record, const std::string& manifest) const {
    WriteBytes(Record(), record);
    WriteBytes(Manifest(), manifest);
  }
  void Publish(const RecordPlan& record, const ManifestPlan& manifest) const {
    Publish(RecordText(record), SignedManifestText(unsigned_manifest, manifest));
  }
};

// A 1.0 client run by the rooted updater from a package folder.
struct RootedClient {
  InstallFolder install;
  StampedTree before;

  RootedClient(const std::wstring& dir, const ClientFiles& files) : install(dir, WindowsPath(QF8_ROOTED_UPDATER)) {
    WriteClient(dir, files);
    EXPECT_TRUE(CopyFileW(TestPatchTool().c_str(), install.Path(L"hpatchz.exe").c_str(), FALSE));
    before = Files();
  }
  StampedTree Files() const {
    StampedTree tree = StampedSnapshot(install.dir());
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.compare(0, 16, ".quenfar8-update") == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }
  std::string Recorded(const wchar_t* name) const {
    std::wstring path = Join(install.WorkFolder(), name);
    return Exists(path) ? ReadBytes(path) : "(none)";
  }
  InstallFolder::Result From(const std::wstring& feed) const { return install.Update(L"/quiet /package " + Quoted(feed)); }
};

// A run that must be refused with message and change nothing: not the
// client's files and not its records.
inline void ExpectRefused(const RootedClient& client, const std::wstring& feed, const char* message, const std::string& what) {
  std::string serial = client.Recorded(L"release.serial"), version = client.Recorded(L"key.version"),
              roots = client.Recorded(L"root.keys");
  StampedTree files = client.Files();
  InstallFolder::Result result = client.From(feed);
  EXPECT_EQ(result.outcome.exit_code, 1u) << what;
  EXPECT_EQ(result.log, std::vector<std::string>{message}) << what;
  EXPECT_TRUE(client.Files() == files) << what;
  EXPECT_EQ(client.Recorded(L"release.serial"), serial) << what;
  EXPECT_EQ(client.Recorded(L"key.version"), version) << what;
  EXPECT_EQ(client.Recorded(L"root.keys"), roots) << what;
}

inline void ExpectUpdated(const RootedClient& client, const std::wstring& feed, const SampleReleases& releases,
                   const std::string& what) {
  InstallFolder::Result result = client.From(feed);
  EXPECT_EQ(result.outcome.exit_code, 0u) << what << ": " << (result.log.empty() ? "" : result.log.back());
  for (const auto& file : releases.v11) EXPECT_EQ(ReadBytes(client.install.Path(Wide(file.first))), file.second) << what;
}
