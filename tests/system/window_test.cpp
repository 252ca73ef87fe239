// The updater's window, driven from outside the way a player or a launcher
// drives it: what it shows, when it may be closed, the start button, the
// game start, and how each mode ends.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/feed.h"
#include "support/files.h"
#include "support/release.h"
#include "support/updater.h"
#include "support/window_probe.h"
#include "platform/win/window.h"

namespace {

const wchar_t kReady[] = L"최신 클라이언트입니다. 게임 시작을 눌러 주세요.";
const wchar_t kLaunchFailed[] = L"게임 실행에 실패했습니다. 패치 로그와 게임 로그를 확인해 주세요.";

// A client and a release on the test feed. The release lists the stand-in
// game and one data file; the client already has both, so a run succeeds
// without changing anything, unless the test breaks the release. Every fetch
// waits until Go() is called, which keeps the run busy for as long as the
// test needs.
class HeldClient {
 public:
  explicit HeldClient(const std::string& name) : install(Join(FreshTestFolder(), L"install")) {
    EXPECT_TRUE(feed.Load());
    std::string game = ReadBytes(FakeGameExe());
    Release release(feed.Folder(name));
    release.AddFile("Quenfar8.exe", game);
    release.AddFile("data.pak", "level data");
    release.WriteManifest();
    WriteBytes(install.Path(L"Quenfar8.exe"), game);
    WriteBytes(install.Path(L"data.pak"), "level data");
    token = name + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    install.WriteFeed("https://localhost:" + std::to_string(feed.port) + "/hold/" + token + "/" + name + "/");
  }
  // The run fails at its first row: the data file is missing from the feed.
  void BreakRelease(const std::string& name) {
    DeleteFileW(Join(Join(feed.www, Wide(name)), L"files\\data.pak").c_str());
    WriteBytes(install.Path(L"data.pak"), "old level data");
  }
  void Go() { feed.Release(token); }

