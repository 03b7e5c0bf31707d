// The values that travel between the game's Flash content and the launcher.
// Kinds are told apart by getType. It names the class, not the marker that was read:
// objects, ECMA arrays and typed objects all report 8, and undefined reports 5 (null).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

class CFlashAMFObject;
// An owned value; an empty pointer is an absent value (an unsupported marker was met).
using AmfValuePtr = std::unique_ptr<CFlashAMFObject>;

enum AmfType : int {
    kAmfNumber = 0,
    kAmfBoolean = 1,
    kAmfString = 2,
    kAmfNull = 5,
    kAmfAssociativeArray = 8,
    kAmfArray = 10,
    kAmfDate = 11,
    kAmfXml = 15,
};

class CFlashAMFObject {
public:
    virtual ~CFlashAMFObject() = default;
    virtual std::string toDebugString() const = 0;
    virtual std::string toString() const = 0;
    virtual bool toBoolean() const = 0;
    virtual double toNumber() const = 0;
    // Held, not computed: the encoder asks it of every value it walks.
    int getType() const { return type_; }

protected:
    explicit CFlashAMFObject(AmfType type) : type_(type) {}
    CFlashAMFObject(const CFlashAMFObject&) = delete;
    CFlashAMFObject& operator=(const CFlashAMFObject&) = delete;

private:
    const AmfType type_;
};

class CFlashAMFNumber : public CFlashAMFObject {
public:
    explicit CFlashAMFNumber(double value) : CFlashAMFObject(kAmfNumber), value(value) {}
    std::string toDebugString() const override;
    std::string toString() const override;
    bool toBoolean() const override { return false; }
    double toNumber() const override { return value; }

    double value;
};

class CFlashAMFBoolean : public CFlashAMFObject {
public:
    explicit CFlashAMFBoolean(bool value) : CFlashAMFObject(kAmfBoolean), value(value ? 1 : 0) {}
    std::string toDebugString() const override;
    std::string toString() const override { return value ? "true" : "false"; }
    bool toBoolean() const override { return value != 0; }
    double toNumber() const override { return value ? 1.0 : 0.0; }

    std::uint8_t value; // zero is false, anything else true
};

class CFlashAMFNull : public CFlashAMFObject {
public:
    CFlashAMFNull() : CFlashAMFObject(kAmfNull) {}
    std::string toDebugString() const override { return "null"; }
    std::string toString() const override { return "null"; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }
};

class CFlashAMFDate : public CFlashAMFObject {
public:
    CFlashAMFDate(double time, std::int32_t timezone) : CFlashAMFObject(kAmfDate), time(time), timezone(timezone) {}
    std::string toDebugString() const override;
    std::string toString() const override;
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    double time;           // milliseconds since 1970-01-01 00:00:00 UTC
    std::int32_t timezone; // whole hours
};

class CFlashAMFString : public CFlashAMFObject {
public:
    explicit CFlashAMFString(std::string value) : CFlashAMFObject(kAmfString), value(std::move(value)) {}
    // The text made in its place from what a string's constructor takes (the reader's).
    template <typename... Args>
    explicit CFlashAMFString(std::in_place_t, Args&&... args)
        : CFlashAMFObject(kAmfString), value(std::forward<Args>(args)...)
    {
    }
    std::string toDebugString() const override { return "String : " + value; }
    std::string toString() const override { return value; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    std::string value; // UTF-8, as the wire carries it (not checked: bytes as received)
};

class CFlashAMFXml : public CFlashAMFObject {
public:
    explicit CFlashAMFXml(std::string value) : CFlashAMFObject(kAmfXml), value(std::move(value)) {}
    std::string toDebugString() const override { return "XML : " + value; }
    std::string toString() const override { return value; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    std::string value; // as CFlashAMFString's
};

// Where a container keeps one element's or member's value, and owns it. A number, a
// boolean, a null, a date or a string, the commonest members, lives in the slot itself,
// with no allocation of its own (a string's text, past its small buffer, has its own); a
// container or an XML text lives on the heap, owned through the slot. Containers hand
// out only borrowed pointers, so where a value lives is theirs to know.
class AmfSlot {
public:
    // The kinds a slot may hold in place.
    template <typename Kind>
    static constexpr bool kInPlace = std::is_same_v<Kind, CFlashAMFNumber> || std::is_same_v<Kind, CFlashAMFBoolean> ||
                                     std::is_same_v<Kind, CFlashAMFNull> || std::is_same_v<Kind, CFlashAMFDate> ||
                                     std::is_same_v<Kind, CFlashAMFString>;

    AmfSlot() noexcept = default; // absent
    AmfSlot(std::nullptr_t) noexcept {}
    template <typename Value, typename = std::enable_if_t<std::is_convertible_v<Value*, CFlashAMFObject*>>>
    AmfSlot(std::unique_ptr<Value> value) noexcept : value_(value.release())
    {
    }
    // A value made in place, from what its constructor takes.
    template <typename Kind, typename... Args>
    explicit AmfSlot(std::in_place_type_t<Kind>, Args&&... args)
    {
        static_assert(kInPlace<Kind>, "only the small kinds live in a slot");
        value_ = new (storage_) Kind(std::forward<Args>(args)...);
    }

