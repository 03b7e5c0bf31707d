// The transport's pauses, one constant per purpose, all taken with the Flash Player's
// mutex free. tovin-lc paces its own passes with the receive loop's.
#pragma once

namespace lc::pauses {

// After every pass of a receive loop: the pace at which the slot is looked at. Every
// participant looks this often, so a call waits half of it on average; shorter would
// take the mutex from the Flash Players more often for no faster game.
constexpr unsigned long kAfterReceivePassMs = 10;
// After a receive pass that found no Flash Player (no mutex, no section, a wait that
// timed out or was abandoned): it is looked for again after this.
constexpr unsigned long kNoFlashPlayerMs = 500;
// After a pass whose registration failed (the listener table is full).
constexpr unsigned long kAfterRegisterFailedMs = 500;

// Between two attempts of a send (never after the one that wrote): the pace at which a
// busy slot is tried again, and the least pause after a failed attempt.
constexpr unsigned long kBetweenSendAttemptsMs = 10;
// Before a send tries again after a wait for the mutex that timed out or was abandoned.
constexpr unsigned long kSendAfterFailedWaitMs = 500;
// Before a send tries again when there is no mutex at all (a counted failure).
constexpr unsigned long kSendNoMutexMs = 200;
// After a send's pass that did not find the recipient in the table (a counted failure).
constexpr unsigned long kSendNoRecipientMs = 100;

} // namespace lc::pauses
