// Where the stand-in game reports what it saw: one line per event, in UTF-8, to the file
// named by TOVIN_TRANSCRIPT (appended and flushed at once), or to standard output.
#pragma once

#include <string>

void transcriptLine(const std::string& line);

// An environment variable's value in UTF-8 (read in UTF-16: any name); "" when unset.
std::string environmentText(const wchar_t* name);
