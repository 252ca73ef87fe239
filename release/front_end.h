// The release tool as a front end of the updater's shared code: the
// settings record that the fetcher, the manifest reader and the plan read,
// and the status sink they report to. The tool sets the settings before it
// calls them and reads back what they reported.
#pragma once

#include <string>
#include <vector>

// Forgets the status lines reported so far.
void ClearReported();

// The status lines the shared code reported since the last ClearReported,
// in order: the Korean messages a player's updater would show.
const std::vector<std::wstring>& Reported();

// The reported lines joined for quoting in one line of output, each in
// double quotes; the empty text when nothing was reported.
std::wstring QuotedReport();
