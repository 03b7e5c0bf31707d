#include "Scenario.h"

#include "Flood.h"
#include "Transcript.h"

#include "amf/ValueSyntax.h"
#include "win/WideText.h"

#include <cstdlib>
#include <sstream>

namespace {

std::string windowTitle(HWND window)
{
    wchar_t title[512] = {};
    GetWindowTextW(window, title, ARRAYSIZE(title));
    return win::narrow(title);
}

std::vector<std::string> splitWords(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

struct FirstOfProcess {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK firstWindowOfProcess(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<FirstOfProcess*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

Scenario::Scenario(const std::string& script, std::vector<HWND> windows) : windows_(std::move(windows))
{
    std::string line;
    bool inString = false;
    bool escaped = false;
    for (char c : script + "\n") {
        if (inString && !escaped && c == '\\') {
            escaped = true;
            line += c;
            continue;
        }
        if (c == '"' && !escaped)
            inString = !inString;
        escaped = false;
        if (c == '\n' || (c == ';' && !inString)) {
            auto words = splitWords(line);
            if (!words.empty() && words[0][0] != '#')
                commands_.push_back({std::move(words), line});
            line.clear();
            inString = false;
        } else if (c != '\r') {
            line += c;
        }
    }
    for (HWND window : windows_)
        initialTitles_.push_back(windowTitle(window));
}

int Scenario::run()
{
    int exitCode = 0;
    for (const auto& command : commands_) {
        if (!runCommand(command, exitCode))
            break;
    }
    transcriptLine("end " + std::to_string(exitCode));
    return exitCode;
}

bool Scenario::runCommand(const Command& command, int& exitCode)
{
    const std::vector<std::string>& words = command.words;
    const std::string& name = words[0];
    const std::string argument = words.size() > 1 ? words[1] : "";
    const auto number = [&](std::size_t i, long fallback) {
        return words.size() > i ? std::strtol(words[i].c_str(), nullptr, 0) : fallback;
    };
    if (name == "pid") {
        transcriptLine("pid " + std::to_string(GetCurrentProcessId()));
    } else if (name == "sleep") {
        Sleep(static_cast<DWORD>(number(1, 0)));
    } else if (name == "wait-title") {
        transcriptLine(waitForRetitle(static_cast<DWORD>(number(1, 20000))) ? "retitled" : "not retitled");
    } else if (name == "report-windows") {
        reportWindows();
    } else if (name == "mode") {
        DEVMODEW mode = {};
        mode.dmSize = sizeof mode;
        EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode);
        transcriptLine("mode " + std::to_string(mode.dmPelsWidth) + "x" + std::to_string(mode.dmPelsHeight) + "x" +
                       std::to_string(mode.dmBitsPerPel));
    } else if (name == "dialog-pick" || name == "dialog-cancel") {
        closeDialog(name == "dialog-pick" ? command.line.substr(command.line.find(name) + name.size() + 1) : "");
    } else if (name == "flash") {
        peer_ = std::make_unique<FlashPlayerPeer>(static_cast<std::size_t>(number(1, 65536)), replyName_);
        listening_.push_back(replyName_);
        transcriptLine(peer_->ok() ? "flash player ready" : "flash player failed");
    } else if (!peer_ && name != "exit") {
        transcriptLine("needs flash first: " + name);
    } else if (name == "listen") {
        peer_->registerName(argument);
        listening_.push_back(argument);
    } else if (name == "register") {
        peer_->registerName(argument);
    } else if (name == "table") {
        std::string names;
        for (const auto& entry : peer_->tableNames())
            names += (names.empty() ? "" : ",") + entry;
        transcriptLine("table " + names);
    } else if (name == "post") {
        postCall(command);
    } else if (name == "wait-file") {
        transcriptLine(waitForFile(argument, static_cast<DWORD>(number(2, 60000))) ? "file " + argument
                                                                                   : "no file " + argument);
    } else if (name.rfind("call", 0) == 0) {
        sendCall(command, name != "call-bare");
    } else if (name == "slot-free") {
        const ULONGLONG deadline = GetTickCount64() + static_cast<DWORD>(number(1, 5000));
        while (!peer_->slotFree() && GetTickCount64() < deadline)
            Sleep(5);
        transcriptLine(peer_->slotFree() ? "slot free" : "slot busy");
    } else if (name == "answer") {
        if (!takeAnswer(static_cast<DWORD>(number(1, 15000))))
            transcriptLine("no answer");
        else if (words.size() > 2 && lastAnswer_ != words[2])
            transcriptLine("unexpected answer, expected " + words[2]);
    } else if (name == "answer-bytes") {
        if (!takeAnswer(static_cast<DWORD>(number(1, 15000)), true))
            transcriptLine("no answer");
    } else if (name == "no-answer") {
        if (!takeAnswer(static_cast<DWORD>(number(1, 1500))))
            transcriptLine("no answer");
    } else if (name == "flood") {
        // flood KIND SECONDS [DRAIN_MS]
        const std::vector<std::uint8_t> body = floodBody(argument, replyName_);
        if (body.empty()) {
            transcriptLine("unknown flood " + argument);
        } else {
            const FloodResult flood = runFlood(*peer_, body, listening_, static_cast<unsigned>(number(2, 10)),
                                               static_cast<unsigned>(number(3, 120000)), pending_);
            transcriptLine("flood " + argument + " written " + std::to_string(flood.written) + " answered " +
                           std::to_string(flood.answered));
        }
    } else if (name == "exit") {
        exitCode = static_cast<int>(number(1, 0));
        return false;
    } else {
        transcriptLine("unknown command " + name);
    }
    return true;
}

void Scenario::reportWindows()
{
    FirstOfProcess search{GetCurrentProcessId(), nullptr};
    EnumWindows(firstWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        transcriptLine("window " + std::to_string(i + 1) + " title=[" + windowTitle(windows_[i]) + "]" +
                       (windows_[i] == search.found ? " first" : ""));
    }
}

bool Scenario::waitForRetitle(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        for (std::size_t i = 0; i < windows_.size(); ++i) {
            if (windowTitle(windows_[i]) != initialTitles_[i])
                return true;
        }
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return false;
}

bool Scenario::valuesAfter(const Command& command, const std::string& before, const std::string& method,
                           std::vector<AmfValuePtr>& values)
{
    // The values are the rest of the line after `before` and then the method's name.
    const std::size_t valuesAt = command.line.find(method, command.line.find(before) + before.size()) + method.size();
    ValueSyntaxError error;
    if (parseValueList(command.line.substr(valuesAt), values, error))
        return true;
    transcriptLine("bad values: " + error.text());
    return false;
}

void Scenario::sendCall(const Command& command, bool withReplyName)
{
    // call[@REPLY] METHOD VALUES...
    const std::string& verb = command.words[0];
    const std::string reply = verb.find('@') != std::string::npos ? verb.substr(verb.find('@') + 1) : replyName_;
    if (command.words.size() < 2) {
        transcriptLine("call without method");
        return;
    }
    const std::string& method = command.words[1];
    std::vector<AmfValuePtr> values;
    if (!valuesAfter(command, verb, method, values))
        return;
    CFlashLocalConnectionCall call("");
    if (withReplyName)
        call.addArgument(std::make_unique<CFlashAMFString>(reply), false);
    for (AmfValuePtr& value : values)
        call.addArgument(std::move(value), false);
    std::string shown;
    for (const auto& value : call.getArguments())
        shown += (shown.empty() ? "" : ", ") + value->toDebugString();
    transcriptLine("call " + method + "(" + shown + ")");
    // Like a Flash Player, keep taking the answers addressed to us while waiting for the
    // slot: an answer sitting there would otherwise keep it busy for ever.
    const ULONGLONG deadline = GetTickCount64() + 15000;
    while (!peer_->sendCall("__qel.external.connector__", method, call, 0)) {
        for (const std::string& name : listening_) {
            ReceivedMessage message;
            if (peer_->receive(name, 0, message))
                pending_.push_back({name, std::move(message)});
        }
        if (GetTickCount64() >= deadline) {
            transcriptLine("call not written");
            return;
        }
        Sleep(2);
    }
}

void Scenario::postCall(const Command& command)
{
    // post NAME METHOD VALUES...: leaves a call for NAME in the slot, whoever takes it.
    if (command.words.size() < 3) {
        transcriptLine("post without name or method");
        return;
    }
    const std::string& recipient = command.words[1];
    const std::string& method = command.words[2];
    std::vector<AmfValuePtr> values;
    if (!valuesAfter(command, recipient, method, values))
        return;
    CFlashLocalConnectionCall call("");
    for (AmfValuePtr& value : values)
        call.addArgument(std::move(value), false);
    transcriptLine(peer_->sendCall(recipient, method, call, 15000) ? "posted " + method : "not posted " + method);
}

bool Scenario::waitForFile(const std::string& path, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetFileAttributesW(win::widen(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(20);
    }
    return true;
}

bool Scenario::takeAnswer(DWORD timeoutMs, bool withBytes)
{
    const auto print = [this, withBytes](const std::string& name, const ReceivedMessage& message) {
        lastAnswer_ = message.call ? message.call->getMethodName() : std::string();
        if (withBytes) {
            static const char kDigits[] = "0123456789abcdef";
            std::string hex;
            for (std::uint8_t byte : message.body)
                hex += std::string{kDigits[byte >> 4], kDigits[byte & 15]};
            transcriptLine("bytes " + hex);
        }
        if (!message.call) {
            transcriptLine("answer " + name + " undecodable");
            return;
        }
        std::string shown;
        for (const auto& value : message.call->getArguments())
            shown += (shown.empty() ? "" : ", ") + value->toDebugString();
        transcriptLine("answer " + name + " " + message.call->getMethodName() + "(" + shown + ") from " +
                       message.domain);
    };
    if (!pending_.empty()) {
        print(pending_.front().first, pending_.front().second);
        pending_.pop_front();
        return true;
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        for (const std::string& name : listening_) {
            ReceivedMessage message;
            if (peer_->receive(name, 0, message)) {
                print(name, message);
                return true;
            }
        }
        Sleep(5);
    } while (GetTickCount64() < deadline);
    return false;
}

namespace {

struct OwnedDialog {
    HWND owner;
    HWND found;
};

BOOL CALLBACK findOwnedDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<OwnedDialog*>(param);
    wchar_t name[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    if (std::wstring(name) != L"#32770" || GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK setNameField(HWND child, LPARAM param)
{
    wchar_t name[64] = {};
    GetClassNameW(child, name, ARRAYSIZE(name));
    if (GetDlgCtrlID(child) == 0x47C && std::wstring(name) == L"Edit") {
        SendMessageW(child, WM_SETTEXT, 0, param);
        return FALSE;
    }
    return TRUE;
}

} // namespace

void Scenario::closeDialog(const std::string& fileName)
{
    // Plays the user of a file dialog that the launcher opened over our window.
    OwnedDialog search{windows_.empty() ? nullptr : windows_[0], nullptr};
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (!search.found && GetTickCount64() < deadline) {
        EnumWindows(findOwnedDialog, reinterpret_cast<LPARAM>(&search));
        Sleep(50);
    }
    if (!search.found) {
        transcriptLine("no dialog");
        return;
    }
    Sleep(500);
    if (fileName.empty()) {
        transcriptLine("dialog: cancel");
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    transcriptLine("dialog: choose " + fileName);
    const std::wstring wideName = win::widen(fileName);
    EnumChildWindows(search.found, setNameField, reinterpret_cast<LPARAM>(wideName.c_str()));
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}
