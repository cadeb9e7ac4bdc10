// The layout's containers: zones hold groups, groups hold monitored objects. Levels 1..5 place them in
// columns when the layout is drawn; list order is the drawing order within a level.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv {

class CArchive;

struct CRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool Contains(std::int32_t x, std::int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const CRect&) const = default;
};

// COLORREF layout: red in the low byte, then green, then blue.
constexpr std::uint32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}

class CZone {
public:
    static constexpr const char* kClassName = "CZone";
    static constexpr std::uint16_t kSchema = 1;
    static constexpr int kMinLevel = 1;
    static constexpr int kMaxLevel = 5;

    CZone() = default;
    CZone(std::string zoneName, std::int32_t zoneLevel);
    virtual ~CZone() = default;

    virtual const char* ClassName() const { return kClassName; }
    virtual std::uint16_t Schema() const { return kSchema; }
    virtual bool IsGroup() const { return false; }
    virtual void Serialize(CArchive& ar);

    // The colour a zone created at this level gets (level mod 3).
    static std::uint32_t ColourForLevel(std::int32_t level);

    std::uint32_t colour = Rgb(255, 255, 190);
    CRect rect;
    std::int32_t level = 1;
    std::string name;
    std::uint32_t id = 0;
};

class CGroup : public CZone {
public:
    static constexpr const char* kClassName = "CGroup";
    static constexpr std::uint16_t kSchema = 1;

    CGroup() { colour = Rgb(255, 255, 255); }
    CGroup(std::string groupName, CZone* owner, std::int32_t groupLevel);

    const char* ClassName() const override { return kClassName; }
    std::uint16_t Schema() const override { return kSchema; }
    bool IsGroup() const override { return true; }
    void Serialize(CArchive& ar) override;

    std::uint32_t zoneId = 0;  // as read from a file, until re-linked
    CZone* zone = nullptr;
};

// An ordered list that owns its elements. Positions are indices; -1 is "none".
template <class T>
class COwningList {
public:
    using Ptr = std::unique_ptr<T>;

    COwningList() = default;
    COwningList(COwningList&&) noexcept = default;
    COwningList& operator=(COwningList&&) noexcept = default;
    COwningList(const COwningList&) = delete;
    COwningList& operator=(const COwningList&) = delete;

    size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    T* operator[](size_t i) const { return m_items[i].get(); }
    T* Head() const { return m_items.empty() ? nullptr : m_items.front().get(); }
    T* Tail() const { return m_items.empty() ? nullptr : m_items.back().get(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

    int Find(const T* element) const {
        for (size_t i = 0; i < m_items.size(); ++i)
            if (m_items[i].get() == element) return static_cast<int>(i);
        return -1;
    }
    T* Append(Ptr element) {
        T* raw = element.get();
        m_items.push_back(std::move(element));
        Inserted();
        return raw;
    }
    // Ahead of the element at position; at the head when there is none.
    T* InsertBefore(int position, Ptr element) {
        T* raw = element.get();
        const size_t at = (position < 0 || position >= static_cast<int>(m_items.size())) ? 0 : static_cast<size_t>(position);
        m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), std::move(element));
        Inserted();
        return raw;
    }
    // Behind the element at position; at the tail when there is none.
    T* InsertAfter(int position, Ptr element) {
        T* raw = element.get();
        const size_t at = (position < 0 || position >= static_cast<int>(m_items.size())) ? m_items.size()
                                                                                      : static_cast<size_t>(position) + 1;
        m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), std::move(element));
        Inserted();
        return raw;
    }
    // Unlinks the element; the caller owns it.
    Ptr RemoveAt(int position) {
        if (position < 0 || position >= static_cast<int>(m_items.size())) return nullptr;
        Ptr p = std::move(m_items[static_cast<size_t>(position)]);
        m_items.erase(m_items.begin() + position);
        return p;
    }
    virtual void Clear() { m_items.clear(); }
    virtual ~COwningList() = default;

protected:
    virtual void Inserted() {}
    std::vector<Ptr> m_items;
};

// Zone and group lists keep the highest level of their elements. It is recomputed after every insertion
// and after loading; a removal leaves it as it was.
template <class T>
class CLevelList : public COwningList<T> {
public:
    std::int32_t maxLevel = 0;

    void Clear() override {
        COwningList<T>::Clear();
        maxLevel = 0;
    }
    void RecomputeMaxLevel() {
        maxLevel = 0;
        for (auto& e : this->m_items) maxLevel = std::max(maxLevel, e->level);
    }

    // Layer operations: the target keeps its level and place at the bound; otherwise it changes level
    // and becomes the last element of the list. False when nothing changed.
    bool IncreaseLayer(T* target) { return ChangeLayer(target, +1); }
    bool DecreaseLayer(T* target) { return ChangeLayer(target, -1); }
    // Moves the target ahead of (behind) the nearest element towards the head (tail) of the same level,
    // and for a group of the same zone. False when there is none.
    bool MoveUp(T* target) { return Move(target, -1); }
    bool MoveDown(T* target) { return Move(target, +1); }

protected:
    void Inserted() override { RecomputeMaxLevel(); }

private:
    static bool SameParent(const T* a, const T* b) {
        if constexpr (std::is_base_of_v<CGroup, T>) return a->zone == b->zone;
        else return true;
    }
    bool ChangeLayer(T* target, int delta) {
        const int pos = this->Find(target);
        if (pos < 0) return false;
        const std::int32_t next = target->level + delta;
        if (next < CZone::kMinLevel || next > CZone::kMaxLevel) return false;
        target->level = next;
        this->Append(this->RemoveAt(pos));
        return true;
    }
    bool Move(T* target, int direction) {
        const int pos = this->Find(target);
        if (pos < 0) return false;
        for (int i = pos + direction; i >= 0 && i < static_cast<int>(this->m_items.size()); i += direction) {
            T* other = this->m_items[static_cast<size_t>(i)].get();
            if (other->level == target->level && SameParent(other, target)) {
                auto owned = this->RemoveAt(pos);
                const int at = this->Find(other);
                if (direction < 0) this->InsertBefore(at, std::move(owned));
                else this->InsertAfter(at, std::move(owned));
                return true;
            }
        }
        return false;
    }
};

class CZoneObList : public CLevelList<CZone> {
public:
    // Count, then each zone with its class tag; loading appends and recomputes max level.
    void Serialize(CArchive& ar);
};

class CGroupObList : public CLevelList<CGroup> {
public:
    void Serialize(CArchive& ar);
};

}  // namespace orv
