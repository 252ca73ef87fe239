// What Windows' own signature check (WinVerifyTrust) says of the updater
// signed the way the build signs it, run under wine. Wine's check refuses
// an unsigned program and a changed byte but accepts any signer, also one
// from an authority nobody trusts, so this shows the first two only; the
// signer is checked on the build machine (Build.CodeSigning).
#include <gtest/gtest.h>

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <string>

#include "support/files.h"
#include "support/updater.h"

namespace {

// WinVerifyTrust's result for the file, with no user interface and no
// revocation check; 0 means trusted.
LONG VerifyTrust(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

struct TrustCase {
  const wchar_t* file;
  bool trusted;
};

TEST(Authenticode, WindowsRefusesTheUnsignedAndTheChangedUpdater) {
  std::wstring folder = FreshTestFolder();
  ASSERT_TRUE(CopyFileW(ShippedUpdaterExe().c_str(), Join(folder, L"unsigned.exe").c_str(), FALSE));
  ASSERT_TRUE(RunUnixCommand(L"'" + Wide(QF8_SIGN_FOR_TEST) + L"' '" + Wide(UnixPathOf(folder)) + L"'",
                             Join(folder, L"signed.done")));
  const TrustCase cases[] = {
      {L"unsigned.exe", false},
      {L"signed.exe", true},  // whoever signed it, under wine
      {L"altered.exe", false},
  };
  for (const TrustCase& c : cases) {
    LONG result = VerifyTrust(Join(folder, c.file));
    if (c.trusted) {
      EXPECT_EQ(result, 0) << Utf8(c.file);
    } else {
      EXPECT_NE(result, 0) << Utf8(c.file);
    }
  }
}

}  // namespace
