// A trace of the launcher's conversation through OutputDebugStringA, for whoever looks
// on: a debugger, DebugView on Windows, WINEDEBUG=+debugstr under Wine. One line per
// call received, answer sent and box shown. It writes nothing a peer can see, and
// nothing per pass, so an idle launcher traces nothing.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"

namespace lc {

void traceCall(const CFlashLocalConnectionCall& call);
void traceAnswer(const char* replyName, const char* callback, const CFlashLocalConnectionCall& arguments, bool written);
void traceBox(const char* caption, const char* text);

} // namespace lc
