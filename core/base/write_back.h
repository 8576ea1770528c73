#pragma once

#include "core/base/types.h"

// When a memory the guest writes goes back to its file: once it has been
// written and then left alone for a whole field, so a burst of writes
// costs one save. A memory written in every field is copied out every
// kLongestBurst fields all the same, so a crash costs at most that much;
// the stop writes whatever is left.
class WriteBack {
public:
    // About ten seconds: far longer than a game takes to write a save.
    static constexpr u32 kLongestBurst = 600;

    void touch() { m_changed = true; }
    // Called once a field; true when the file is due.
    bool poll()
    {
        if (m_changed) {
            m_changed = false;
            m_pending = true;
            if (++m_burst < kLongestBurst)
                return false;
        }
        const bool due = m_pending;
        m_pending = false;
        m_burst = 0;
        return due;
    }
    // Whether the memory holds writes its file has not had yet.
    bool unsaved() const { return m_changed || m_pending; }
    // The memory matches its file.
    void settle()
    {
        m_changed = m_pending = false;
        m_burst = 0;
    }

private:
    bool m_changed = false;
    bool m_pending = false;
    u32 m_burst = 0;  // fields in a row that changed the memory
};