  TestFeed feed;
  InstallFolder install;
  std::string token;
};

std::wstring ArtifactPath(const std::wstring& name) {
  std::wstring folder = Join(BuildFolder(), L"test-artifacts");
  MakeFolder(folder);
  return Join(folder, name);
}

struct Area {
  const char* what;
  HWND child;
};

// Saves a picture of the window among the test artifacts, and checks that
// the saved file, as a viewer shows it, holds text in each area: what the
// player sees, not merely what the window reports.
void ExpectPictureShowsText(const UpdaterWindow& w, const std::wstring& name, const std::vector<Area>& areas) {
  std::wstring path = ArtifactPath(name);
  ASSERT_FALSE(SaveWindowPicture(w, path).pixels.empty()) << "no picture of the window was saved";
  Picture shown;
  ASSERT_TRUE(ViewPicture(path, &shown)) << "the saved picture cannot be read: " << Utf8(path);
  for (const Area& area : areas) {
    // Inside the control's border, which a broken picture may still show.
    RECT inside = PictureRect(w.main, area.child);
    InflateRect(&inside, -3, -3);
    EXPECT_GE(TextPixels(shown, inside), kMinTextPixels)
        << area.what << "'s area of the saved picture holds no text: " << Utf8(path);
  }
}

// Closing and the start command are refused while the run is busy; the
// window, its class and its children are laid out as designed.
TEST(Window, LayoutAndTheBusyRun) {
  HeldClient client("window-layout");
  Program program(client.install.exe(), L"", client.install.dir());
  ASSERT_TRUE(program.started());
  UpdaterWindow w;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w));

  EXPECT_EQ(WindowText(w.main), L"Quenfar8 업데이트");
  EXPECT_TRUE(IsWindowVisible(w.main));
  LONG style = GetWindowLongW(w.main, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  RECT outer;
  GetWindowRect(w.main, &outer);
  EXPECT_EQ(outer.right - outer.left, 590);
  EXPECT_EQ(outer.bottom - outer.top, 205);

  struct {
    const char* what;
    HWND child;
    const wchar_t* class_name;
    RECT rect;  // left, top, right, bottom in the client area
    int id;
  } const children[] = {
      {"label", w.label, L"Static", {20, 20, 560, 70}, 0},
      {"bar", w.bar, L"msctls_progress32", {20, 85, 560, 105}, 0},
      {"button", w.button, L"Button", {430, 120, 560, 150}, 1},
  };
  for (const auto& c : children) {
    EXPECT_EQ(_wcsicmp(ClassOf(c.child).c_str(), c.class_name), 0) << c.what;
    RECT rect = ChildRect(w.main, c.child);
    EXPECT_EQ(rect.left, c.rect.left) << c.what;
    EXPECT_EQ(rect.top, c.rect.top) << c.what;
    EXPECT_EQ(rect.right, c.rect.right) << c.what;
    EXPECT_EQ(rect.bottom, c.rect.bottom) << c.what;
    EXPECT_EQ(GetDlgCtrlID(c.child), c.id) << c.what;
    EXPECT_TRUE(IsWindowVisible(c.child)) << c.what;
    EXPECT_EQ(GetWindowLongW(c.child, GWL_EXSTYLE), 0) << c.what;
  }
  EXPECT_EQ(GetWindowLongW(w.label, GWL_STYLE) & SS_TYPEMASK, SS_LEFT);
  EXPECT_EQ(GetWindowLongW(w.button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  EXPECT_EQ(WindowText(w.label), L"클라이언트를 확인하고 있습니다...");
  EXPECT_EQ(WindowText(w.button), L"게임 시작");
  EXPECT_FALSE(IsWindowEnabled(w.button));
  int low = -1, high = -1;
  ProgressRange(w.bar, &low, &high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 100);
  EXPECT_EQ(ProgressPos(w.bar), 0);
  ExpectPictureShowsText(w, L"window-during-run.bmp", {{"the status label", w.label}});

  // Busy: the close box, Alt+F4 and the start command change nothing.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(w.main, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  SendMessageTimeoutW(w.main, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  SendMessageTimeoutW(w.main, WM_COMMAND, 1, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  EXPECT_TRUE(IsWindow(w.main));
  EXPECT_FALSE(Exists(client.install.Path(L"game-started.txt")));

  client.Go();
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(w.button) != FALSE; }));
  EXPECT_EQ(WindowText(w.label), kReady);
  SendMessageTimeoutW(w.main, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitEnded(30000, &exit_code));
  EXPECT_EQ(exit_code, 0u);
  EXPECT_FALSE(Exists(client.install.Path(L"game-started.txt"))) << "closing must not start the game";
}

// A successful run enables the button; pressing it starts the game from
// the install folder and ends the updater with 0.
TEST(Window, StartGameAfterSuccess) {
  HeldClient client("window-start");
  client.Go();
  Program program(client.install.exe(), L"", client.install.dir());
  UpdaterWindow w;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w));
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(w.button) != FALSE; }));
  EXPECT_EQ(WindowText(w.label), kReady);
  int low = -1, high = -1;
  ProgressRange(w.bar, &low, &high);
  EXPECT_EQ(high, 2);
  EXPECT_EQ(ProgressPos(w.bar), 2);
  ExpectPictureShowsText(w, L"window-after-success.bmp",
                         {{"the status label", w.label}, {"the start button", w.button}});

  PostMessageW(w.main, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(w.button));
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitEnded(30000, &exit_code));
  EXPECT_EQ(exit_code, 0u);
  ASSERT_TRUE(WaitFor([&] { return !ReadBytes(client.install.Path(L"game-started.txt")).empty() &&
                                   ReadBytes(client.install.Path(L"game-started.txt")) != "<missing>"; }));
  std::vector<std::string> started = CrLfLines(ReadBytes(client.install.Path(L"game-started.txt")));
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(_stricmp(started[0].c_str(), Utf8(client.install.Path(L"Quenfar8.exe")).c_str()), 0) << started[0];
  EXPECT_EQ(_stricmp(started[1].c_str(), Utf8(client.install.dir()).c_str()), 0) << started[1];
}

