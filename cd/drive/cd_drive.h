#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cd/media/cd.h"
#include "cd/media/sector_buffer.h"
#include "core/base/device.h"

// The disc mechanism: a worker thread reads ahead from the disc source into
// a ring of buffers, and the CD block takes sectors out of it one at a time
// on the emulation thread. The drive keeps no time of its own; the CD
// block's drive event decides when a sector is taken.
class CDDrive : public Device {
public:
    enum State : u32 {
        kSwitchedOff = 0,
        kTrayOpen = 1,
        kNoDisc = 2,
        kStopped = 3,
        kPaused = 4,
        kReading = 5,
    };

    static constexpr u32 kBuffers = 16;
    static constexpr u32 kSectorsPerBuffer = 16;
    // A read notes at most one line per sector and one for the run, and
    // the run may go on into the next track.
    static constexpr u32 kNotesPerBuffer = 2 * kSectorsPerBuffer;
    // The worker reads at most one buffer per this many nanoseconds.
    static constexpr u32 kStepNs = 1000000;

    struct ReadAheadBuffer {
        // 1 while filled and not yet consumed; hands the buffer between threads.
        std::atomic<u8> valid{0};
        u32 mode = 0;
        s32 size = 0;
        u32 startFad = 0;
        u32 count = 0;
        u32 next = 0;
        // kSectorsPerBuffer sectors, sector k at k x size.
        u8* data = nullptr;
        // What the read had to say, in FAD order; written as the sectors
        // are taken.
        ReadNote notes[kNotesPerBuffer];
        u32 noteCount = 0;
        u32 notesWritten = 0;
    };

    CDDrive();
    ~CDDrive() override;

    void powerOn() override;
    void powerOff() override;
    void reset() override;

    std::shared_ptr<CCd>& getMedia() { return m_media; }
    // Swaps the disc. A running worker is stopped first; with a disc the
    // device is switched off so the next power-on starts it afresh.
    void setMedia(std::shared_ptr<CCd> media);
    u32 getState() const { return m_state.load(std::memory_order_acquire); }
    const SessionInfo* getSession(s32 index);

    // Points sector at the next sector of the ring without copying; false
    // while the buffer at the read index is not filled.
    bool peekSector(SectorBuffer& sector);
    // As peekSector, but for a disc image it waits for the worker to read
    // the sector (a local file read) instead of answering false while the
    // worker is late, so a run repeats whatever the host's load. False when
    // the drive is not reading, the read failed, or the disc is a real drive;
    // the notes of a failed read are written then.
    bool waitSector(SectorBuffer& sector);
    // Consumes the sector that the last successful peek showed, writing the
    // notes its read left about it.
    void nextSector();

    void read(u32 fad, u32 count);
    void pause(bool flush);
    // Paused with the ring discarded and the pickup at fad, where a resume
    // goes on reading.
    void seek(u32 fad);
    // Takes the place of the device's resume: the drive is never halted,
    // so its resume is the reading one.
    void resume() override;
    void stop();
    void openTray();
    void clearBuffers();
    // Reads one sector of the disc on the calling thread, between two reads
    // of the worker, leaving the ring and the state alone; false without a
    // disc or when nothing was read.
    bool readSectorNow(u32 fad, SectorBuffer& sector);

    // For inspection: the ring as the worker left it.
    const ReadAheadBuffer& buffer(u32 index) const { return m_ring[index % kBuffers]; }
    u32 readIndex() const { return m_readIndex.load(std::memory_order_acquire); }
    u32 fillIndex() const { return m_fillIndex.load(std::memory_order_acquire); }
    s32 nextFad() const { return m_nextFad.load(std::memory_order_acquire); }
    bool workerRunning() const { return m_worker.joinable(); }

private:
    void readAhead();
    // One pass of the worker, under m_mutex; true when it let go of it.
    bool readStep(std::unique_lock<std::mutex>& lock, u32 generation);
    // The waiting emulation's wait is over: it is told once.
    void answerWaiter();
    // Requests change the state and range under m_mutex, so the worker
    // never misses a wake-up and never publishes a buffer of an old range.
    void clearBuffersLocked();
    void wake();
    void shutDownWorker();

    std::shared_ptr<CCd> m_media;
    ReadAheadBuffer m_ring[kBuffers];
    std::vector<u8> m_ringData;
    std::atomic<s32> m_startFad{0};
    std::atomic<s32> m_endFad{0};
    std::atomic<s32> m_nextFad{0};
    // The first sector of the range the emulation has not taken. A discarded
    // ring is read again from here, so where reading goes on never depends
    // on how far the worker had got. Only the emulation thread changes it.
    s32 m_takenFad = 0;
    std::atomic<u32> m_readIndex{0};
    std::atomic<u32> m_fillIndex{0};
    std::atomic<u32> m_state{kSwitchedOff};
    std::atomic<u8> m_alive{0};
    // Bumped by every request that discards the ring or moves the range; a
    // worker step that began under an older value publishes nothing.
    std::atomic<u32> m_generation{0};
    // Set by the worker when the read of the next buffer failed; cleared
    // with the ring.
    std::atomic<u8> m_readFailed{0};
    // Set by the worker, under m_mutex, while it reads the disc without holding it.
    bool m_inRead = false;
    // Set by the emulation thread as it starts to wait in waitSector and
    // cleared by the worker's answer, so the answer cuts one pause short.
    std::atomic<u8> m_waiting{0};
    // The notes of the last failed read, under m_mutex; a published buffer
    // makes them moot.
    ReadNote m_failureNotes[kNotesPerBuffer];
    u32 m_failureNoteCount = 0;
    // A real drive's reads may stall for seconds; only images are waited on.
    bool m_localMedia = true;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // The worker's signal that a buffer was published, a read failed or
    // ended, or it stopped.
    std::condition_variable m_filled;
};
