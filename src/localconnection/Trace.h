// A trace of the launcher's conversation through OutputDebugStringA, in UTF-8, for
// whoever looks on: a debugger, DebugView on Windows, WINEDEBUG=+debugstr under Wine,
// tovin-lc trace (which alone reads it as UTF-8). One line per
// call received, answer sent and box shown. It writes nothing a peer can see, and
// nothing per pass, so an idle launcher traces nothing.
//
// Each line reads "tovin: call METHOD(ARGS)", "tovin: answer to NAME: CALLBACK(ARGS)"
// (or "answer not sent to"), "tovin: box CAPTION: TEXT", then, for programs, " |amf "
// and the event's AMF0 values in hex: the method and the arguments; the reply name, the
// callback and the arguments; the caption and the text. The writer puts containers out
// last to first, as on the wire. The tail is left out when the line would be too long
// to reach a listener whole.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"

namespace lc {

void traceCall(const CFlashLocalConnectionCall& call);
void traceAnswer(const char* replyName, const char* callback, const CFlashLocalConnectionCall& arguments, bool written);
void traceBox(const char* caption, const char* text);

} // namespace lc
