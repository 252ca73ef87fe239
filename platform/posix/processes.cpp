// The process and the processes it starts, over posix_spawn and waitpid.
//
// The callers build one Windows command line for both systems; it is split
// here by the rules Windows programs split theirs by (the C runtime's
// rules, which CommandLineToArgvW shares): blanks separate arguments, a
// double quote starts or ends a quoted run, 2n backslashes before a quote
// become n backslashes and the quote acts, 2n+1 become n and a literal
// quote, and backslashes before anything else stay as they are. So the
// native tools get the very arguments their Windows builds get.
#include "platform/processes.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>

#include "platform/posix/utf8.h"

extern char** environ;

// The most arguments, and the bytes of all of them, that a started tool
// gets; more is refused (the callers pass a handful of paths).
static const int kMostArguments = 64;
static const size_t kArgumentRoom = 16384;

uint32_t ExecutablePath(wchar_t* out, uint32_t capacity) {
  char path[POSIX_PATH_ROOM];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  out[0] = L'\0';
  if (length <= 0) return 0;
  path[length] = '\0';
  if (!WideFromUtf8Bytes(path, static_cast<size_t>(length), out, capacity, nullptr)) {
    out[0] = L'\0';
    return capacity;
  }
  return static_cast<uint32_t>(wcslen(out));
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

// Splits line by the rules above into arguments: UTF-8 texts stored one
// after another in room, pointed to from arguments (null-ended). 0 when
// they do not fit.
static int SplitWindowsCommandLine(const wchar_t* line, char* room, size_t room_size, char** arguments) {
  wchar_t argument[kArgumentRoom];
  size_t used = 0;
  int count = 0;
  const wchar_t* at = line;
  for (;;) {
    while (*at == L' ' || *at == L'\t') ++at;
    if (*at == L'\0') break;
    size_t length = 0;
    int quoted = 0;
    while (*at != L'\0' && (quoted || (*at != L' ' && *at != L'\t'))) {
      if (*at == L'\\') {
        size_t slashes = 0;
        while (*at == L'\\') ++slashes, ++at;
        size_t keep = *at == L'"' ? slashes / 2 : slashes;
        if (length + keep + 1 >= kArgumentRoom) return 0;
        for (size_t i = 0; i < keep; ++i) argument[length++] = L'\\';
        if (*at == L'"' && slashes % 2 == 1) {
          argument[length++] = L'"';
          ++at;
        }
        continue;
      }
      if (*at == L'"') {
        // Inside a quoted run, two quotes in a row stand for one quote.
        if (quoted && at[1] == L'"') {
          if (length + 1 >= kArgumentRoom) return 0;
          argument[length++] = L'"';
          at += 2;
          continue;
        }
        quoted = !quoted;
        ++at;
        continue;
      }
      if (length + 1 >= kArgumentRoom) return 0;
      argument[length++] = *at++;
    }
    argument[length] = L'\0';
    if (count + 1 >= kMostArguments) return 0;
    int bytes = Utf8BytesFromWide(argument, room + used, room_size - used);
    if (bytes < 0) return 0;
    arguments[count++] = room + used;
    used += static_cast<size_t>(bytes) + 1;
  }
  arguments[count] = nullptr;
  return count > 0 ? 1 : 0;
}

int StartHiddenProcess(const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                       StartedProcess* process) {
  process->process = nullptr;
  process->thread = nullptr;
  char program[POSIX_PATH_ROOM], start_folder[POSIX_PATH_ROOM];
  static char room[kArgumentRoom * 4];
  char* arguments[kMostArguments];
  if (!SystemPath(application, program) || !SplitWindowsCommandLine(command_line, room, sizeof room, arguments)) {
    return 0;
  }
  if (folder != nullptr && !SystemPath(folder, start_folder)) return 0;
  // No console and no inherited handles: the child's standard streams are
  // the null device, and every file of this program is close-on-exec.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return 0;
  int ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
           posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
  if (ok && folder != nullptr) ok = posix_spawn_file_actions_addchdir_np(&actions, start_folder) == 0;
  pid_t child = 0;
  if (ok) ok = posix_spawn(&child, program, &actions, nullptr, arguments, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!ok) return 0;
  process->process = reinterpret_cast<void*>(static_cast<intptr_t>(child));
  return 1;
}

// The child's wait status is kept in the unused thread slot once it has
// been collected, so that QueryExitCode can read it after the wait.
void WaitForProcessEnd(const StartedProcess* process) {
  pid_t child = static_cast<pid_t>(reinterpret_cast<intptr_t>(process->process));
  if (child <= 0 || process->thread != nullptr) return;
  int status = 0;
  pid_t ended;
  do ended = waitpid(child, &status, 0);
  while (ended < 0 && errno == EINTR);
  if (ended != child) return;
  // A tool killed by a signal ends with 128 + the signal, as a shell says.
  uint32_t code = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                    : 128u + static_cast<uint32_t>(WTERMSIG(status));
  const_cast<StartedProcess*>(process)->thread = reinterpret_cast<void*>(static_cast<uintptr_t>(code) + 1);
}

void QueryExitCode(const StartedProcess* process, uint32_t* code) {
  if (process->thread != nullptr) *code = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(process->thread) - 1);
}

void CloseProcessHandles(StartedProcess* process) {
  process->process = nullptr;
  process->thread = nullptr;
}

uint64_t MillisecondsNow() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000ULL + static_cast<uint64_t>(now.tv_nsec) / 1000000ULL;
}

void WaitMilliseconds(uint32_t milliseconds) {
  struct timespec rest = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

int ReadEnvironmentNumber(const wchar_t* name, uint32_t* value) {
  char variable[256];
  if (Utf8BytesFromWide(name, variable, sizeof variable) < 0) return 0;
  const char* text = getenv(variable);
  if (text == nullptr) return 0;
  size_t length = strlen(text);
  if (length == 0 || length >= 16) return 0;
  uint32_t number = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    number = number * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  *value = number;
  return 1;
}
