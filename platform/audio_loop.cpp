#include "platform/audio_loop.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace {

// Small device periods keep the play position moving in fine steps, as a
// hardware play cursor does.
constexpr Uint16 kDeviceFrames = 256;

SDL_AudioDeviceID openDevice(void* self, SDL_AudioCallback callback)
{
    SDL_AudioSpec want{};
    want.freq = AudioLoop::kSampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = AudioLoop::kChannels;
    want.samples = kDeviceFrames;
    want.callback = callback;
    want.userdata = self;
    SDL_AudioSpec have{};
    return SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
}

}  // namespace

AudioLoop::~AudioLoop()
{
    close();
}

bool AudioLoop::open(u32 loopBytes)
{
    close();
    m_size = loopBytes - loopBytes % kFrameBytes;
    if (m_size == 0)
        return false;
    m_loop = std::make_unique<u8[]>(m_size);
    m_playPosition = 0;

    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0)
        m_device = openDevice(this, &AudioLoop::callback);
    if (m_device == 0) {
        // No sound device (a server, a CI machine): play into nothing
        // rather than refuse to start.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0)
            m_device = openDevice(this, &AudioLoop::callback);
    }
    if (m_device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    m_driver = driver ? driver : "";
    return true;
}

void AudioLoop::close()
{
    if (m_device == 0)
        return;
    SDL_CloseAudioDevice(m_device);
    m_device = 0;
    m_playing = false;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioLoop::play()
{
    if (m_device == 0)
        return;
    m_playing = true;
    SDL_PauseAudioDevice(m_device, 0);
}

void AudioLoop::stop()
{
    if (m_device == 0)
        return;
    SDL_PauseAudioDevice(m_device, 1);
    m_playing = false;
}

void AudioLoop::write(u32 offset, const void* data, u32 length)
{
    if (m_size == 0)
        return;
    length = std::min(length, m_size);
    offset %= m_size;
    const u8* bytes = static_cast<const u8*>(data);
    const u32 first = std::min(length, m_size - offset);
    std::lock_guard lock(m_mutex);
    std::memcpy(m_loop.get() + offset, bytes, first);
    std::memcpy(m_loop.get(), bytes + first, length - first);
}

void AudioLoop::callback(void* self, u8* stream, int length)
{
    static_cast<AudioLoop*>(self)->consume(stream, static_cast<u32>(std::max(length, 0)));
}

void AudioLoop::consume(u8* stream, u32 length)
{
    std::lock_guard lock(m_mutex);
    u32 position = m_playPosition.load(std::memory_order_relaxed);
    while (length > 0) {
        const u32 run = std::min(length, m_size - position);
        std::memcpy(stream, m_loop.get() + position, run);
        std::memset(m_loop.get() + position, 0, run);
        stream += run;
        length -= run;
        position = (position + run) % m_size;
    }
    m_playPosition.store(position, std::memory_order_release);
}
