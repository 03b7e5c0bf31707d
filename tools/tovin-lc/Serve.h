// tovin-lc serve: the launcher's part played from a script, so that the game's content
// can be tested on every path (a failed download, a refused mode, a cancelled dialog)
// without a network, a display or a person.
#pragma once

#include "CommandSupport.h"

#include <string>
#include <vector>

extern const char kServeHelp[];

Outcome serve(const std::vector<std::string>& arguments);
