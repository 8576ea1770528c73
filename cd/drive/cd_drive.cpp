#include "cd/drive/cd_drive.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "cd/media/cdd.h"

namespace {

constexpr s64 kMaxFad = std::numeric_limits<s32>::max();

}  // namespace

CDDrive::CDDrive()
    : Device("CD DRIVE"),
      m_ringData(std::size_t{kBuffers} * kSectorsPerBuffer * SectorBuffer::kMaxSize)
{
    for (u32 i = 0; i < kBuffers; ++i)
        m_ring[i].data = m_ringData.data() + std::size_t{i} * kSectorsPerBuffer * SectorBuffer::kMaxSize;
}

CDDrive::~CDDrive()
{
    shutDownWorker();
}

void CDDrive::wake()
{
    m_wake.notify_all();
}

void CDDrive::shutDownWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_alive.store(0);
    }
    pause(false);
    wake();
    if (m_worker.joinable())
        m_worker.join();
}

void CDDrive::powerOn()
{
    // Two workers would fill the same ring.
    if (m_worker.joinable())
        shutDownWorker();
    m_state.store(m_media ? kStopped : kNoDisc);
    reset();
    m_worker = std::thread(&CDDrive::readAhead, this);
}

void CDDrive::powerOff()
{
    shutDownWorker();
}

void CDDrive::reset()
{
    std::lock_guard lock(m_mutex);
    clearBuffersLocked();
    m_alive.store(1);
    m_startFad.store(0);
    m_endFad.store(0);
    m_nextFad.store(0);
    m_takenFad = 0;
}

void CDDrive::setMedia(std::shared_ptr<CCd> media)
{
    // The worker may be inside a read of the old disc; it goes before the
    // disc does.
    if (m_worker.joinable())
        shutDownWorker();
    m_media = std::move(media);
    m_localMedia = dynamic_cast<CDD*>(m_media.get()) == nullptr;
    if (m_media) {
        m_runState = kOff;
    } else {
        const u32 state = m_state.load();
        if (state == kStopped || state == kPaused || state == kReading)
            m_state.store(kNoDisc);
    }
}

const SessionInfo* CDDrive::getSession(s32 index)
{
    if (!m_media) {
        m_state.store(kNoDisc);
        return nullptr;
    }
    return m_media->getSession(index);
}

bool CDDrive::peekSector(SectorBuffer& sector)
{
    const ReadAheadBuffer& buffer = m_ring[m_readIndex.load(std::memory_order_relaxed)];
    if (!buffer.valid.load(std::memory_order_acquire))
        return false;
    sector.set(buffer.mode, buffer.startFad + buffer.next, buffer.size,
               buffer.data + static_cast<std::size_t>(buffer.size) * buffer.next);
    return true;
}

bool CDDrive::waitSector(SectorBuffer& sector)
{
    if (peekSector(sector))
        return true;
    if (!m_worker.joinable())
        return false;
    ReadNote failed[kNotesPerBuffer];
    u32 failedCount = 0;
    {
        std::unique_lock lock(m_mutex);
        if (m_localMedia) {
            const ReadAheadBuffer& buffer = m_ring[m_readIndex.load(std::memory_order_relaxed)];
            // Each wait rests on a read of its own: an earlier failure is
            // tried again now, not left to the worker's timing.
            m_readFailed.store(0);
            m_waiting.store(1);
            m_wake.notify_all();
            m_filled.wait(lock, [&] {
                return buffer.valid.load(std::memory_order_acquire) || !m_alive.load() ||
                       m_state.load() != kReading || m_readFailed.load();
            });
            m_waiting.store(0);
        }
        if (!peekSector(sector)) {
            failedCount = m_failureNoteCount;
            std::copy_n(m_failureNotes, failedCount, failed);
            m_failureNoteCount = 0;
        }
    }
    for (u32 i = 0; i < failedCount; ++i)
        failed[i].write();
    return failedCount == 0 && peekSector(sector);
}

void CDDrive::nextSector()
{
    const u32 index = m_readIndex.load(std::memory_order_relaxed);
    ReadAheadBuffer& buffer = m_ring[index];
    if (!buffer.valid.load(std::memory_order_acquire))
        return;
    const bool last = buffer.next + 1 >= buffer.count;
    const u32 fad = buffer.startFad + buffer.next;
    m_takenFad = static_cast<s32>(fad + 1);
    while (buffer.notesWritten < buffer.noteCount && (last || buffer.notes[buffer.notesWritten].fad <= fad))
        buffer.notes[buffer.notesWritten++].write();
    if (last) {
        buffer.next = 0;
        m_readIndex.store(index + 1 >= kBuffers ? 0 : index + 1, std::memory_order_relaxed);
        buffer.valid.store(0, std::memory_order_release);
    } else {
        ++buffer.next;
    }
}

void CDDrive::read(u32 fad, u32 count)
{
    {
        std::lock_guard lock(m_mutex);
        const u32 state = m_state.load();
        if (state != kStopped && state != kPaused)
            return;
        const s64 start = std::min<s64>(fad, kMaxFad);
        const s64 end = std::min<s64>(start + count, kMaxFad);
        m_takenFad = static_cast<s32>(start);
        clearBuffersLocked();
        m_startFad.store(static_cast<s32>(start));
        m_endFad.store(static_cast<s32>(end));
        m_nextFad.store(static_cast<s32>(start));
        m_state.store(kReading);
    }
    wake();
}

void CDDrive::pause(bool flush)
{
    {
        std::lock_guard lock(m_mutex);
        const u32 state = m_state.load();
        if (state != kStopped && state != kReading)
            return;
        if (flush)
            clearBuffersLocked();
        m_state.store(kPaused);
    }
    wake();
}

