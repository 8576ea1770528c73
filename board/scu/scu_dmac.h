#pragma once

#include <deque>
#include <vector>

#include "core/base/device.h"

class SCU;
class CPU;
class PageMap;

enum DmaStartFactor : u32 {
    kDmaVBlankIn = 0,
    kDmaVBlankOut = 1,
    kDmaHBlankIn = 2,
    kDmaTimer0 = 3,
    kDmaTimer1 = 4,
    kDmaSoundRequest = 5,
    kDmaDrawEnd = 6,
    kDmaStartBit = 7,
};

// What a 64 KB page is to the DMA: which bus, and which access rules apply.
enum DmaPageClass : u8 {
    kPageInvalid = 0,
    kPageAbusExternal = 0x01,  // external areas 1 to 3
    kPageAbusOther = 0x02,     // A-bus without area rules
    kPageAbusDataTrns = 0x03,  // area 4, the CD block's data register
    kPageAbusIo = 0x04,        // area 4, I/O
    kPageSoundRam = 0x10,
    kPageSoundRegisters = 0x11,
    kPageVdp1Vram = 0x12,
    kPageVdp1Other = 0x13,
    kPageVdp2Vram = 0x14,
    kPageVdp2Other = 0x15,
    kPageBbusOther = 0x16,
    kPageWorkRamHigh = 0x20,
};

inline bool isAbusPage(u8 c) { return c >= kPageAbusExternal && c <= kPageAbusIo; }
inline bool isBbusPage(u8 c) { return (c & 0xF0) == 0x10; }

// The SCU's three-level DMA controller. Levels are started by factors and
// the start bit; the data move in execute, one destination step per DMA
// clock, while each transfer's end is an event placed from an estimate.
class ScuDmac : public Device {
public:
    static constexpr u32 kPriorityDelayClocks = 16;
    static constexpr u32 kAddressMask = 0x7FFFFFF;
    static constexpr size_t kQueueLimit = 64;

    struct Request {
        u32 s = 0, d = 0, n = 0, sa = 0, da = 0;
        u8 su = 0, du = 0, direct = 1;
        // Refused by the checks: the level runs its count and ends, moving nothing.
        u8 illegal = 0;
        u32 factor = 0;
    };

    struct Level {
        u32 index = 0;
        std::deque<Request> queue;
        // The transfer being done.
        u32 s = 0, d = 0, n = 0, sa = 0, da = 0;
        u8 su = 0, du = 0, direct = 1, illegal = 0;
        u32 table = 0;
        // Engine state: bytes read ahead of the destination.
        u64 buffer = 0;
        s32 buffered = 0, leftRead = 0, leftWrite = 0;
        u8 srcClass = 0, dstClass = 0;
        u8 srcA = 0, dstA = 0, srcB = 0, dstB = 0, srcContinuous = 0, dstContinuous = 0;
        // Taken from its queue but not started yet (waiting to displace a
        // lower level).
        u8 latched = 0;
        EventHandle endEvent;
        u32 endGeneration = 0;
    };

    // The DSP's own DMA channel: moves words between DSP memory and the
    // buses inside one DSP instruction.
    class D0 : public Object {
    public:
        explicit D0(ScuDmac* dmac) : Object("SCU.DMAC.D0"), m_dmac(dmac) {}
        // False (nothing moves) when the address is not a DMA area.
        bool setup(u32 address, u32 add, bool out, bool hold);
        u32 readWord();
        void writeWord(u32 value);
        u32 address() const { return m_address; }
        bool hold() const { return m_hold; }

    private:
        ScuDmac* m_dmac;
        u32 m_address = 0;
        u32 m_step = 0;
        u8 m_class = 0;
        u8 m_bbus = 0;
        u8 m_out = 0;
        u8 m_hold = 0;
    };

    explicit ScuDmac(SCU* scu);

    void reset() override;
    u32 execute(u32 clocks) override;

    // Start factors and the registers' actions.
    void trigger(u32 factor);
    void triggerLevel(u32 level, u32 factor);
    void requestDma(u32 level, u32 factor);
    void onDstpWrite(u32 value);
    void forceStop();

    bool checkDirect(u32 s, u32 d, u32 n, u32 sa, u32 da, u32 su, u32 du);
    bool checkIndirect(const Request& r);
    void reportIllegal(u32 level, const Request& r);

    // A memory whose handlers do nothing but load and store, so aligned
    // runs may be copied in blocks. Taken only while the page still has
    // the handlers it had when registered.
    void addPlainMemory(u32 start, u32 end, u8* host, u32 size);
    // Off, every transfer moves a step at a time through the bus.
    void setBlockCopies(bool on) { m_blockCopies = on; }
    u64 blocksCopied() const { return m_blocksCopied; }

    u8 pageClass(u32 address) const { return m_pageClass[(address >> 16) & 0xFFFF]; }
    bool validForDma(u32 address) const { return pageClass(address) != kPageInvalid; }
    const Level& level(u32 n) const { return m_levels[n % 3]; }
    D0& d0() { return m_d0; }
    CPU* busMaster() const;
    const PageMap& bus() const;

private:
    struct Plain {
        u32 firstPage = 0, lastPage = 0;
        u8* host = nullptr;
        u32 mask = 0;
        void* owner = nullptr;
        ReadLongHandler readLong = nullptr;
        WriteLongHandler writeLong = nullptr;
        WriteWordHandler writeWord = nullptr;
    };

    u32 dsta() const;
    // The one way DSTA changes: the controller is idle exactly while no
    // level operates.
    void setDsta(u32 status);
    u32 regOf(u32 level, u32 offset) const;
    void setReg(u32 level, u32 offset, u32 value);

    static u32 operatingBit(u32 n) { return 0x10u << (4 * n); }
    static u32 standbyBit(u32 n) { return 0x20u << (4 * n); }
    static u32 pausedBit(u32 n) { return n < 2 ? 0x10000u << n : 0; }
    bool operating(u32 n);
    bool standby(u32 n);
    bool paused(u32 n);
    bool busy(u32 n);

    void request(u32 n, const Request& r);
    void latch(u32 n, bool fromQueue);
    void readEntry(u32 table, u32& s, u32& d, u32& count);
    void setupEngine(Level& l);
    void startLevel(u32 n);
    void standbyLevel(u32 n);
    void pauseLevel(u32 n);
    void resumeLevel(u32 n);
    bool endLevel(u32 n);
    void startNext();
    void setBusBits(const Level& l);
    void scheduleEnd(u32 n, bool withMessage);
    void scheduleDisplacement(u32 lower, u32 higher);

    static void onEnd(void* owner, u32 argument);
    static void onDisplace(void* owner, u32 argument);
    static void onForceStop(void* owner, u32 argument);

    // Moves data of one level; answers the budget left.
    s32 run(Level& l, s32 budget);
    void fill(Level& l, s32 needed);
    // Bytes that may be copied as one block from the present position.
    u32 blockRun(const Level& l, const u8*& src, u8*& dst) const;
    const Plain* plainAt(u32 address) const;

    SCU* m_scu;
    D0 m_d0;
    Level m_levels[3];
    std::vector<Plain> m_plain;
    bool m_blockCopies = true;
    u64 m_blocksCopied = 0;
    u8 m_pageClass[0x10000];
};
