// Text inside the launcher is in the system's ANSI code page; AMF0 carries UTF-8.
// The codec converts at the wire and nowhere else. Both stop at the first zero byte.
#pragma once

#include <string>
#include <string_view>

// Characters the code page cannot hold become its default character ('?').
std::string utf8ToAnsi(std::string_view utf8);
std::string ansiToUtf8(std::string_view ansi);
