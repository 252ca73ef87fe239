// Standard streams over write(2): what the program prints is UTF-8, on a
// terminal as in a file or pipe.
#include "platform/console.h"

#include <errno.h>
#include <unistd.h>
#include <wchar.h>

#include "platform/posix/utf8.h"

static int StreamDescriptor(Stream stream) {
  return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
}

int StreamIsConsole(Stream stream) {
  return isatty(StreamDescriptor(stream)) ? 1 : 0;
}

void WriteToStream(Stream stream, const wchar_t* text) {
  int fd = StreamDescriptor(stream);
  // A line of output is short; a longer text goes in pieces of 1000
  // characters (each at most 4 bytes in UTF-8).
  wchar_t piece[1001];
  char bytes[4004];
  const wchar_t* rest = text;
  while (*rest != L'\0') {
    size_t take = wcslen(rest);
    if (take > 1000) take = 1000;
    wmemcpy(piece, rest, take);
    piece[take] = L'\0';
    rest += take;
    int count = Utf8BytesFromWide(piece, bytes, sizeof bytes);
    if (count <= 0) continue;
    for (int done = 0; done < count;) {
      ssize_t written = write(fd, bytes + done, static_cast<size_t>(count - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;  // a closed stream swallows the text
      done += static_cast<int>(written);
    }
  }
}
