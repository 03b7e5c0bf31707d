// AMF values written as text in the stand-in game's scenarios:
//   "text" (with \" \\ \n and \xHH escapes), 12.5, -3, true, false, null,
//   [v, v, ...] a strict array, {key: v, ...} an object (keys bare or quoted).
#pragma once

#include "amf/AmfValues.h"

#include <string>
#include <vector>

// Parses values separated by spaces or commas; false (with `error` set) on bad text.
bool parseValues(const std::string& text, std::vector<AmfValuePtr>& values, std::string& error);
