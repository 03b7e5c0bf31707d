// What the console tool's commands share: their outcome and exit codes, the numbers they
// read, and the JSON lines they print.
#pragma once

#include "ConsoleText.h"

#include "amf/ValueSyntax.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

constexpr int kExitBadArguments = 1;
constexpr int kExitNoAnswer = 2; // not listening, not written, no answer in time, mutex never free
constexpr int kExitNoFlashPlayer = 3;
constexpr unsigned long kMaxSeconds = 7 * 24 * 3600;

using Json = nlohmann::ordered_json;

struct Outcome {
    int code;
    std::string message; // UTF-8, for standard error; empty when there is nothing to say
};

inline Outcome failure(int code, const std::string& message)
{
    return {code, "tovin-lc: " + message};
}

inline bool parseCount(const std::string& text, unsigned long maximum, unsigned long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value > 0 && value <= maximum;
}

inline void writeJson(const Json& line)
{
    writeLine(Stream::Out, line.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// Each argument as the word that call reads back into the same bytes.
template <typename Values>
Json argumentWords(const Values& arguments)
{
    Json words = Json::array();
    for (const auto& argument : arguments)
        words.push_back(valueWord(argument.get()));
    return words;
}
