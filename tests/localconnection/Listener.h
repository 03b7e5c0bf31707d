// A listening connector for the connector tests, stopped and joined at the end of the test.
#pragma once

#include "localconnection/FlashLocalConnection.h"

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
    ~Listener()
    {
        connector_.requestStop();
        EXPECT_TRUE(connector_.waitForReceiving(8000));
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    CFlashLocalConnection& connector() { return connector_; }

private:
    CFlashLocalConnection connector_;
};
