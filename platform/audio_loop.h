#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/types.h"

// A looping play buffer on an SDL audio device: the host's sound output
// writes into it behind the play position, and the device plays it round
// and round. What the device has played is cleared at once, so when the
// writer falls behind the listener hears silence, never old sound again.
class AudioLoop {
public:
    static constexpr u32 kSampleRate = 44100;
    static constexpr u32 kChannels = 2;
    static constexpr u32 kFrameBytes = 4;

    AudioLoop() = default;
    ~AudioLoop();
    AudioLoop(const AudioLoop&) = delete;
    AudioLoop& operator=(const AudioLoop&) = delete;

    // Opens the default device for 44100 Hz 16-bit stereo with a loop of
    // that many bytes (a whole number of frames). Without a usable device
    // it falls back to SDL's dummy driver; false only when that fails too.
    bool open(u32 loopBytes);
    void close();
    bool isOpen() const { return m_device != 0; }
    // The SDL driver in use ("dummy" after a fall-back).
    const std::string& driver() const { return m_driver; }

    // Plays from the current position, looping; stop keeps the position.
    void play();
    void stop();
    bool playing() const { return m_playing.load(std::memory_order_acquire); }

    u32 size() const { return m_size; }
    u32 playPosition() const { return m_playPosition.load(std::memory_order_acquire); }
    // Copies length bytes into the loop at offset, wrapping past its end.
    // Lengths beyond the loop's size are cut to it.
    void write(u32 offset, const void* data, u32 length);

private:
    static void callback(void* self, u8* stream, int length);
    void consume(u8* stream, u32 length);

    u32 m_device = 0;
    std::string m_driver;
    u32 m_size = 0;
    std::unique_ptr<u8[]> m_loop;
    std::mutex m_mutex;
    std::atomic<u32> m_playPosition{0};
    std::atomic<bool> m_playing{false};
};
