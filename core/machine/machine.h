#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "core/base/device.h"
#include "core/base/display_size.h"
#include "core/base/machine_kind.h"
#include "core/base/raster.h"
#include "core/base/sample_sink.h"
#include "core/base/shared_state.h"

class CCd;

// Mixed stereo output, appended on the emulation thread and taken by the
// host's sound feeder thread. The take copies out under the lock, so the
// feeder never reads pairs the emulation thread is writing.
class SampleBuffer {
public:
    static constexpr u32 kPairs = 4096;

    // Stores the pair as (second, first).
    void push(const s16* pair);
    // Copies at most maxPairs of the pairs written since the last take into
    // out (two samples each) and empties the buffer; answers the count.
    u32 take(s16* out, u32 maxPairs);
    u32 pending() const;

private:
    mutable std::mutex m_mutex;
    s16 m_samples[kPairs * 2] = {};
    u32 m_writeIndex = 0;
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
