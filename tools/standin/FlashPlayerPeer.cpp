#include "FlashPlayerPeer.h"

#include "amf/AmfReader.h"
#include "localconnection/MessageText.h"

#include <algorithm>
#include <cstring>

FlashPlayerPeer::FlashPlayerPeer(std::size_t sectionSize, const std::string& firstName) : sectionSize_(sectionSize)
{
    // Made owned, so that nobody sees the section before its first name is in the table.
    mutex_.reset(CreateMutexA(nullptr, TRUE, lc::kMutexName));
    const bool owned = mutex_ && GetLastError() != ERROR_ALREADY_EXISTS;
    if (sectionSize != 0) {
        section_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(sectionSize), lc::kSectionName));
        if (section_) {
            mapping_.reset(MapViewOfFile(section_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
            view_ = {static_cast<std::uint8_t*>(mapping_.get()), mapping_ ? sectionSize : 0};
        }
        const lc::TableScanResult scan = lc::findConnection(view_, firstName);
        if (!firstName.empty() && scan.kind == lc::TableScan::EndOfTable)
            lc::appendConnection(view_, scan.offset, firstName);
    }
    if (owned)
        ReleaseMutex(mutex_.get());
}

void FlashPlayerPeer::lock() const
{
    const DWORD result = WaitForSingleObject(mutex_.get(), INFINITE);
    (void)result; // an abandoned mutex is ours all the same
}

void FlashPlayerPeer::unlock() const
{
    ReleaseMutex(mutex_.get());
}

void FlashPlayerPeer::registerName(const std::string& name)
{
    lock();
    const lc::TableScanResult scan = lc::findConnection(view_, name);
    if (scan.kind == lc::TableScan::EndOfTable)
        lc::appendConnection(view_, scan.offset, name);
    unlock();
}

std::vector<std::string> FlashPlayerPeer::tableNames() const
{
    lock();
    std::vector<std::string> names = lc::listenerNames(view_);
    unlock();
    return names;
}

bool FlashPlayerPeer::slotFree() const
{
    lock();
    const bool free = lc::messageLength(view_) == 0;
    unlock();
    return free;
}

bool FlashPlayerPeer::sendCall(const std::string& recipient, const std::string& method,
                               const CFlashLocalConnectionCall& arguments, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        lock();
        const lc::WriteOutcome outcome = lc::writeCall(view_, recipient, method, &arguments, GetTickCount());
        unlock();
        if (outcome == lc::WriteOutcome::Written)
            return true;
        if (outcome == lc::WriteOutcome::TooLarge || GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs_);
    }
}

bool FlashPlayerPeer::sendBody(const std::vector<std::uint8_t>& body, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        lock();
        const bool free = lc::messageLength(view_) == 0 && body.size() <= lc::bodyRoom(view_);
        if (free) {
            const auto length = static_cast<std::uint32_t>(body.size());
            std::memcpy(view_.data + lc::kBodyOffset, body.data(), body.size());
            std::memcpy(view_.data + lc::kLengthOffset, &length, 4);
        }
        unlock();
        if (free)
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs_);
    }
}

bool FlashPlayerPeer::receive(const std::string& name, DWORD timeoutMs, ReceivedMessage& message)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        lock();
        const bool mine = lc::messageLength(view_) != 0 && lc::messageIsFor(view_, name);
        if (mine) {
            CFlashAMFReader reader(view_.data + lc::kBodyOffset, lc::messageLength(view_));
            reader.readByte();
            message.recipient = reader.readShortString();
            reader.readByte();
            message.domain = reader.readShortString();
            message.call = lc::deserializeRemoteCall(view_, nullptr);
            const std::uint8_t* body = view_.data + lc::kBodyOffset;
            message.body.assign(body, body + std::min<std::size_t>(lc::messageLength(view_), lc::bodyRoom(view_)));
            lc::consumeMessage(view_);
        }
        unlock();
        if (mine)
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs_);
    }
}
