// Settings a stage keeps per radar section, so that a record of a known
// section costs no configuration lookups (each one is a string-map search).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

template <class T>
class SectionCache {
public:
    // What was stored for the section field (not necessarily terminated), or nullptr.
    const T* find(const char* section, std::size_t size) const
    {
        const std::size_t n = strnlen(section, size);
        for (const Entry& e : entries_)
            if (e.name.size() == n && std::memcmp(e.name.data(), section, n) == 0)
                return &e.value;
        return nullptr;
    }

    T* find(const char* section, std::size_t size)
    {
        return const_cast<T*>(static_cast<const SectionCache&>(*this).find(section, size));
    }

    // The stored copy, or nullptr when the cache is full.
    T* store(const char* section, std::size_t size, const T& value)
    {
        // Names from torn or lapped slots must not grow the cache for years;
        // a section left out is simply looked up again.
        if (entries_.size() >= maxEntries)
            return nullptr;
        entries_.push_back(Entry{std::string(section, strnlen(section, size)), value});
        return &entries_.back().value;
    }

private:
    static constexpr std::size_t maxEntries = 8;
    struct Entry {
        std::string name;
        T value;
    };
    std::vector<Entry> entries_;
};
