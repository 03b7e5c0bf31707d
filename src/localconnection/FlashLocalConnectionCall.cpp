#include "localconnection/FlashLocalConnectionCall.h"

std::atomic<long> CFlashLocalConnectionCall::live_{0};

CFlashLocalConnectionCall::CFlashLocalConnectionCall(std::string methodName) : methodName_(std::move(methodName))
{
    ++live_;
}

CFlashLocalConnectionCall::~CFlashLocalConnectionCall()
{
    --live_;
}

void CFlashLocalConnectionCall::addArgument(AmfValuePtr value, bool atFront)
{
    if (!value)
        return;
    if (atFront)
        arguments_.push_front(std::move(value));
    else
        arguments_.push_back(std::move(value));
}

AmfValuePtr CFlashLocalConnectionCall::takeFirstArgument()
{
    if (arguments_.empty())
        return nullptr;
    AmfValuePtr first = std::move(arguments_.front());
    arguments_.pop_front();
    return first;
}
