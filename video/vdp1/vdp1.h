#pragma once

#include "core/base/device.h"
#include "core/base/shortcuts.h"

class SCU;
namespace vdp1 {
struct Target;
}

// What the background processor's sprite layer reads: the display frame
// buffer (big-endian rows of 1 << rowShift bytes) and its geometry.
struct FrameBufferInfo {
    u8 rotation = 0;
    u8 eightBit = 0;
    const u8* pixels = nullptr;
    u8 reserved = 0;
    s32 width = 512;
    s32 height = 256;
};

// The sprite and polygon processor: walks linked command tables in its
// 512 KB VRAM and draws into the draw half of a 512 KB frame-buffer block
// while the other half is on show. Time-sliced at half the system clock;
// drawing is paced by clocks charged per command and per pixel.
class VDP1 : public Device {
public:
    static constexpr u32 kVramSize = 0x80000;
    static constexpr u32 kVramMask = kVramSize - 1;
    static constexpr u32 kFrameBufferSize = 0x40000;
    static constexpr u32 kFrameBufferMask = kFrameBufferSize - 1;
    // Above every VRAM address, so it never names a real table.
    static constexpr u32 kNoReturn = 0x80000;

    enum Area : int { kVram = 0, kFrameBuffer = 1, kRegisters = 2 };
    enum DrawState : s32 { kIdle = 0, kDrawing = 2 };
    enum Register : u32 {
        kTVMR = 0x00, kFBCR = 0x02, kPTMR = 0x04, kEWDR = 0x06, kEWLR = 0x08, kEWRR = 0x0A,
        kENDR = 0x0C, kEDSR = 0x10, kLOPR = 0x12, kCOPR = 0x14, kMODR = 0x16,
    };

    // A corner as the rasterisers take it: position after the local offset
    // and the 5-bit Gouraud components.
    struct Vertex {
        s32 x = 0, y = 0;
        s32 r = 0, g = 0, b = 0;
    };

    // Fixed-point cursor from a pixel centre: x has 19 fraction bits, y 20,
    // the Gouraud components 26.
    struct EdgeStep {
        struct Pair {
            s32 val = 0;
            s32 inc = 0;
        };
        Pair x, y, r, g, b;

        static EdgeStep at(const Vertex& v);
        // Wrapping adds: the step past a slant's last pixel may leave the
        // range, and that value is never drawn.
        static s32 add(s32 a, s32 b) { return static_cast<s32>(static_cast<u32>(a) + static_cast<u32>(b)); }
        void step()
        {
            x.val = add(x.val, x.inc);
            y.val = add(y.val, y.inc);
            r.val = add(r.val, r.inc);
            g.val = add(g.val, g.inc);
            b.val = add(b.val, b.inc);
        }
        void advance(s32 steps);
        void negate();
    };

    struct Registers {
        u16 TVMR = 0, FBCR = 0, PTMR = 0, EWDR = 0, EWLR = 0, EWRR = 0, ENDR = 0, EDSR = 0, LOPR = 0, COPR = 0,
            MODR = 0;
    };

    VDP1(SCU* scu, u8* memory, u32 version = 1);

    bool setup(u32 argument) override;
    void powerOn() override;
    void reset() override;
    u32 execute(u32 clocks) override;
    AccessHandlers getAccessHandlers(int area) override;

    void onHBlankIn(int line);
    void onVBlankIn();
    void onVBlankOut();
    // Whether drawing ended on this line; the draw end is raised by the
    // command list's END instead, so never.
    bool drawEndedOnLine() const { return false; }
    // The display frame buffer, refreshed on every call.
    const FrameBufferInfo* getDisplayFrameBuffer();

    // Register file, as the bus sees it.
    u16 readRegister(CPU* cpu, u32 address);
    bool peekRegister(u32 address, u16& value) const;
    bool peek(u32 address, u32 width, u32& value) const;
    void writeRegister(CPU* cpu, u32 address, u16 data);
    void writeTVMR(u16 data);
    void writeFBCR(u16 data);
    void writePTMR(u16 data);
    int getChangeMode() const;
    void swapFrameBuffers();
    void erase();

    void startDraw();
    void forceEnd();
    // Walks tables while clocks are left.
    void runCommands();

    // Rasterisers; each answers the clocks it used.
    u32 draw_line(const char* name, const Vertex& v0, const Vertex& v1);
    u32 draw_quad(const char* name, const Vertex* v);
    u32 draw_sprite(const char* name, const Vertex* v);

    const Registers& registers() const { return m_reg; }
    s32 displayIndex() const { return m_displayIndex; }
    bool drawing() const { return m_drawState == kDrawing; }
    u8* drawBuffer() const { return m_drawBuffer; }
    u8* displayBuffer() const { return m_displayBuffer; }
    void setClocksLeft(s32 clocks) { m_clocksLeft = m_budget = clocks; }
    // What the last drawing command cost, jump excluded.
    u32 lastCommandClocks() const { return m_lastClocks; }
    // Off, every slant takes the cut and the per-pixel tests, and a sprite
    // counts end codes texel by texel, so that a check can hold the
    // shortcuts to what those draw and charge.
    void setFastPaths(bool on) { m_fastPaths = on; }
    // How often each of the shortcuts was taken, by primitive or by slant.
    const ShortcutUses& shortcutUses() const { return m_shortcutUses; }

private:
    // How a slant or line was cut against the system clip.
    struct Slant {
        EdgeStep c;       // at the first pixel drawn
        s32 count = 0;    // pixels to step
        s32 length = 0;   // pixels before clipping
        s32 skipped = 0;  // steps cut from the start
        bool reversed = false;
        bool general = false;  // neither a row nor a column
        s32 divisor = 0;       // the last length set up, and ~0 / it
        u64 reciprocal = 0;
    };

