#include "localconnection/LockedPass.h"

#include "resources/Texts.h"

namespace lc {

LockedPass::LockedPass(HANDLE interrupt, DWORD waitMs, const win::ThreadWait& wait)
    : mutex_(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kMutexName))
{
    if (!mutex_)
        return; // no Flash Player: Failed
    // The interrupt first: of two objects signalled together the wait names the first.
    switch (wait.forAny({interrupt, mutex_.get()}, waitMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED_0:
        wait_ = WaitResult::Interrupted;
        break;
    case WAIT_OBJECT_0 + 1:
        ownership_.own(mutex_.get());
        wait_ = WaitResult::Acquired;
        break;
    case WAIT_ABANDONED_0 + 1:
        ReleaseMutex(mutex_.get());
        wait_ = WaitResult::Abandoned;
        break;
    case WAIT_TIMEOUT:
        wait_ = WaitResult::TimedOut;
        break;
    default:
        wait_ = WaitResult::Failed;
        break;
    }
}

bool LockedPass::map()
{
    section_ = UniqueHandle(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName));
    if (!section_)
        return false;
    mapping_.reset(MapViewOfFile(section_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!mapping_.get())
        return false;
    // The creator sets the size and never tells it; the view's region does.
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(mapping_.get(), &region, sizeof region);
    view_ = {static_cast<std::uint8_t*>(mapping_.get()), region.RegionSize};
    return true;
}

CleanupFailures LockedPass::close()
{
    CleanupFailures failures;
    view_ = {};
    failures.unmap = !mapping_.close();
    failures.closeSection = !section_.close();
    failures.release = !ownership_.release();
    failures.closeMutex = !mutex_.close();
    return failures;
}

CleanupStatus reportCleanup(const CleanupFailures& failed, PassSide side, BoxQueue& boxes)
{
    using namespace texts;
    const bool receive = side == PassSide::Receive;
    const struct {
        bool failed;
        const char* text;
        CleanupStatus status;
    } steps[] = {
        {failed.unmap, receive ? kReceiveUnmapFailed : kSendUnmapFailed, CleanupStatus::UnmapFailed},
        {failed.closeSection, receive ? kReceiveCloseFailed : kSendCloseSectionFailed,
         CleanupStatus::CloseSectionFailed},
        {failed.release, receive ? kReceiveReleaseFailed : kSendReleaseFailed, CleanupStatus::ReleaseFailed},
        {failed.closeMutex, receive ? kReceiveCloseFailed : kSendCloseMutexFailed, CleanupStatus::CloseMutexFailed}};
    CleanupStatus status = CleanupStatus::Clean;
    for (const auto& step : steps) {
        if (step.failed) {
            boxes.add(step.text, receive ? kReceiveCaption : kSendCaption);
            status = step.status;
        }
    }
    return status;
}

} // namespace lc