// A game that cannot be started leaves the window open with the message in
// the label and the log, and the button enabled for another try.
TEST(Window, GameThatCannotStart) {
  struct {
    const char* what;
    bool remove;  // else replace it with something that is no program
  } const cases[] = {{"game missing", true}, {"game not a program", false}};
  for (const auto& c : cases) {
    HeldClient client(c.remove ? "window-no-game" : "window-bad-game");
    client.Go();
    std::vector<std::wstring> before = client.install.RunFolders();
    Program program(client.install.exe(), L"", client.install.dir());
    UpdaterWindow w;
    ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w)) << c.what;
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(w.button) != FALSE; })) << c.what;
    if (c.remove) {
      DeleteFileW(client.install.Path(L"Quenfar8.exe").c_str());
    } else {
      WriteBytes(client.install.Path(L"Quenfar8.exe"), "this is not a program");
    }
    DWORD_PTR ignored = 0;
    for (int attempt = 1; attempt <= 2; ++attempt) {
      SendMessageTimeoutW(w.main, WM_COMMAND, 1, 0, SMTO_ABORTIFHUNG, 30000, &ignored);
      EXPECT_TRUE(IsWindow(w.main)) << c.what;
      EXPECT_EQ(WindowText(w.label), kLaunchFailed) << c.what;
      EXPECT_TRUE(IsWindowEnabled(w.button)) << c.what;
    }
    std::vector<std::wstring> runs = client.install.RunFolders();
    ASSERT_EQ(runs.size(), 1u);
    std::vector<std::string> log = CrLfLines(ReadBytes(Join(runs[0], L"updater.log")));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], Utf8(kReady)) << c.what;
    EXPECT_EQ(log[log.size() - 2], Utf8(kLaunchFailed)) << c.what;
    EXPECT_EQ(log[log.size() - 1], Utf8(kLaunchFailed)) << c.what;
    SendMessageTimeoutW(w.main, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    DWORD exit_code = 99;
    ASSERT_TRUE(program.WaitEnded(30000, &exit_code)) << c.what;
    EXPECT_EQ(exit_code, 0u) << c.what;
  }
}

// After a failed run the button stays disabled and the start command does
// nothing; closing ends the process with 0.
TEST(Window, FailedRunInteractive) {
  HeldClient client("window-failed");
  client.BreakRelease("window-failed");
  client.Go();
  Program program(client.install.exe(), L"", client.install.dir());
  UpdaterWindow w;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w));
  const std::wstring failed = L"다운로드 검증에 실패했습니다. 기존 파일은 보존됩니다.";
  ASSERT_TRUE(WaitFor([&] { return WindowText(w.label) == failed; }));
  DWORD_PTR ignored = 0;
  // The start command does nothing after a failed run, whether or not the
  // completion message has been handled yet.
  SendMessageTimeoutW(w.main, WM_COMMAND, 1, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  EXPECT_FALSE(IsWindowEnabled(w.button));
  EXPECT_FALSE(Exists(client.install.Path(L"game-started.txt")));
  ASSERT_TRUE(CloseWhenRunEnds(w));
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitEnded(30000, &exit_code));
  EXPECT_EQ(exit_code, 0u);
  EXPECT_FALSE(Exists(client.install.Path(L"game-started.txt")));
}

// The unattended modes: /quiet never shows the window, /apply-only shows it
// during the run; both end by themselves with 0 after success and 1 after
// failure, and neither starts the game.
TEST(Window, UnattendedModes) {
  struct {
    const wchar_t* arguments;
    bool visible;
    bool fail;
    DWORD exit_code;
  } const cases[] = {
      {L"/quiet", false, false, 0},
      {L"/quiet", false, true, 1},
      {L"/apply-only", true, false, 0},
      {L"/apply-only", true, true, 1},
      {L"/apply-only /quiet", false, false, 0},
      {L"/quiet /apply-only", false, true, 1},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::string name = "window-mode-" + std::to_string(i++);
    HeldClient client(name);
    if (c.fail) client.BreakRelease(name);
    Program program(client.install.exe(), c.arguments, client.install.dir());
    UpdaterWindow w;
    ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w)) << Utf8(c.arguments);
    // Watch the window while the run is held, then let it go on.
    bool ever_visible = false;
    for (int look = 0; look < 25; ++look) {
      ever_visible = ever_visible || IsWindowVisible(w.main);
      Sleep(20);
    }
    client.Go();
    DWORD exit_code = 99;
    DWORD start = GetTickCount();
    while (!program.WaitEnded(10, &exit_code) && GetTickCount() - start < 30000) {
      ever_visible = ever_visible || IsWindowVisible(w.main);
    }
    EXPECT_EQ(exit_code, c.exit_code) << Utf8(c.arguments);
    EXPECT_EQ(ever_visible, c.visible) << Utf8(c.arguments);
    EXPECT_FALSE(Exists(client.install.Path(L"game-started.txt"))) << Utf8(c.arguments);
  }
}

