#pragma once

#include <atomic>
#include <thread>

#include "core/emulator/media.h"
#include "core/base/types.h"
#include "platform/audio_loop.h"

class CMachine;

// The sound output: a feeder thread wakes every millisecond, takes what
// the machine's sample buffer holds, as much as fits between its write
// cursor and the play position, and copies it into a looping buffer of
// four frames' worth of sound at 60 frames a second.
class DSound : public CSound {
public:
    static constexpr u32 kBytesPerSecond = AudioLoop::kSampleRate * AudioLoop::kFrameBytes;
    static constexpr u32 kBufferBytes = kBytesPerSecond / 60 * 4;  // 11760
    static constexpr u32 kBufferFrames = kBufferBytes / AudioLoop::kFrameBytes;

    explicit DSound(CMachine& machine) : m_machine(machine) {}
    ~DSound();

    bool init(void* window) override;
    void stop() override;
    bool resume() override;
    bool pause() override;
    bool update() override { return true; }
    void close();

    const AudioLoop& output() const { return m_loop; }
    u32 writeCursor() const { return m_writeCursor.load(std::memory_order_acquire); }
    // Bytes free from the write cursor up to the play position; equal
    // positions mean no room.
    static u32 freeBytes(u32 writeCursor, u32 playPosition, u32 bufferSize);

private:
    void feederThread();
    void feed(s16* frames);

    CMachine& m_machine;
    AudioLoop m_loop;
    std::atomic<u32> m_writeCursor{0};
    std::atomic<u8> m_stop{0};
    std::atomic<u8> m_paused{1};
    std::thread m_feeder;
};