    AmfSlot(AmfSlot&& other) noexcept { take(other); }
    AmfSlot& operator=(AmfSlot&& other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    AmfSlot(const AmfSlot&) = delete;
    AmfSlot& operator=(const AmfSlot&) = delete;
    ~AmfSlot() { release(); }

    const CFlashAMFObject* get() const noexcept { return value_; }

private:
    bool holdsInPlace() const noexcept
    {
        // Compared as addresses, so that the base's place inside the object does not matter.
        return reinterpret_cast<std::uintptr_t>(value_) - reinterpret_cast<std::uintptr_t>(storage_) < sizeof storage_;
    }
    // Each kind in place was made at the start of the storage.
    template <typename Kind>
    Kind* inPlace() noexcept
    {
        return std::launder(reinterpret_cast<Kind*>(storage_));
    }
    // Of the values in place only a string has anything to release (its text); the others'
    // storage simply ends.
    void release() noexcept
    {
        if (!holdsInPlace())
            delete value_;
        else if (value_->getType() == kAmfString)
            std::destroy_at(inPlace<CFlashAMFString>());
    }
    // A value kept in place is made again in this slot's storage; one on the heap changes owner.
    void take(AmfSlot& other) noexcept
    {
        if (!other.holdsInPlace()) {
            value_ = other.value_;
            other.value_ = nullptr;
            return;
        }
        switch (other.value_->getType()) {
        case kAmfNumber:
            value_ = new (storage_) CFlashAMFNumber(other.inPlace<CFlashAMFNumber>()->value);
            break;
        case kAmfBoolean: {
            auto* made = new (storage_) CFlashAMFBoolean(false);
            made->value = other.inPlace<CFlashAMFBoolean>()->value;
            value_ = made;
            break;
        }
        case kAmfDate: {
            const CFlashAMFDate* date = other.inPlace<CFlashAMFDate>();
            value_ = new (storage_) CFlashAMFDate(date->time, date->timezone);
            break;
        }
        case kAmfString:
            // The other keeps an empty string in place, which its end releases.
            value_ = new (storage_) CFlashAMFString(std::move(other.inPlace<CFlashAMFString>()->value));
            break;
        default:
            value_ = new (storage_) CFlashAMFNull();
            break;
        }
    }

    CFlashAMFObject* value_ = nullptr;
    static constexpr std::size_t kRoom =
        std::max({sizeof(CFlashAMFNumber), sizeof(CFlashAMFBoolean), sizeof(CFlashAMFNull), sizeof(CFlashAMFDate),
                  sizeof(CFlashAMFString)});
    static constexpr std::size_t kAlignment =
        std::max({alignof(CFlashAMFNumber), alignof(CFlashAMFBoolean), alignof(CFlashAMFNull), alignof(CFlashAMFDate),
                  alignof(CFlashAMFString)});
    alignas(kAlignment) unsigned char storage_[kRoom];
};

// A container's elements or members in the order added. Its first room may lie in the
// container's own allocation, made for the count that the reader knows it will hold
// (makeWithRoom); room past that comes from the heap, as a vector's would.
template <typename T>
class AmfRoom {
public:
    AmfRoom() noexcept = default;
    AmfRoom(T* room, std::size_t capacity) noexcept : begin_(room), capacity_(capacity) {}
    AmfRoom(const AmfRoom&) = delete;
    AmfRoom& operator=(const AmfRoom&) = delete;
    ~AmfRoom()
    {
        std::destroy(begin_, begin_ + size_);
        if (onHeap_)
            ::operator delete(begin_);
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const T* begin() const noexcept { return begin_; }
    const T* end() const noexcept { return begin_ + size_; }
    std::reverse_iterator<const T*> rbegin() const noexcept { return std::reverse_iterator<const T*>(end()); }
    std::reverse_iterator<const T*> rend() const noexcept { return std::reverse_iterator<const T*>(begin()); }
    const T& operator[](std::size_t index) const noexcept { return begin_[index]; }
    T& operator[](std::size_t index) noexcept { return begin_[index]; }
    const T& at(std::size_t index) const
    {
        if (index >= size_)
            throw std::out_of_range("AMF container index");
        return begin_[index];
    }

    void reserve(std::size_t count)
    {
        if (count > capacity_)
            moveTo(count);
    }
    template <typename... Args>
    void emplace_back(Args&&... args)
    {
        if (size_ == capacity_)
            moveTo(std::max<std::size_t>(4, 2 * capacity_));
        new (begin_ + size_) T(std::forward<Args>(args)...);
        ++size_;
    }

private:
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "the heap's blocks must suit the elements");
    static_assert(std::is_nothrow_move_constructible_v<T>, "elements move without failing");

