// The check command's --ini form: would a player's updater read this
// Quenfar8Updater.ini as the publisher means it?
#pragma once

#include <string>

// Reads ini_path with the updater's own INI reader and rules: the feed's
// form, every optional key's value, and every key or section the updater
// does not know. Prints what the updater will do and every problem.
// Returns the exit code: 0 no problem, 1 problems found.
int CheckIniFile(const std::wstring& ini_path);
