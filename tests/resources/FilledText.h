// A text of the launcher's table with its placeholders filled in, as the launcher fills them.
#pragma once

#include <cstdio>
#include <string>

template <typename... Values>
std::string filledText(const char* format, Values... values)
{
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}