    void moveTo(std::size_t capacity)
    {
        if (capacity > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        T* room = static_cast<T*>(::operator new(capacity * sizeof(T)));
        std::uninitialized_move(begin_, begin_ + size_, room);
        std::destroy(begin_, begin_ + size_);
        if (onHeap_)
            ::operator delete(begin_);
        begin_ = room;
        capacity_ = capacity;
        onHeap_ = true;
    }

    T* begin_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool onHeap_ = false;
};

// A container with room for `count` elements or members after it, in one allocation.
// The containers free such a block as they free their own (their operator delete).
template <typename Container, typename... Args>
std::unique_ptr<Container> makeWithRoom(std::size_t count, Args&&... args)
{
    using Element = typename Container::Element;
    constexpr std::size_t kRoomAt = (sizeof(Container) + alignof(Element) - 1) / alignof(Element) * alignof(Element);
    if (count > (static_cast<std::size_t>(-1) - kRoomAt) / sizeof(Element))
        throw std::bad_alloc();
    void* block = ::operator new(kRoomAt + count * sizeof(Element));
    auto* room = reinterpret_cast<Element*>(static_cast<unsigned char*>(block) + kRoomAt);
    try {
        return std::unique_ptr<Container>(new (block) Container(std::forward<Args>(args)..., room, count));
    } catch (...) {
        ::operator delete(block);
        throw;
    }
}

// A strict (dense, ordered) array; elements may be absent.
class CFlashAMFArray : public CFlashAMFObject {
public:
    using Element = AmfSlot;

    CFlashAMFArray() : CFlashAMFObject(kAmfArray) {}
    // For makeWithRoom.
    CFlashAMFArray(Element* room, std::size_t capacity) : CFlashAMFObject(kAmfArray), items_(room, capacity) {}
    static void operator delete(void* block) noexcept { ::operator delete(block); }
    std::string toDebugString() const override;
    std::string toString() const override { return "Array"; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    void push(AmfSlot value) { items_.emplace_back(std::move(value)); }
    // The same, the slot made in its place from what its constructor takes (the reader's).
    template <typename... Args>
    void emplaceItem(Args&&... args)
    {
        items_.emplace_back(std::forward<Args>(args)...);
    }
    void reserve(std::size_t count) { items_.reserve(count); }
    std::int32_t count() const { return static_cast<std::int32_t>(items_.size()); }
    const CFlashAMFObject* item(std::int32_t index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
    const AmfRoom<AmfSlot>& items() const { return items_; }

private:
    AmfRoom<AmfSlot> items_;
};

// An AMF object or ECMA array: members in the order added, keys neither unique nor sorted.
class CFlashAMFAssociativeArray : public CFlashAMFObject {
public:
    using Member = std::pair<std::string, AmfSlot>;
    using Element = Member;

    CFlashAMFAssociativeArray() : CFlashAMFObject(kAmfAssociativeArray) {}
    // For makeWithRoom.
    CFlashAMFAssociativeArray(Element* room, std::size_t capacity)
        : CFlashAMFObject(kAmfAssociativeArray), members_(room, capacity)
    {
    }
    static void operator delete(void* block) noexcept { ::operator delete(block); }
    std::string toDebugString() const override;
    std::string toString() const override { return "Array"; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    void addMember(std::string key, AmfSlot value) { members_.emplace_back(std::move(key), std::move(value)); }
    // The same, the key's string and the slot made in their place (the reader's members).
    template <typename... Args>
    void emplaceMember(std::string_view key, Args&&... slot)
    {
        members_.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                              std::forward_as_tuple(std::forward<Args>(slot)...));
    }
    void reserve(std::size_t count) { members_.reserve(count); }
    // Appends members in one allocation (the reader collects them first).
    template <typename Iterator>
    void addMembers(Iterator first, Iterator last)
    {
        members_.reserve(members_.size() + static_cast<std::size_t>(last - first));
        for (; first != last; ++first)
            members_.emplace_back(*first);
    }
    // The value of the first member with exactly this key; none if absent or not found.
    const CFlashAMFObject* findMember(std::string_view key) const;
    // findMember with the decimal text of index ("%i").
    const CFlashAMFObject* findMemberByIndex(int index) const;
    std::int32_t count() const { return static_cast<std::int32_t>(members_.size()); }
    const std::string& keyAt(std::int32_t index) const { return members_.at(static_cast<std::size_t>(index)).first; }
    const CFlashAMFObject* valueAt(std::int32_t index) const
    {
        return members_.at(static_cast<std::size_t>(index)).second.get();
    }
    const AmfRoom<Member>& members() const { return members_; }

private:
    AmfRoom<Member> members_;
};

// An AMF typed object: an associative array with a class name; reports type 8 too.
class CFlashAMFClass : public CFlashAMFAssociativeArray {
public:
    explicit CFlashAMFClass(std::string className) : className(std::move(className)) {}
    // For makeWithRoom.
    CFlashAMFClass(std::string className, Element* room, std::size_t capacity)
        : CFlashAMFAssociativeArray(room, capacity), className(std::move(className))
    {
    }
    std::string toDebugString() const override { return "Class " + CFlashAMFAssociativeArray::toDebugString(); }

    std::string className;
};

// Number text as "%lf" gives it for finite values; "nan", "inf", "-inf" otherwise.
std::string formatAmfNumber(double value);
// Local date text with the given strftime format, or "Invalid Date".
std::string formatAmfDate(double time, const char* format);
