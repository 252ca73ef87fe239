#include "support/object_store.h"

#include <stdlib.h>
#include <windows.h>

#include "support/files.h"

#if !defined(QF8_STORE_STATE) || !defined(QF8_FRONT_STATE) || !defined(QF8_PUBLISH_SCRIPT)
#error "QF8_STORE_STATE, QF8_FRONT_STATE and QF8_PUBLISH_SCRIPT must name the fixtures' folders and the script"
#endif

static std::wstring StoreState() { return WindowsPath(QF8_STORE_STATE); }
static std::wstring FrontState() { return WindowsPath(QF8_FRONT_STATE); }

// The first line of a file, without its end.
static std::string FirstLine(const std::wstring& path) {
  std::string text = ReadBytes(path);
  return text.substr(0, text.find('\n'));
}

static std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

bool ObjectStore::Load() {
  front_port = atoi(ReadBytes(Join(FrontState(), L"port")).c_str());
  endpoint = FirstLine(Join(StoreState(), L"endpoint"));
  bucket = FirstLine(Join(StoreState(), L"bucket"));
  return front_port > 0 && endpoint.compare(0, 7, "http://") == 0 && !bucket.empty() && bucket != "<missing>";
}

std::string ObjectStore::Url(const std::string& prefix) const {
  return "https://localhost:" + std::to_string(front_port) + "/" + prefix + "/";
}

// Runs a command line of the build machine's with the publisher's
// credentials through sh; its output and exit code go to files named after
// where (a path on drive Z: of the test's own).
static ObjectStore::Published RunWithCredentials(const std::string& command, const std::wstring& where) {
  std::wstring out = where + L".out", code = where + L".code", done = where + L".done";
  DeleteFileW(out.c_str());
  DeleteFileW(code.c_str());
  std::string state = QF8_STORE_STATE;
  std::string line = ". '" + state + "/env' && " + command + " > '" + UnixPathOf(out) + "' 2>&1; echo $? > '" +
                     UnixPathOf(code) + "'";
  ObjectStore::Published result;
  // Each run of the aws tool takes seconds on a loaded machine.
  if (RunUnixCommand(Wide(line), done, 600000)) result.exit_code = atoi(ReadBytes(code).c_str());
  result.output = ReadBytes(out);
  return result;
}

ObjectStore::Published ObjectStore::Publish(const std::wstring& feed, const std::string& prefix,
                                            const std::string& more) const {
  return RunWithCredentials("'" QF8_PUBLISH_SCRIPT "' '" + UnixPathOf(feed) + "' 's3://" + bucket + "/" + prefix +
                                "/' --endpoint-url '" + endpoint + "' " + more,
                            feed + L".publish");
}

ObjectStore::Published ObjectStore::Aws(const std::string& arguments) const {
  std::wstring where = WindowsPath(QF8_STORE_STATE) + L"\\test-aws-" + std::to_wstring(GetCurrentProcessId());
  return RunWithCredentials("aws=/usr/bin/aws; [ -x $aws ] || aws=aws; $aws --endpoint-url '" + endpoint + "' " +
                                arguments,
                            where);
}

unsigned long long ObjectStore::StoreBytesSent(const std::string& prefix, const std::string& key) const {
  // ... "GET /<bucket>/<prefix>/<key> HTTP/1.1" 206 1048576 - "<agent>" ...
  const std::string request = "\"GET /" + bucket + "/" + prefix + "/" + key + " HTTP/1.1\" ";
  unsigned long long sum = 0;
  for (const std::string& line : Lines(ReadBytes(Join(StoreState(), L"log\\client.rgw.log")))) {
    size_t at = line.find(request);
    if (at == std::string::npos) continue;
    size_t bytes = line.find(' ', at + request.size());
    if (bytes != std::string::npos) sum += strtoull(line.c_str() + bytes + 1, nullptr, 10);
  }
  return sum;
}

std::vector<std::string> ObjectStore::StoreRequests(const std::string& prefix) const {
  // A gateway log line: ... beast: 0x..: 127.0.0.1 - publisher [date]
  // "PUT /<bucket>/<key> HTTP/1.1" 200 0 - "aws-cli/..." - latency=...
  std::vector<std::string> mine;
  const std::string below = " /" + bucket + "/" + prefix + "/";
  for (const std::string& line : Lines(ReadBytes(Join(StoreState(), L"log\\client.rgw.log")))) {
    size_t quote = line.find("beast: ") == std::string::npos ? std::string::npos : line.find('"');
    if (quote == std::string::npos) continue;
    size_t space = line.find(' ', quote);
    if (space == std::string::npos || line.compare(space, below.size(), below) != 0) continue;
    size_t key_end = line.find(' ', space + 1);
    size_t status = line.find("\" ", key_end);
    if (key_end == std::string::npos || status == std::string::npos) continue;
    mine.push_back(line.substr(quote + 1, space - quote - 1) + " " +
                   line.substr(space + below.size(), key_end - space - below.size()) + " " +
                   line.substr(status + 2, 3));
  }
  return mine;
}

std::vector<std::string> ObjectStore::FrontRequests(const std::string& prefix) const {
  std::vector<std::string> mine;
  for (const std::string& line : Lines(ReadBytes(Join(FrontState(), L"access.log")))) {
    size_t path = line.find(' ');
    if (path != std::string::npos && line.compare(path + 1, prefix.size() + 2, "/" + prefix + "/") == 0) {
      mine.push_back(line);
    }
  }
  return mine;
}
