#pragma once

#include <memory>
#include <atomic>
#include <vector>

#include "core/base/device.h"
#include "core/base/display_size.h"
#include "core/base/machine_kind.h"
#include "core/base/raster.h"
#include "core/base/sample_sink.h"
#include "core/base/shared_state.h"
#include "core/base/shortcuts.h"

class CCd;

// Mixed stereo output, appended on the emulation thread and taken by the
// host's sound feeder thread. A ring with one writer and one reader: each
// side owns its index and publishes it with release, so a pair is read only
// after both its samples are stored, and no lock is taken per sample.
class SampleBuffer {
public:
    static constexpr u32 kPairs = 4096;

    // Stores the pair as (second, first). While the ring is full (the reader
    // has stalled for a whole buffer) the new pair is dropped: what is
    // queued plays first, and a stall is heard as a gap in any case.
    void push(const s16* pair)
    {
        const u32 write = m_write.load(std::memory_order_relaxed);
        if (write - m_readSeen >= kPairs) [[unlikely]] {
            m_readSeen = m_read.load(std::memory_order_acquire);
            if (write - m_readSeen >= kPairs)
                return;
        }
        s16* slot = &m_samples[(write & (kPairs - 1)) * 2];
        slot[0] = pair[1];
        slot[1] = pair[0];
        m_write.store(write + 1, std::memory_order_release);
    }
    // Copies at most maxPairs of the pairs written since the last take into
    // out (two samples each; none when out is null) and empties the buffer;
    // answers the count. The reader's side.
    u32 take(s16* out, u32 maxPairs);
    // The writer's side of emptying (a power-on while the feeder runs): the
    // next take skips every pair written so far.
    void drop() { m_discard.store(m_write.load(std::memory_order_relaxed), std::memory_order_release); }
    u32 pending() const;

private:
    // Written by the writer only.
    alignas(64) std::atomic<u32> m_write{0};
    u32 m_readSeen = 0;
    // Where a drop asked the reader to skip to.
    std::atomic<u32> m_discard{0};
    // Written by the reader only.
    alignas(64) std::atomic<u32> m_read{0};
    u32 m_discardSeen = 0;
    alignas(64) s16 m_samples[kPairs * 2] = {};
};

// The machine base: device lists, video timing, and the time-slice loop
// that runs one field at a time.
class CMachine : public Device, public SampleSink {
public:
    static constexpr u32 kSystemClockHz = ::kSystemClockHz;
    static constexpr u32 kFastSystemClockHz = ::kFastSystemClockHz;

    explicit CMachine(std::string name);
    ~CMachine() override;

    virtual void onHBlankIn(u32) {}
    virtual void onHBlankOut(u32) {}
    virtual void onVBlankIn(u32) {}
    virtual void onVBlankOut(u32) {}
    virtual void onField(u32);
    virtual void setMedia(std::shared_ptr<CCd>) {}
    virtual void checkDmaRange(u32, u32, u32) {}
    virtual DisplaySize getDisplaySize() { return {}; }

    bool setup(u32) override { return true; }
    void powerOn() override;
    void powerOff() override;
    void reset() override;

    void runFrame();
    // A new run's log starts its first emulated second, and the log is
    // bounded per second until the machine is switched off.
    void startLogSecond();
    void runSlice();
    void setVideoMode(u32 mode) { m_raster.setVideoMode(mode); }
    // The record of shortcuts; setting it hands each chip its switches.
    const Shortcuts& shortcuts() const { return m_shortcuts; }
    virtual void setShortcuts(const Shortcuts& shortcuts) { m_shortcuts = shortcuts; }
    // How often each was taken since the machine was made.
    virtual ShortcutUses shortcutUses() const { return m_shortcutUses; }

    void pushSample(const s16* pair) override { m_samples.push(pair); }
    u32 takeSamples(s16* out, u32 maxPairs) { return m_samples.take(out, maxPairs); }

    void addDevice(Device* device) { m_devices.push_back(device); }
    void addSlicedDevice(Device* device) { m_sliced.push_back(device); }
    const std::vector<Device*>& devices() const { return m_devices; }
    const std::vector<Device*>& slicedDevices() const { return m_sliced; }

    CRaster& raster() { return m_raster; }
    s32 lineCounter() const { return m_lineCounter; }
    u8 fieldBit() const { return m_fieldBit; }
    u32 frameCounter() const { return m_frameCounter; }
    u32 slice() const { return m_slice; }

protected:
    std::vector<Device*> m_devices;
    std::vector<Device*> m_sliced;
    CRaster m_raster;
    s32 m_lineCounter = 0;
    u8 m_fieldBit = 0;
    u32 m_frameCounter = 0;
    u32 m_slice = 0;
    Shortcuts m_shortcuts;
    ShortcutUses m_shortcutUses;
    SampleBuffer m_samples;
    static constexpr u64 kSecondNs = 1'000'000'000;
    u64 m_secondNs = 0;

private:
    static void hblankInEvent(void* owner, u32 argument);
    static void hblankOutEvent(void* owner, u32 argument);
    static void vblankInEvent(void* owner, u32 argument);
    static void vblankOutEvent(void* owner, u32 argument);
    static void fieldEvent(void* owner, u32 argument);
};
