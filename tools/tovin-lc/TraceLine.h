// One line of the debug output read back: the launcher's trace lines ("tovin: ...") with
// their names and values taken from the AMF tail that the launcher adds for programs.
#pragma once

#include "amf/AmfValues.h"

#include <string>
#include <vector>

struct TraceEvent {
    enum class Kind { Line, Call, Answer, Box };
    Kind kind = Kind::Line;
    std::string text; // the line as a person reads it, without the tail, as its bytes came
    // The launcher's (it begins "tovin: "): its text is UTF-8. Any other program's line is
    // in that program's ANSI code page, as OutputDebugStringA takes it.
    bool fromLauncher = false;
    bool exact = false; // names and values come from the tail (not left out, and decoded)
    bool sent = true;   // an answer that reached its slot
    std::string connection;
    std::string method; // the call's method, the answer's callback, the box's caption
    std::string boxText;
    std::vector<AmfValuePtr> arguments; // containers in the order the wire carries them
};

TraceEvent readTraceLine(const std::string& line);
