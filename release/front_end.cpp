// The settings and the status sink of the shared code, for the release tool.
#include "release/front_end.h"

#include "app/config.h"
#include "app/status.h"

Config config;  // what the shared code reads: folders, feed, manifest copy

// Status lines of the shared code since the last ClearReported.
static std::vector<std::wstring> reported;

void ReportStatus(const wchar_t* text) {
  reported.push_back(text);
}

// The tool draws no progress bar; it shows byte counts of its own.
void SetProgressRange(int32_t) {}
void SetProgressPos(int32_t) {}
void SetDownloadBytes(uint64_t, uint64_t) {}
void AddDownloadBytes(uint64_t) {}
void DropDownloadBytes(uint64_t) {}

void ClearReported() {
  reported.clear();
}

const std::vector<std::wstring>& Reported() {
  return reported;
}

std::wstring QuotedReport() {
  std::wstring joined;
  for (const std::wstring& line : reported) {
    if (!joined.empty()) joined += L" then ";
    joined += L"\"" + line + L"\"";
  }
  return joined;
}