    // Decoded command table.
    struct Command {
        u16 ctrl = 0, pmod = 0, colr = 0;
        u8 direction = 0, zoom = 0;
        u8 mon = 0, hss = 0, pclp = 0, clip = 0, cmod = 0, mesh = 0, ecd = 0, spd = 0;
        u8 colourMode = 0, calcMode = 0;
        s32 width = 1, height = 1;
        u32 texture = 0, gouraud = 0;
    };

    static u16 readRegisterWord(void* owner, CPU* cpu, u32 a);
    static void writeRegisterWord(void* owner, CPU* cpu, u32 a, u16 d);
    static u8 readRegisterByte(void* owner, CPU* cpu, u32 a);
    static void writeRegisterByte(void* owner, CPU* cpu, u32 a, u8 d);
    static u32 readRegisterLong(void* owner, CPU* cpu, u32 a);
    static bool steadyRegister(void* owner, const CPU* cpu, u32 a, u32 width, u32& value);
    static void writeRegisterLong(void* owner, CPU* cpu, u32 a, u32 d);
    static u8 readBufferByte(void* owner, CPU* cpu, u32 a);
    static void writeBufferByte(void* owner, CPU* cpu, u32 a, u8 d);
    static u16 readBufferWord(void* owner, CPU* cpu, u32 a);
    static void writeBufferWord(void* owner, CPU* cpu, u32 a, u16 d);
    static u32 readBufferLong(void* owner, CPU* cpu, u32 a);
    static void writeBufferLong(void* owner, CPU* cpu, u32 a, u32 d);

    void checkFrameChange();
    void setBufferPointers();
    void setFrameSize(u32 tvm);
    void updateSystemClip();

    // Walker pieces.
    u16 vramWord(u32 address) const;
    void runCommand(u32 code);
    void jump();
    void END();
    void invalidCommand(u16 ctrl);
    void decodeCommand(const char* name, bool sprite);
    void checkDrawMode(const char* name, u32 code);
    void readVertices(u32 code, Vertex* v, int count);
    void setupColor(bool sprite);
    void UCLIP(const char* name, bool warn);
    void SCLIP(const char* name);
    void LOCAL(const char* name);

    // Rasteriser pieces.
    static void setUpSlant(const EdgeStep& c0, const EdgeStep& c1, bool gouraud, Slant& out);
    bool clipSlant(const EdgeStep& c0, const EdgeStep& c1, bool gouraud, Slant& out);
    // clear: every pixel is known to pass every test (see Target::clear).
    template <bool kQuad, class Source>
    u32 stepSlant(const vdp1::Target& t, Slant& slant, Source& source, bool clear);
    vdp1::Target target() const;
    template <int kMode>
    u32 drawTextured(const Vertex* v);
    template <bool kQuad, class Source>
    u32 walkQuad(const Vertex* v, Source& source);
    template <int kKind, class Source>
    u32 walkClear(const vdp1::Target& t, EdgeStep l, EdgeStep r, s32 n, Source& source);
    template <class Source>
    void noteCutStart(const vdp1::Target& t, const EdgeStep& c, const Source& source);

    SCU* m_scu;
    u8* m_memory;
    u8* m_frameBuffers;
    u32 m_version;

    Registers m_reg;
    u8* m_displayBuffer = nullptr;
    u8* m_drawBuffer = nullptr;
    s32 m_displayIndex = 0;
    s32 m_frameWidth = 512;
    s32 m_frameHeight = 256;
    u8 m_eightBit = 0;
    u8 m_rotation = 0;
    s32 m_rowShift = 9;
    u8 m_eos = 0, m_die = 0, m_dil = 0, m_fcm = 0, m_fct = 0;
    u8 m_changeRequest = 0, m_eraseRequest = 0;
    u8 m_firstLine = 0;
    u8 m_drawStarted = 0;
    FrameBufferInfo m_frameBufferInfo;

    // Walker state.
    u32 m_commandPointer = 0;
    u32 m_returnAddress = kNoReturn;
    // Changed only through setDrawState: VDP1 is idle exactly while it does not draw.
    s32 m_drawState = kIdle;
    void setDrawState(DrawState state)
    {
        m_drawState = state;
        m_idle = state == kIdle;
    }
    Command m_cmd;
    u32 m_lastClocks = 0;
    s32 m_calcMode = 0;  // 8 for MSB on
    u8 m_clipValue = 1;
    s32 m_sclipCornerX = 511, m_sclipCornerY = 255;  // XC, YC of the last SCLIP
    s32 m_sclip_x = 512, m_sclip_y = 256;            // clip width and height
    s32 m_uclip[4] = {0, 0, 511, 255};
    const u8* m_uclipMaskX = nullptr;
    const u8* m_uclipMaskY = nullptr;
    s32 m_localX = 0, m_localY = 0;
    u8 m_drawSwitch[6] = {1, 1, 1, 1, 1, 1};

    // Per-command pixel state.
    u8 m_meshOn = 0;
    u8 m_clipOn = 0;
    u8 m_pclp = 0;
    u8 m_gouraudOn = 0;
    s32 m_writeCost = 1;  // clocks of a quad pixel written by this command
    u32 m_texture = 0;
    u16 m_bank = 0;
    u16 m_clut[16] = {};
    s32 m_transparentCode = -1;
    s32 m_endCode = -1;

    u8 m_gouraudTable[1024];
    bool m_fastPaths = true;
    ShortcutUses m_shortcutUses;
};
