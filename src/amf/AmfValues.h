// The values that travel between the game's Flash content and the launcher.
// Kinds are told apart by getType. It names the class, not the marker that was read:
// objects, ECMA arrays and typed objects all report 8, and undefined reports 5 (null).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

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
// boolean or a null, the commonest members, lives in the slot itself, with no
// allocation of its own; any other value lives on the heap, owned through the slot.
// Containers hand out only borrowed pointers, so where a value lives is theirs to know.
class AmfSlot {
public:
    AmfSlot() noexcept = default; // absent
    AmfSlot(std::nullptr_t) noexcept {}
    template <typename Value, typename = std::enable_if_t<std::is_convertible_v<Value*, CFlashAMFObject*>>>
    AmfSlot(std::unique_ptr<Value> value) noexcept : value_(value.release())
    {
    }
    static AmfSlot number(double value) noexcept
    {
        AmfSlot slot;
        slot.value_ = new (slot.storage_) CFlashAMFNumber(value);
        return slot;
    }
    static AmfSlot boolean(std::uint8_t value) noexcept
    {
        AmfSlot slot;
        auto* made = new (slot.storage_) CFlashAMFBoolean(false);
        made->value = value;
        slot.value_ = made;
        return slot;
    }
    static AmfSlot null() noexcept
    {
        AmfSlot slot;
        slot.value_ = new (slot.storage_) CFlashAMFNull();
        return slot;
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
    // The values kept in place have nothing to release: their storage simply ends.
    void release() noexcept
    {
        if (!holdsInPlace())
            delete value_;
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
            value_ = new (storage_) CFlashAMFNumber(static_cast<const CFlashAMFNumber*>(other.value_)->value);
            break;
        case kAmfBoolean: {
            auto* made = new (storage_) CFlashAMFBoolean(false);
            made->value = static_cast<const CFlashAMFBoolean*>(other.value_)->value;
            value_ = made;
            break;
        }
        default:
            value_ = new (storage_) CFlashAMFNull();
            break;
        }
    }

    CFlashAMFObject* value_ = nullptr;
    alignas(CFlashAMFNumber) alignas(CFlashAMFBoolean) alignas(CFlashAMFNull) unsigned char storage_[std::max(
        {sizeof(CFlashAMFNumber), sizeof(CFlashAMFBoolean), sizeof(CFlashAMFNull)})];
};

// A strict (dense, ordered) array; elements may be absent.
class CFlashAMFArray : public CFlashAMFObject {
public:
    CFlashAMFArray() : CFlashAMFObject(kAmfArray) {}
    std::string toDebugString() const override;
    std::string toString() const override { return "Array"; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    void push(AmfSlot value) { items_.push_back(std::move(value)); }
    void reserve(std::size_t count) { items_.reserve(count); }
    std::int32_t count() const { return static_cast<std::int32_t>(items_.size()); }
    const CFlashAMFObject* item(std::int32_t index) const { return items_.at(index).get(); }
    const std::vector<AmfSlot>& items() const { return items_; }

private:
    std::vector<AmfSlot> items_;
};

// An AMF object or ECMA array: members in the order added, keys neither unique nor sorted.
class CFlashAMFAssociativeArray : public CFlashAMFObject {
public:
    CFlashAMFAssociativeArray() : CFlashAMFObject(kAmfAssociativeArray) {}
    std::string toDebugString() const override;
    std::string toString() const override { return "Array"; }
    bool toBoolean() const override { return false; }
    double toNumber() const override { return 0.0; }

    using Member = std::pair<std::string, AmfSlot>;

    void addMember(std::string key, AmfSlot value) { members_.emplace_back(std::move(key), std::move(value)); }
    // The same, the key's string made in its place (the reader's members).
    void emplaceMember(std::string_view key, AmfSlot&& value)
    {
        members_.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                              std::forward_as_tuple(std::move(value)));
    }
    void reserve(std::size_t count) { members_.reserve(count); }
    // Appends members in one allocation (the reader collects them first).
    template <typename Iterator>
    void addMembers(Iterator first, Iterator last)
    {
        members_.reserve(members_.size() + static_cast<std::size_t>(last - first));
        members_.insert(members_.end(), first, last);
    }
    // The value of the first member with exactly this key; none if absent or not found.
    const CFlashAMFObject* findMember(std::string_view key) const;
    // findMember with the decimal text of index ("%i").
    const CFlashAMFObject* findMemberByIndex(int index) const;
    std::int32_t count() const { return static_cast<std::int32_t>(members_.size()); }
    const std::string& keyAt(std::int32_t index) const { return members_.at(index).first; }
    const CFlashAMFObject* valueAt(std::int32_t index) const { return members_.at(index).second.get(); }
    const std::vector<Member>& members() const { return members_; }

private:
    std::vector<Member> members_;
};

// An AMF typed object: an associative array with a class name; reports type 8 too.
class CFlashAMFClass : public CFlashAMFAssociativeArray {
public:
    explicit CFlashAMFClass(std::string className) : className(std::move(className)) {}
    std::string toDebugString() const override { return "Class " + CFlashAMFAssociativeArray::toDebugString(); }

    std::string className;
};

// Number text as "%lf" gives it for finite values; "nan", "inf", "-inf" otherwise.
std::string formatAmfNumber(double value);
// Local date text with the given strftime format, or "Invalid Date".
std::string formatAmfDate(double time, const char* format);
