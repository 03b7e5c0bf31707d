// Text out of a console program: through WriteConsoleW on a console, so that every
// character shows whatever the console's code page, and as UTF-8 when redirected.
// Both are always well-formed: a part of the text that is not valid UTF-8 prints as one
// U+FFFD, as JSON output prints it (nlohmann::json's error_handler_t::replace).
#pragma once

#include <string_view>

enum class Stream { Out, Err };

// `utf8` is one line; a line end is added.
void writeLine(Stream stream, std::string_view utf8);
// Whole lines, each ending with '\n' (written as a Windows line end).
void writeText(Stream stream, std::string_view utf8);
