// The script of tovin-lc serve: a JSON list of rules, each saying which calls it answers
// and with what. A rule is written the way trace --json prints a call (method, args) and
// an answer ({"method", "args"}), so that a traced line pasted into a rule reads; the keys
// that only describe the traced line (time, pid, kind, connection, domain, sent) are
// passed over. Portable: the console tool does the listening and the sending.
#pragma once

#include "amf/ValueSyntax.h"
#include "localconnection/FlashLocalConnectionCall.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ServeAnswer {
    std::string method;             // the callback (UTF-8, as every name)
    std::vector<std::string> words; // its arguments, each a value word (UTF-8), in call order
};

struct ServeRule {
    std::string method; // UTF-8
    // The value words the call's first arguments must print as; none takes any value.
    std::vector<std::optional<std::string>> args;
    std::optional<ServeAnswer> answer; // none: nothing is sent
    unsigned long delayMs = 0;
    unsigned long times = 0; // 0: every call
    bool end = false;        // the serve ends after this answer
    unsigned long used = 0;  // calls answered so far
};

class ServeScript {
public:
    // A script is written by hand: these leave room for any real one.
    static constexpr std::size_t kMaxScriptBytes = 1024 * 1024;
    static constexpr std::size_t kMaxRules = 1000;
    static constexpr unsigned long kMaxDelayMs = 600000;
    static constexpr unsigned long kMaxTimes = 1000000000;
    // A value nests at most kMaxValueNesting deep inside its rule's args, four levels down.
    static constexpr int kMaxNesting = 64 + 4;
    // Adds the rules of `json` (UTF-8) after those read before. False with `error` set to
    // one line naming the rule and the field; nothing is added then.
    bool read(std::string_view json, std::string& error);
    // Adds, after the rules read, one that answers as the launcher does for each method whose
    // answer needs neither a network nor a person (the method table's serve defaults). They
    // come whatever the script's size: kMaxRules bounds what is read.
    void addLauncherDefaults();
    // Those rules in words, for the help: "M answers CALLBACK(), N answers nothing".
    static std::string launcherDefaultsText();
    const std::vector<ServeRule>& rules() const { return rules_; }

    // The first rule that takes the call, counted as used; null when none does.
    const ServeRule* match(const CFlashLocalConnectionCall& call);

    // The record that carries an answer's values: ready to send, or (AsTyped) as the peer
    // holds them once received.
    static std::unique_ptr<CFlashLocalConnectionCall> answerRecord(const ServeAnswer& answer,
                                                                   ValueOrder order = ValueOrder::ForTheWire);

private:
    std::vector<ServeRule> rules_;
};
