// The Flash Player's side of LocalConnection, as the stand-in game and the tests play
// it: it creates and owns the mutex and a zero-filled section, keeps the listener
// table, writes calls into the slot and takes the messages addressed to its names.
#pragma once

#include "localconnection/FlashLocalConnectionCall.h"
#include "localconnection/SectionLayout.h"
#include "win/WinHandles.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ReceivedMessage {
    std::string recipient;
    std::string domain;
    std::unique_ptr<CFlashLocalConnectionCall> call; // null when the body did not decode
    std::vector<std::uint8_t> body;                  // as it was in the slot
};

class FlashPlayerPeer {
public:
    // sectionSize 0 creates the mutex only (no section).
    // `firstName`, if any, is in the listener table before anyone else can open the section.
    explicit FlashPlayerPeer(std::size_t sectionSize = 65536, const std::string& firstName = "");
    ~FlashPlayerPeer() = default; // unmaps, then closes the section and the mutex
    FlashPlayerPeer(const FlashPlayerPeer&) = delete;
    FlashPlayerPeer& operator=(const FlashPlayerPeer&) = delete;

    bool ok() const { return mutex_ && (sectionSize_ == 0 || view_.data != nullptr); }
    HANDLE mutex() const { return mutex_.get(); }
    // Raw access for tests; take lock() around it.
    lc::SectionView view() const { return view_; }
    void lock() const;
    void unlock() const;

    void registerName(const std::string& name);
    std::vector<std::string> tableNames() const;
    bool slotFree() const;
    // How long the waits below pause between looks at the slot (2 ms unless set).
    void setPollInterval(DWORD ms) { pollMs_ = ms; }

    // Waits for a free slot, then writes the call (arguments in call order). False on time-out.
    bool sendCall(const std::string& recipient, const std::string& method, const CFlashLocalConnectionCall& arguments,
                  DWORD timeoutMs);
    // Writes a raw body into a free slot.
    bool sendBody(const std::vector<std::uint8_t>& body, DWORD timeoutMs);
    // Waits for a message addressed to `name`, takes it and frees the slot.
    bool receive(const std::string& name, DWORD timeoutMs, ReceivedMessage& message);

private:
    std::size_t sectionSize_;
    DWORD pollMs_ = 2;
    UniqueHandle mutex_;
    UniqueHandle section_;
    UniqueView mapping_;
    lc::SectionView view_;
};
