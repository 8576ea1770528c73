#pragma once

// When a memory the guest writes goes back to its file: once it has been
// written and then left alone for a whole field, so a burst of writes
// costs one save.
class WriteBack {
public:
    void touch() { m_changed = true; }
    // Called once a field; true when the file is due.
    bool poll()
    {
        if (m_changed) {
            m_changed = false;
            m_pending = true;
            return false;
        }
        const bool due = m_pending;
        m_pending = false;
        return due;
    }
    // The memory matches its file.
    void settle() { m_changed = m_pending = false; }

private:
    bool m_changed = false;
    bool m_pending = false;
};
