// Text out of a console program: through WriteConsoleW on a console, so that accented
// text shows whatever the console's code page, and as UTF-8 when redirected.
#pragma once

#include <string>
#include <string_view>

enum class Stream { Out, Err };

// `ansi` is in the ANSI code page, as every text of the codec; a line end is added.
void writeLine(Stream stream, std::string_view ansi);
// The same for text that is already UTF-8 (the program's own texts and its arguments).
void writeUtf8Line(Stream stream, std::string_view utf8);
// UTF-8 text of whole lines, each ending with '\n' (written as a Windows line end).
void writeUtf8Text(Stream stream, std::string_view utf8);
