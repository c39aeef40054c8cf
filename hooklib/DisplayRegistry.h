#pragma once

#include <X11/Xlib.h>
#include <algorithm>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

// Xlib's error handlers are process-wide, while our connections are not: a handler
// looks its display up here to learn whether one of ours is concerned. Several
// threads, each with its own connection, may add and look up entries at once.
template <typename Entry> class DisplayRegistry {
public:
    void Add(Display* display, Entry entry) {
        std::lock_guard lock(m_mutex);
        m_entries.emplace_back(display, std::move(entry));
    }

    // Removes the entry added last for display, so that an outer entry of a nested
    // pair stays in force after the inner one goes.
    void Remove(Display* display) {
        std::lock_guard lock(m_mutex);
        auto found = std::find_if(m_entries.rbegin(), m_entries.rend(),
                                  [display](const auto& e) { return e.first == display; });
        if (found != m_entries.rend())
            m_entries.erase(std::next(found).base());
    }

    // The entry added last for display, or a default Entry when there is none.
    Entry Find(Display* display) const {
        std::lock_guard lock(m_mutex);
        auto found = std::find_if(m_entries.rbegin(), m_entries.rend(),
                                  [display](const auto& e) { return e.first == display; });
        return found == m_entries.rend() ? Entry{} : found->second;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<Display*, Entry>> m_entries;
};