void CDDrive::seek(u32 fad)
{
    {
        std::lock_guard lock(m_mutex);
        const u32 state = m_state.load();
        if (state != kStopped && state != kReading && state != kPaused)
            return;
        m_takenFad = static_cast<s32>(std::min<s64>(fad, kMaxFad));
        clearBuffersLocked();
        m_state.store(kPaused);
    }
    wake();
}

void CDDrive::resume()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state.load() != kPaused)
            return;
        m_state.store(kReading);
    }
    wake();
}

void CDDrive::stop()
{
    {
        std::lock_guard lock(m_mutex);
        const u32 state = m_state.load();
        if (state != kPaused && state != kReading)
            return;
        clearBuffersLocked();
        m_state.store(kStopped);
    }
    wake();
}

void CDDrive::openTray()
{
    logInfo(1, "openTray");
}

void CDDrive::clearBuffers()
{
    std::lock_guard lock(m_mutex);
    clearBuffersLocked();
}

bool CDDrive::readSectorNow(u32 fad, SectorBuffer& sector)
{
    std::unique_lock lock(m_mutex);
    // The disc source serves one read at a time; held, the mutex keeps the
    // worker from starting another.
    m_filled.wait(lock, [this] { return !m_inRead; });
    if (!m_media)
        return false;
    m_media->readSector(fad, sector);
    return sector.size > 0;
}

void CDDrive::clearBuffersLocked()
{
    m_generation.fetch_add(1);
    m_readFailed.store(0);
    m_failureNoteCount = 0;
    for (ReadAheadBuffer& buffer : m_ring) {
        buffer.count = 0;
        buffer.next = 0;
        buffer.valid.store(0, std::memory_order_release);
    }
    m_readIndex.store(0);
    m_fillIndex.store(0);
    m_nextFad.store(m_takenFad);
}

void CDDrive::answerWaiter()
{
    m_waiting.store(0);
    m_filled.notify_all();
}

void CDDrive::readAhead()
{
    std::unique_lock lock(m_mutex);
    // Every pass lets go of the mutex, in its read or in a wait that blocks,
    // so the emulation gets it back within a pass: a pass that could go on
    // at once without reading would spin holding it.
    while (m_alive.load()) {
        if (m_state.load() != kReading) {
            m_wake.wait(lock, [this] { return !m_alive.load() || m_state.load() == kReading; });
            continue;
        }
        const u32 generation = m_generation.load();
        const bool released = readStep(lock, generation);
        if (m_state.load() != kReading)
            continue;
        const auto cutShort = [&] {
            return !m_alive.load() || m_state.load() != kReading || m_generation.load() != generation ||
                   m_waiting.load();
        };
        // A waiting emulation cuts the pause short; the worker's answer
        // clears its flag, so that happens once per wait.
        if (released)
            m_wake.wait_for(lock, std::chrono::nanoseconds(kStepNs), cutShort);
        else
            m_wake.wait_for(lock, std::chrono::nanoseconds(kStepNs));
    }
    m_filled.notify_all();
}

bool CDDrive::readStep(std::unique_lock<std::mutex>& lock, u32 generation)
{
    const s32 next = m_nextFad.load();
    const s32 end = m_endFad.load();
    if (next >= end) {
        // Paused at the end of the range, after the last buffer was filled.
        m_state.store(kPaused);
        answerWaiter();
        return false;
    }
    const u32 fill = m_fillIndex.load();
    ReadAheadBuffer& buffer = m_ring[fill];
    // Full ring: nothing is read until the CD block gives a buffer back.
    if (buffer.valid.load(std::memory_order_acquire))
        return false;
    const u32 wanted = static_cast<u32>(std::min<s64>(s64{end} - next, kSectorsPerBuffer));
    // Held for the read, so a disc swapped meanwhile outlives it.
    std::shared_ptr<CCd> media = m_media;
    u32 mode = SectorBuffer::kRaw;
    s32 size = SectorBuffer::kRawSize;
    u32 count = 0;
    ReadNote notes[kNotesPerBuffer];
    u32 noted = 0;
    m_inRead = true;
    lock.unlock();
    if (media) {
        ReadNoteCollector collector(notes, kNotesPerBuffer);
        count = media->readSectors(buffer.data, static_cast<u32>(next), mode, size, wanted);
        noted = collector.count();
    }
    lock.lock();
    m_inRead = false;
    m_filled.notify_all();
    count = std::min(count, wanted);
    // A request made during the read owns the ring now: its notes go too.
    if (m_state.load() != kReading || m_generation.load() != generation)
        return true;
    if (count == 0) {
        // The same read of an image fails every time: the waiting
        // emulation is told, and the worker keeps trying.
        std::copy_n(notes, noted, m_failureNotes);
        m_failureNoteCount = noted;
        m_readFailed.store(1);
        answerWaiter();
        return true;
    }
    buffer.mode = mode;
    buffer.size = size > 0 && size <= SectorBuffer::kMaxSize ? size : SectorBuffer::kRawSize;
    buffer.startFad = static_cast<u32>(next);
    buffer.count = count;
    buffer.next = 0;
    std::copy_n(notes, noted, buffer.notes);
    buffer.noteCount = noted;
    buffer.notesWritten = 0;
    buffer.valid.store(1, std::memory_order_release);
    m_fillIndex.store(fill + 1 >= kBuffers ? 0 : fill + 1);
    m_nextFad.store(next + static_cast<s32>(count));
    m_readFailed.store(0);
    m_failureNoteCount = 0;
    answerWaiter();
    return true;
}