// The window takes the show command from the start-up information.
TEST(Window, ShowCommandFromTheStarter) {
  HeldClient client("window-show");
  Program program(client.install.exe(), L"", client.install.dir(), SW_SHOWMINNOACTIVE);
  UpdaterWindow w;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w));
  ASSERT_TRUE(WaitFor([&] { return IsIconic(w.main) != FALSE; }, 5000));
  client.Go();
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(w.button) != FALSE; }));
  PostMessageW(w.main, WM_CLOSE, 0, 0);
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitEnded(30000, &exit_code));
  EXPECT_EQ(exit_code, 0u);
}

// With progress=bytes a large, slow download shows its bytes: the bar runs
// over the bytes of the whole download, and a second label under the
// status line shows the bytes done of the total, then also the rate and
// the time left once a rate is known, and the finished figures at the end.
// Pictures of the window at the start, in the middle and at the end are
// saved; the log keeps exactly its lines.
TEST(Window, ByteProgressOfALargeSlowDownload) {
  TestFeed feed;
  ASSERT_TRUE(feed.Load());
  const std::string name = "window-bytes";
  const std::string big = Filler(3 * 1048576, 11);  // 3 MiB at 384 KiB/s: about 8 s
  // A slower machine (QUENFAR8_TEST_TIME_FACTOR) gets a slower download, so
  // that the middle lasts long enough there to be seen and drawn.
  const std::string pace = std::to_string(384 * 1000 / Deadline(1000));
  std::string game = ReadBytes(FakeGameExe());
  Release release(feed.Folder(name));
  release.AddFile("Quenfar8.exe", game);
  release.AddFile("big.pak", big, "fault-pace-" + pace + "/files/big.pak");
  release.Put("files/big.pak", big);
  release.WriteManifest();
  InstallFolder install(Join(FreshTestFolder(), L"install"));
  WriteBytes(install.Path(L"Quenfar8.exe"), game);
  WriteBytes(install.Path(L"Quenfar8Updater.ini"),
             "[updater]\r\nfeed=" + feed.Url(name) + "\r\nprogress=bytes\r\n");

  Program program(install.exe(), L"", install.dir());
  ASSERT_TRUE(program.started());
  UpdaterWindow w;
  ASSERT_TRUE(FindUpdaterWindow(program.pid(), &w));
  // Two labels: the status line above the bar, and the byte figures under
  // it, beside the button (whatever order the children are listed in). The
  // byte label is made last, so on a slow machine the window can be found
  // before it exists: wait for it.
  RECT bar = ChildRect(w.main, w.bar);
  RECT button = ChildRect(w.main, w.button);
  HWND bytes = nullptr;
  int labels = 0;
  WaitFor([&] {
    bytes = nullptr;
    labels = 0;
    for (HWND child = GetWindow(w.main, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if (_wcsicmp(ClassOf(child).c_str(), L"Static") != 0) continue;
      ++labels;
      if (ChildRect(w.main, child).top < bar.top) {
        w.label = child;
      } else {
        bytes = child;
      }
    }
    return labels >= 2;
  });
  EXPECT_EQ(labels, 2);
  ASSERT_NE(bytes, nullptr) << "no byte label";
  EXPECT_EQ(ChildRect(w.main, w.label).top, 20) << "the status line moved";
  RECT rect = ChildRect(w.main, bytes);
  EXPECT_GE(rect.top, bar.bottom);
  EXPECT_LE(rect.right, button.left);
  const std::wstring total = L" / 3.0 MB";

  // Every label text seen on the way: bytes done of the total, a time left
  // only beside a rate.
  auto label_ok = [&](const std::wstring& text) {
    if (text.empty()) return true;
    bool left = text.find(L"남은 시간 ") != std::wstring::npos;
    bool rate = text.find(L"/초") != std::wstring::npos;
    return text.find(total) != std::wstring::npos && (!left || rate);
  };
  int low = -1, high = -1;
  auto fraction = [&] {
    ProgressRange(w.bar, &low, &high);
    return high > 0 ? double(ProgressPos(w.bar)) / high : 0.0;
  };

  // The start: the first bytes are in, the bar has barely moved.
  std::wstring text;
  ASSERT_TRUE(WaitFor([&] {
    text = WindowText(bytes);
    EXPECT_TRUE(label_ok(text)) << Utf8(text);
    return text.rfind(L"받는 중: ", 0) == 0 && WindowText(w.label) == L"파일 받는 중: big.pak";
  }));
  EXPECT_LT(fraction(), 0.5) << Utf8(text);
  ExpectPictureShowsText(w, L"window-bytes-start.bmp", {{"the status label", w.label}, {"the byte label", bytes}});

  // The middle: about half of the bytes, with rate and time left. A bar
  // already past it ends the wait at once: the middle was missed.
  bool middle = false;
  ASSERT_TRUE(WaitFor(
      [&] {
        text = WindowText(bytes);
        EXPECT_TRUE(label_ok(text)) << Utf8(text);
        double done = fraction();
        middle = done >= 0.4 && done <= 0.8 && text.find(L"남은 시간 ") != std::wstring::npos;
        return middle || done > 0.8;
      },
      60000))
      << "last seen: " << Utf8(text) << ", bar " << ProgressPos(w.bar) << " of " << high;
  ASSERT_TRUE(middle) << "the middle went by unseen; last seen: " << Utf8(text) << ", bar " << ProgressPos(w.bar)
                      << " of " << high;
  EXPECT_EQ(high, 10000) << "the bar runs over the bytes";
  ExpectPictureShowsText(w, L"window-bytes-middle.bmp", {{"the status label", w.label}, {"the byte label", bytes}});

  // The end: every byte, no time left, the bar full.
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(w.button) != FALSE; }, 60000));
  EXPECT_EQ(WindowText(w.label), kReady);
  EXPECT_EQ(WindowText(bytes), L"받기 완료: 3.0 MB / 3.0 MB");
  EXPECT_EQ(fraction(), 1.0);
  ExpectPictureShowsText(w, L"window-bytes-end.bmp",
                         {{"the status label", w.label}, {"the byte label", bytes}, {"the start button", w.button}});
  PostMessageW(w.main, WM_CLOSE, 0, 0);
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitEnded(30000, &exit_code));
  EXPECT_EQ(exit_code, 0u);
  EXPECT_EQ(ReadBytes(install.Path(L"big.pak")), big);

  // The figures went to the label only: the log has the lines it always has.
  std::vector<std::wstring> runs = install.RunFolders();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(CrLfLines(ReadBytes(Join(runs[0], L"updater.log"))),
            (std::vector<std::string>{"파일 확인 중: Quenfar8.exe", "파일 확인 중: big.pak", "파일 받는 중: big.pak",
                                      "검증 완료. 클라이언트에 적용 중...", Utf8(kReady)}));
}

// The window class as the program registers it (another process's class
// data cannot be read under wine, so this is checked in-process).
TEST(Window, ClassRegistration) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, L"Quenfar8UpdaterProbe", DefWindowProcW);
  WNDCLASSEXW info = {};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetClassInfoExW(instance, L"Quenfar8UpdaterProbe", &info));
  EXPECT_EQ(info.style, 0u);
  EXPECT_EQ(info.hIcon, nullptr);
  EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
  EXPECT_EQ(info.lpszMenuName, nullptr);
}

}  // namespace
