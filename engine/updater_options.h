// The optional keys of Quenfar8Updater.ini and the values each accepts.
//
// The updater applies these rules at start-up and the release tool lints an
// INI file with the same ones, so a publisher sees exactly what a player's
// updater will make of each key.
#pragma once

#include <stdint.h>

// The section of Quenfar8Updater.ini that the updater reads.
constexpr const wchar_t* UPDATER_INI_SECTION = L"updater";

// Characters read of an optional key's value, terminator included; a longer
// value is cut to this and then not understood.
constexpr uint32_t OPTION_VALUE_CAPACITY = 64;

// The optional keys of [updater], in the order they are reported.
enum class UpdaterOption : uint32_t { kNetwork = 0, kKeepRuns = 1, kProgress = 2, kCount = 3 };

// The key's name as it stands in the INI file ("network", "keep_runs",
// "progress").
const wchar_t* UpdaterOptionKey(UpdaterOption option);

// The values a publisher may give, for messages ("resilient", "1 to 100",
// "bytes").
const wchar_t* UpdaterOptionValues(UpdaterOption option);

// Reads text (as the INI reader returned it) as option's value. 1 and
// *value set when understood: 1 for "resilient" and "bytes", the count for
// keep_runs. 0 when not understood; the empty text is never understood
// (the caller treats it as an absent key).
int ParseUpdaterOption(UpdaterOption option, const wchar_t* text, int32_t* value);

// The Korean line that says option's value was not understood and is
// ignored, into line (capacity characters).
void FormatIgnoredOption(wchar_t* line, uint32_t capacity, UpdaterOption option);

// Reads every optional key of the INI file at ini_path as the updater does
// at start: values[option] is set for each value understood and left as it
// is for an absent or empty key; the bit (1 << option) of *ignored is set
// for each value present but not understood.
void ReadUpdaterOptions(const wchar_t* ini_path, int32_t* const values[], uint32_t* ignored);
