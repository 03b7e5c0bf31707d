// The method table (Methods.def) as values, for what reads it at run time: tovin-lc
// serve's defaults and the tests. Portable.
#pragma once

#include <string_view>

struct MethodRow {
    std::string_view name;
    std::string_view answers; // space-separated; empty when the method answers nothing
    const char* serveDefault; // serve's answer: a callback, "" for none; null: no rule
};

inline constexpr MethodRow kMethodRows[] = {
#define TOVIN_METHOD(name, answers, serveDefault) {#name, answers, serveDefault},
#include "services/Methods.def"
};

// The answer to a method that is no row's.
inline constexpr char kUnknownMethodAnswer[] = "onUnknownMethod";
