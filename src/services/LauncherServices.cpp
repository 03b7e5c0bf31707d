#include "services/LauncherServices.h"
#include "resources/Texts.h"

#include "download/Transfer.h"
#include "localconnection/FlashLocalConnection.h"
#include "localconnection/Trace.h"
#include "services/Methods.h"
#include "win/WideText.h"

#include <cstdio>

namespace {

using Handler = void (CLauncherServices::*)(CFlashLocalConnectionCall*, const std::string&, HWND);

struct MethodEntry {
    const char* name;
    Handler handler;
};

// Compared in the table's order, whole names only.
constexpr MethodEntry kMethods[] = {
#define TOVIN_METHOD(name, answers, serveDefault) {#name, &CLauncherServices::name},
#include "services/Methods.def"
};

} // namespace

CLauncherServices::CLauncherServices() : ended_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CLauncherServices::~CLauncherServices()
{
    RestoreDisplayMode();
    // A worker still blocked in WinINet uses its transfer until the process ends.
    for (std::unique_ptr<Transfer>& transfer : transfers_) {
        if (!transfer->workerEnded())
            static_cast<void>(transfer.release());
    }
}

void CLauncherServices::dispatch(CFlashLocalConnectionCall* call, HWND gameWindow)
{
    if (!call)
        return;
    const std::string& method = call->getMethodName();
    const auto& arguments = call->getArguments();
    if (arguments.empty() || arguments.front()->getType() != kAmfString)
        return;
    const std::string replyName = arguments.front()->toString();
    for (const MethodEntry& entry : kMethods) {
        if (method == entry.name) {
            (this->*entry.handler)(call, replyName, gameWindow);
            return;
        }
    }
    sendAnswer(replyName, kUnknownMethodAnswer);
}

// A game that exits with code 259 reads as STILL_ACTIVE, so the handle's state decides.
bool CLauncherServices::hasEnded() const
{
    return sessionEnded_ || WaitForSingleObject(ended_.get(), 0) == WAIT_OBJECT_0 ||
           (gameProcess_ && WaitForSingleObject(gameProcess_, 0) == WAIT_OBJECT_0);
}

win::ThreadWait CLauncherServices::threadWait() const
{
    return listener_ ? listener_->windowThreadWait() : win::ThreadWait();
}

void CLauncherServices::endSession()
{
    sessionEnded_ = true;
    markEnded();
    RestoreDisplayMode();
    // By place: a transfer's wait serves messages (never a call, so no new transfer).
    for (std::size_t i = 0; i < transfers_.size(); ++i) {
        if (transfers_[i]->inUse())
            transfers_[i]->finish(Transfer::End::SessionEnded, threadWait(), nullptr);
    }
}

void CLauncherServices::sendAnswer(const std::string& replyName, const char* method, std::vector<AmfValuePtr> values)
{
    if (hasEnded())
        return;
    auto answer = std::make_unique<CFlashLocalConnectionCall>("");
    for (AmfValuePtr& value : values)
        answer->addArgument(std::move(value), false);
    auto connector = std::make_unique<CFlashLocalConnection>(replyName.c_str(), nullptr, 0);
    const bool written = connector->send(method, answer.get(), {.listener = listener_, .giveUp = endedEvent()});
    lc::traceAnswer(replyName.c_str(), method, *answer, written);
    connector.reset();
    answer.reset();
}

void showCountAlert(const char* format, int count)
{
    char text[1024];
    std::snprintf(text, sizeof text, format, count);
    lc::traceBox(texts::kCountCaption, text);
    MessageBoxW(nullptr, win::widen(text).c_str(), win::widen(texts::kCountCaption).c_str(), MB_OK);
}
