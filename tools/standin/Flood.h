// A hostile Flash content's flood: full-size calls to the launcher, written as fast as
// the slot allows for a while, each answered by the launcher (its method is unknown).
#pragma once

#include "FlashPlayerPeer.h"

#include <deque>
#include <string>
#include <utility>
#include <vector>

struct FloodResult {
    unsigned written = 0;
    unsigned answered = 0;
};

// The body of one flood call of `kind` ("nulls": one-byte nulls; "negative": empty
// strict arrays with the count 0xFFFFFFFF), filling the whole body room; empty for
// an unknown kind.
std::vector<std::uint8_t> floodBody(const std::string& kind, const std::string& replyName);

// Writes `body` whenever the slot is free for `seconds`, then waits up to `drainMs` for
// the answers of every call written. Answers that are not the flood's go to `others`.
FloodResult runFlood(FlashPlayerPeer& peer, const std::vector<std::uint8_t>& body,
                     const std::vector<std::string>& names, unsigned seconds, unsigned drainMs,
                     std::deque<std::pair<std::string, ReceivedMessage>>& others);
