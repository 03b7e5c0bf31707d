// How every service reads its call's arguments: front to back, each one taken off the
// record as it is read and owned by the service from then on. The reply name, which the
// dispatch has read already, is taken off first.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"

#include <string>

class CallArguments {
public:
    explicit CallArguments(CFlashLocalConnectionCall& call) : call_(call) { call_.takeFirstArgument(); }

    // How many arguments follow the reply name and have not been read yet.
    int left() const { return static_cast<int>(call_.getArguments().size()); }
    // The next argument; null when none is left.
    AmfValuePtr next() { return call_.takeFirstArgument(); }
    // The next argument's text (toString); empty when none is left.
    std::string nextText()
    {
        const AmfValuePtr value = next();
        return value ? value->toString() : std::string();
    }

private:
    CFlashLocalConnectionCall& call_;
};
