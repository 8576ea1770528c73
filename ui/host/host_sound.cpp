#include "ui/host/host_sound.h"

#include "core/machine/machine.h"
#include "core/base/object.h"
#include "platform/host_time.h"

DSound::~DSound()
{
    close();
}

bool DSound::init(void*)
{
    if (!m_loop.open(kBufferBytes))
        return false;
    if (m_loop.driver() == "dummy")
        logSink().write(kLogWarning, "Sound", "No audio device; playing into the dummy driver");
    m_stop = 0;
    m_paused = 1;
    m_feeder = std::thread(&DSound::feederThread, this);
    return true;
}

bool DSound::resume()
{
    if (!CMedia::resume())
        return false;
    m_paused = 0;
    m_loop.play();
    return true;
}

bool DSound::pause()
{
    if (!CMedia::pause())
        return false;
    m_paused = 1;
    m_loop.stop();
    return true;
}

void DSound::stop()
{
    pause();
    CMedia::stop();
}

void DSound::close()
{
    m_stop = 1;
    if (m_feeder.joinable())
        m_feeder.join();
    m_loop.close();
}

u32 DSound::freeBytes(u32 writeCursor, u32 playPosition, u32 bufferSize)
{
    return writeCursor > playPosition ? bufferSize - writeCursor + playPosition : playPosition - writeCursor;
}

void DSound::feederThread()
{
    s16 frames[kBufferFrames * 2];
    while (!m_stop.load(std::memory_order_acquire)) {
        if (!m_paused.load(std::memory_order_acquire))
            feed(frames);
        host::sleepMs(1);
    }
    m_paused = 1;
}

void DSound::feed(s16* frames)
{
    const u32 cursor = m_writeCursor.load(std::memory_order_relaxed);
    const u32 room = freeBytes(cursor, m_loop.playPosition(), kBufferBytes) / AudioLoop::kFrameBytes;
    if (room < 1)
        return;
    // Frames beyond the room are dropped by the take.
    const u32 taken = m_machine.takeSamples(frames, room);
    if (taken == 0)
        return;
    const u32 bytes = taken * AudioLoop::kFrameBytes;
    m_loop.write(cursor, frames, bytes);
    m_writeCursor.store((cursor + bytes) % kBufferBytes, std::memory_order_release);
}
