// The stand-in game's scenario: commands run one after the other, one per line or ';'.
//   pid | sleep MS | wait-title MS | report-windows | mode | exit CODE
//   flash [SIZE]              create the Flash Player's mutex and section (65536 bytes unless
//                             given), listen on the reply name
//   slot-free MS              wait until the message slot is free
//   listen NAME | register NAME | table
//   call[@REPLY] METHOD VALUES   a call whose first argument is the reply name (values: amf/ValueSyntax.h)
//   call-bare METHOD VALUES      a call with exactly these arguments
//   post NAME METHOD VALUES      leave a call for NAME in the slot (nobody may take it)
//   wait-file PATH [MS]          wait until the file exists (the test's signal to go on)
//   answer MS [CALLBACK] | no-answer MS
//                                wait for the launcher's answer on any name listened to; with
//                                CALLBACK, a line "unexpected answer, expected CALLBACK"
//                                follows an answer that calls another
//   answer-bytes MS              the same, then the answer's body as it was in the slot, in hex
//   dialog-pick NAME | dialog-cancel   close the file dialog opened over the game window
//   flood nulls|negative SECONDS [DRAIN_MS]   full-size calls as fast as the slot allows
#pragma once

#include "FlashPlayerPeer.h"

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class Scenario {
public:
    Scenario(const std::string& script, std::vector<HWND> windows);

    // Runs every command; the result is the process exit code (0 unless `exit` says).
    int run();

private:
    struct Command {
        std::vector<std::string> words;
        std::string line;
    };

    bool runCommand(const Command& command, int& exitCode);
    void reportWindows();
    bool waitForRetitle(DWORD timeoutMs);
    // Parses the values that follow `before` and `method` on the command's line; a bad
    // value is reported in the transcript.
    bool valuesAfter(const Command& command, const std::string& before, const std::string& method,
                     std::vector<AmfValuePtr>& values);
    void sendCall(const Command& command, bool withReplyName);
    void postCall(const Command& command);
    static bool waitForFile(const std::string& path, DWORD timeoutMs);
    // Prints the answer and keeps its method in lastAnswer_.
    bool takeAnswer(DWORD timeoutMs, bool withBytes = false);
    void closeDialog(const std::string& fileName);

    std::vector<Command> commands_;
    std::vector<HWND> windows_;
    std::vector<std::string> initialTitles_;
    std::unique_ptr<FlashPlayerPeer> peer_;
    std::string replyName_ = "tovin.game.reply";
    std::vector<std::string> listening_;
    std::string lastAnswer_;
    std::deque<std::pair<std::string, ReceivedMessage>> pending_; // answers taken while sending
};
