// The owner of a WinINet handle (session, connection or request): one more kind of handle.
#pragma once

#include "win/WinHandles.h"

#include <wininet.h>

namespace handle_policy {

struct Internet {
    using Value = HINTERNET;
    static Value none() { return nullptr; }
    static bool close(Value value) { return InternetCloseHandle(value) != FALSE; }
};

} // namespace handle_policy

using UniqueInternetHandle = UniqueAny<handle_policy::Internet>;
