// One remote call: a method name and its arguments as owned AMF values, in the call's
// order (the message body carries them in the reverse order).
#pragma once

#include "amf/AmfValues.h"

#include <atomic>
#include <list>
#include <memory>
#include <string>

class CFlashLocalConnectionCall {
public:
    explicit CFlashLocalConnectionCall(std::string methodName);
    virtual ~CFlashLocalConnectionCall();
    CFlashLocalConnectionCall(const CFlashLocalConnectionCall&) = delete;
    CFlashLocalConnectionCall& operator=(const CFlashLocalConnectionCall&) = delete;

    const std::string& getMethodName() const { return methodName_; }
    // Callers walk the list and may take values out of it; a value taken out is theirs.
    std::list<AmfValuePtr>& getArguments() { return arguments_; }
    const std::list<AmfValuePtr>& getArguments() const { return arguments_; }
    // A null value is ignored.
    void addArgument(AmfValuePtr value, bool atFront);
    // Takes the first argument out of the list; null when the list is empty.
    AmfValuePtr takeFirstArgument();

    // Records alive in the process: a record lost on its way to its owner shows here.
    static long liveCount() { return live_.load(); }

private:
    static std::atomic<long> live_;
    std::string methodName_;
    std::list<AmfValuePtr> arguments_;
};
