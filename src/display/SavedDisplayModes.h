// The display modes to put back: for each display device that a switch changed, the mode
// it had before its first switch. Fixed storage, so that the crash handlers' copy needs
// no allocation; a device past the bound is not switched, since it could not be put back.
#pragma once

#include <array>
#include <cstddef>

template <typename Device, typename Mode, std::size_t Capacity>
class SavedDisplayModes {
public:
    struct Saved {
        Device device;
        Mode mode;
    };

    // The mode kept for `device`, or null.
    const Mode* find(const Device& device) const
    {
        for (const Saved& saved : *this) {
            if (saved.device == device)
                return &saved.mode;
        }
        return nullptr;
    }
    // Keeps `mode` for `device` unless one is kept for it already: a restore returns to
    // the mode before the first switch. False, keeping nothing, when the device is new
    // and every place is taken.
    bool keep(const Device& device, const Mode& mode)
    {
        if (find(device))
            return true;
        if (count_ == Capacity)
            return false;
        saved_[count_++] = {device, mode};
        return true;
    }
    bool empty() const { return count_ == 0; }
    // In the order kept.
    const Saved* begin() const { return saved_.data(); }
    const Saved* end() const { return saved_.data() + count_; }
    void clear() { count_ = 0; }

private:
    std::array<Saved, Capacity> saved_{};
    std::size_t count_ = 0;
};
