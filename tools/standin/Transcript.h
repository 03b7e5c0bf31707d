// Where the stand-in game reports what it saw: one line per event, to the file named
// by TOVIN_TRANSCRIPT (appended and flushed at once), or to standard output.
#pragma once

#include <string>

void transcriptLine(const std::string& line);
