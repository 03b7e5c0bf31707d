// AMF values written as text, for the console tool's arguments and output and the stand-in
// game's scenarios. A value is JSON: numbers, true, false, null, "text", [...] a strict
// array, {"key": ...} an associative (ECMA) array. On top of JSON: {"$date": MS} alone is
// a date, the words NaN, Infinity and -Infinity are numbers (inside containers too), and
// a word that is not JSON is a string as it stands, so paths and URLs need no quotes (a
// word that begins with '"', '[' or '{' must be JSON). The JSON itself is read and written
// by nlohmann::json. The text is UTF-8, and strings hold it as it is, as every text
// inside the launcher.
#pragma once

#include "amf/AmfValues.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct ValueSyntaxError {
    std::size_t position = 0; // 1-based, in characters
    std::string message;
    // "MESSAGE at character N"
    std::string text() const;
};

// Deeper containers could not be decoded by the receiving side.
constexpr int kMaxValueNesting = 64;

// The AMF writer sends a container's elements and members last to first. AsTyped stores
// them in the order written, as the dump text shows them; ForTheWire stores them
// reversed, so that the peer receives them in the order written.
enum class ValueOrder { AsTyped, ForTheWire };

// One whole word (a command-line argument); null with `error` set on bad JSON.
AmfValuePtr parseValueWord(std::string_view word, ValueSyntaxError& error, ValueOrder order = ValueOrder::AsTyped);

// Values separated by white space (a scenario line); a bare word ends at white space.
bool parseValueList(std::string_view text, std::vector<AmfValuePtr>& values, ValueSyntaxError& error,
                    ValueOrder order = ValueOrder::AsTyped);

// The word that parseValueWord(word, ForTheWire) turns back into a value that travels as
// the same bytes as `value` does, for a value held in the order it was read off the wire.
// A string is bare when it reads back as itself. What the syntax has no form for comes out
// as its nearest kind: a date's time zone is dropped, XML is a string, a typed object an
// object, an absent element null. A null pointer is null. The word is always UTF-8: a string
// that is not (bytes from the wire are not checked) comes out quoted, each malformed
// sequence as U+FFFD, and so is the one kind of value that does not travel back the same.
std::string valueWord(const CFlashAMFObject* value);
