// A listening connector for the connector tests, stopped and joined at the end of the test.
#pragma once

#include "localconnection/FlashLocalConnection.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

class Listener {
public:
    Listener(const char* name, HWND window, UINT message, CFlashLocalConnection::Poster poster = nullptr)
        : connector_(name, window, message)
    {
        if (poster)
            connector_.setPoster(poster);
        connector_.startReceiving();
    }
    ~Listener() { EXPECT_TRUE(connector_.stopReceiving(8000)); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    CFlashLocalConnection& connector() { return connector_; }
    // Returns once a whole receive pass has looked at the slot after this call.
    void waitForAPass()
    {
        const std::uint64_t seen = connector_.receivePasses();
        EXPECT_TRUE(waitUntil([&] { return connector_.receivePasses() >= seen + 2; }, 10000));
    }

private:
    CFlashLocalConnection connector_;
};
