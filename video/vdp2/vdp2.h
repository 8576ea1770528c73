#pragma once

#include "video/vdp2/vdp2_layers.h"
#include "core/base/device.h"
#include "core/base/display_size.h"
#include "core/base/shortcuts.h"

class SMPC;
class VDP1;
struct FrameBufferInfo;
namespace vdp2 {
struct LineRules;
}

// The background processor: its register file, VRAM and colour RAM windows,
// the TVSTAT/VCNT status it derives from the raster events, and the display
// size the host reads. It is not time-sliced; it acts only in the raster
// callbacks and in bus accesses.
//
// Before every display line the layers re-read their registers (setupLine),
// then each active layer fetches its dots for the whole line and the
// compositor orders them by priority, applies shadows, colour calculation
// and colour offset, and writes the line into the host canvas.
class VDP2 : public Device {
public:
    static constexpr u32 kVramSize = 0x80000;
    static constexpr u32 kColorRamSize = 0x1000;
    static constexpr u32 kRegisterWords = 0x120 / 2;
    static constexpr u32 kLastRegister = 0x11E;

    enum Area : int { kVram = 0, kColorRam = 1, kRegisters = 2 };

    // Register offsets in the register area, by their hardware names.
    enum Register : u32 {
        TVMD = 0x000, EXTEN = 0x002, TVSTAT = 0x004, VRSIZE = 0x006, HCNT = 0x008, VCNT = 0x00A,
        RAMCTL = 0x00E,
        CYCA0L = 0x010, CYCA0U = 0x012, CYCA1L = 0x014, CYCA1U = 0x016,
        CYCB0L = 0x018, CYCB0U = 0x01A, CYCB1L = 0x01C, CYCB1U = 0x01E,
        BGON = 0x020, MZCTL = 0x022, SFSEL = 0x024, SFCODE = 0x026, CHCTLA = 0x028, CHCTLB = 0x02A,
        BMPNA = 0x02C, BMPNB = 0x02E, PNCN0 = 0x030, PNCN1 = 0x032, PNCN2 = 0x034, PNCN3 = 0x036,
        PNCR = 0x038, PLSZ = 0x03A, MPOFN = 0x03C, MPOFR = 0x03E,
        MPABN0 = 0x040, MPABRA = 0x050, MPABRB = 0x060,
        SCXIN0 = 0x070, SCXDN0 = 0x072, SCYIN0 = 0x074, SCYDN0 = 0x076,
        ZMXIN0 = 0x078, ZMXDN0 = 0x07A, ZMYIN0 = 0x07C, ZMYDN0 = 0x07E,
        SCXIN1 = 0x080, SCXDN1 = 0x082, SCYIN1 = 0x084, SCYDN1 = 0x086,
        ZMXIN1 = 0x088, ZMXDN1 = 0x08A, ZMYIN1 = 0x08C, ZMYDN1 = 0x08E,
        SCXN2 = 0x090, SCYN2 = 0x092, SCXN3 = 0x094, SCYN3 = 0x096,
        ZMCTL = 0x098, SCRCTL = 0x09A, VCSTAU = 0x09C, VCSTAL = 0x09E,
        LSTA0U = 0x0A0, LSTA0L = 0x0A2, LSTA1U = 0x0A4, LSTA1L = 0x0A6,
        LCTAU = 0x0A8, LCTAL = 0x0AA, BKTAU = 0x0AC, BKTAL = 0x0AE,
        RPMD = 0x0B0, RPRCTL = 0x0B2, KTCTL = 0x0B4, KTAOF = 0x0B6, OVPNRA = 0x0B8, OVPNRB = 0x0BA,
        RPTAU = 0x0BC, RPTAL = 0x0BE,
        WPSX0 = 0x0C0, WPSY0 = 0x0C2, WPEX0 = 0x0C4, WPEY0 = 0x0C6,
        WPSX1 = 0x0C8, WPSY1 = 0x0CA, WPEX1 = 0x0CC, WPEY1 = 0x0CE,
        WCTLA = 0x0D0, WCTLB = 0x0D2, WCTLC = 0x0D4, WCTLD = 0x0D6,
        LWTA0U = 0x0D8, LWTA0L = 0x0DA, LWTA1U = 0x0DC, LWTA1L = 0x0DE,
        SPCTL = 0x0E0, SDCTL = 0x0E2, CRAOFA = 0x0E4, CRAOFB = 0x0E6, LNCLEN = 0x0E8,
        SFPRMD = 0x0EA, CCCTL = 0x0EC, SFCCMD = 0x0EE,
        PRISA = 0x0F0, PRISB = 0x0F2, PRISC = 0x0F4, PRISD = 0x0F6, PRINA = 0x0F8, PRINB = 0x0FA,
        PRIR = 0x0FC,
        CCRSA = 0x100, CCRSB = 0x102, CCRSC = 0x104, CCRSD = 0x106, CCRNA = 0x108, CCRNB = 0x10A,
        CCRR = 0x10C, CCRLB = 0x10E, CLOFEN = 0x110, CLOFSL = 0x112,
        COAR = 0x114, COAG = 0x116, COAB = 0x118, COBR = 0x11A, COBG = 0x11C, COBB = 0x11E,
    };

    // TVSTAT bits the device keeps.
    static constexpr u16 kTvstatPal = 0x0001;
    static constexpr u16 kTvstatOdd = 0x0002;
    static constexpr u16 kTvstatHBlank = 0x0004;
    static constexpr u16 kTvstatVBlank = 0x0008;

    // The machine passes a 512 KB VRAM (size flag 0) and chip version 1.
    // external answers readExternalInput kind 1 with the external layer's frame.
    VDP2(VDP1* vdp1, SMPC* smpc, Device* external, u8* vram, u8* colorRam, u8 vramSizeFlag = 0, u8 version = 1);

    bool setup(u32) override;
    void powerOn() override;
    void reset() override;
    AccessHandlers getAccessHandlers(int area) override;

    // Raster events, in the order the machine calls them within a field.
    void onVBlankIn();
    void onVBlankOut(u8 field);
    void onHBlankIn(int line);
    void onHBlankOut(int line);

    void setVideoStandard(bool pal);
    const DisplaySize& getDisplaySize() const { return m_size; }

    // Bus handlers; owner is the VDP2.
    static u8 readVram8(void* owner, CPU* cpu, u32 a);
    static u16 readVram16(void* owner, CPU* cpu, u32 a);
    static u32 readVram32(void* owner, CPU* cpu, u32 a);
    static void writeVram8(void* owner, CPU* cpu, u32 a, u8 d);
    static void writeVram16(void* owner, CPU* cpu, u32 a, u16 d);
    static void writeVram32(void* owner, CPU* cpu, u32 a, u32 d);
    static u8 readColorRam8(void* owner, CPU* cpu, u32 a);
    static u16 readColorRam16(void* owner, CPU* cpu, u32 a);
    static u32 readColorRam32(void* owner, CPU* cpu, u32 a);
    static void writeColorRam8(void* owner, CPU* cpu, u32 a, u8 d);
    static void writeColorRam16(void* owner, CPU* cpu, u32 a, u16 d);
    static void writeColorRam32(void* owner, CPU* cpu, u32 a, u32 d);
    static u8 readRegister8(void* owner, CPU* cpu, u32 a);
    static u16 readRegister16(void* owner, CPU* cpu, u32 a);
    static u32 readRegister32(void* owner, CPU* cpu, u32 a);
    static bool steadyRegister(void* owner, const CPU* cpu, u32 a, u32 width, u32& value);
    static void writeRegister8(void* owner, CPU* cpu, u32 a, u8 d);
    static void writeRegister16(void* owner, CPU* cpu, u32 a, u16 d);
    static void writeRegister32(void* owner, CPU* cpu, u32 a, u32 d);

    // The register file as stored (no read mask), for the layers and for
    // inspection; offsets past the file read 0.
    u16 reg(u32 offset) const { return offset <= kLastRegister ? m_regs[offset >> 1] : 0; }
    // Bits a word write keeps at that offset (0 for read-only and reserved words).
    static u16 writeMask(u32 offset);

    // Cached settings a register write makes stale: a layer's by its number
    // (0-6), the sprite layer's, and the line effects'.
    static constexpr u32 kStaleSprite = 1u << 7;
    static constexpr u32 kStaleEffects = 1u << 8;
    static constexpr u32 kStaleAll = (1u << 9) - 1;

    // Writers of colour RAM that bypass the bus (the debugger, tests) call
    // this before the next line is drawn; the frame start compares it all.
    void colorRamChanged() { m_colorRamDirty = ~u64{0}; }

    u8 palFlag() const { return m_pal; }
    u8 displayOn() const { return m_displayOn; }
    u8 field() const { return m_field; }
    u32 interlaceMode() const { return m_interlace; }
    u32 screenMode() const { return m_screenMode; }
    s32 rasterLine() const { return m_rasterLine; }
    // Address mask for the layers' VRAM arithmetic.
    u32 vramAddressMask() const { return m_vramMask; }


    // Per-line state the tests and the debugger look at.
    const vdp2::LayerOutput& output(u32 record) const { return m_outputs[record % vdp2::kRecords]; }
    const vdp2::LineDots& spriteLine() const { return m_dots[vdp2::kSpriteRecord]; }
    const vdp2::SpriteDots& spriteDots() const { return m_spriteDots; }
    bool layerActive(u32 layer) const;

    // A fixed frame for the sprite layer instead of VDP1's display buffer
    // (null goes back to VDP1's), for tools and tests.
    void setSpriteFrame(const FrameBufferInfo* frame) { m_spriteFrame = frame; }
    // The machine hands its shortcuts' switches of the line loops here.
    void setFastPaths(const Shortcuts::Vdp2& paths) { m_fastPaths = paths; }
    // How often each fast path was taken, counted by line.
    const ShortcutUses& shortcutUses() const { return m_shortcutUses; }

    // Writes pixels x0 .. x0 + count - 1 of display line y into the host
    // canvas from the dots the layers fetched for that line.
    void composeLine(u32 x0, u32 count, u32 y);

    // A scroll, rotation or external layer: its decoded registers, its
    // line-position state and the line it is drawing.
    struct Layer : Object {
        Layer(const char* name, u32 number);

        u32 number;
        u32 record;
        u8 enable = 0;         // the host's layer switch, latched per frame
        u8 displayEnable = 0;  // BGON / EXTEN
        u8 active = 0;         // drawn on this line

        // Character and colour settings.
        u8 transparentShown = 0;
        u8 colorMode = 0;
        u8 bitmap = 0;
        u8 charSize16 = 0;
        u8 twoWord = 0;
        u8 supplementMode = 0;
        u16 pncn = 0;
        u32 bitmapBase = 0;
        u32 bitmapWidthMask = 511;
        u32 bitmapHeightMask = 255;
        u32 bitmapRowShift = 9;
        u32 bitmapPalette = 0;
        u8 bitmapSpecialPriority = 0;
        u8 bitmapSpecialCc = 0;
        u32 cramOffset = 0;
        u8 priority = 0;
        u8 specialPriorityMode = 0;
        u8 specialCcMode = 0;
        u8 specialSelect = 0;
        u8 ccEnable = 0;
        u32 ratio = 0;
        u8 shadow = 0;
        u8 lineColorEnable = 0;
        u8 mosaic = 0;
        vdp2::WindowControl window;
        vdp2::MapGeometry map;

        // Scroll, zoom, line scroll and vertical cell scroll (normal layers).
        s32 scrollX = 0;  // 16.16
        s32 scrollY = 0;
        u32 zoomX = 0x10000;
        u32 zoomY = 0x10000;
        u8 reduction = 0;
        u8 cellScroll = 0;
        u8 lineScrollX = 0;
        u8 lineScrollY = 0;
        u8 lineZoom = 0;
        u32 lineScrollShift = 0;
        u32 lineScrollTable = 0;

        // Line-position rule.
        s32 yPosition = 0;
        s32 lastScrollY = 0;
        s32 lastLine = -1;
        s32 xOffset = 0;
        s32 yOffset = 0;
        u32 lineZoomValue = 0x10000;

        // The line being drawn.
        s32 xStart = 0;
        u32 xStep = 0x10000;
        u32 lineRow = 0;
        u8 yMode = 0;  // 0 plain, 1 mosaic, 2 vertical cell scroll
        u32 cellScrollSlot = 0;
        u32 cellScrollCount = 1;
        u32 rowAddress = 0;

        // External layer: its frame buffer and row.
        const u8* externalPixels = nullptr;
        u32 externalBytes = 0;
        u32 externalRow = 0;
        u32 externalHeight = 0;
    };

    // One rotation parameter set as read from VRAM, with the line values
    // derived from it. Fixed-point fields keep the table's fraction bits.
    struct RotationParams {
        s32 xst = 0, yst = 0, zst = 0;  // 10 fraction bits
        s32 dxst = 0, dyst = 0, dx = 0, dy = 0;
        s32 a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
        s32 px = 0, py = 0, pz = 0, cx = 0, cy = 0, cz = 0;  // integers
        s32 mx = 0, my = 0;  // 10 fraction bits
        s32 kx = 0, ky = 0;  // 16 fraction bits
        u32 kast = 0;        // 10 fraction bits
        s32 dkast = 0, dkax = 0;

        // Line-position state for Xst, Yst and the coefficient address.
        s32 xLine = 0, yLine = 0, lastXst = 0, lastYst = 0;
        u32 kaLine = 0;
        s32 lastLine = -1;

        // Line values.
        s64 xsp = 0, ysp = 0;  // 20 fraction bits
        s64 xp = 0, yp = 0;    // 10 fraction bits
        s64 stepX = 0, stepY = 0;

        // Coefficient table.
        u8 coefficients = 0;
        u8 coefficientWord = 0;  // one-word data
        u8 coefficientMode = 0;
        u8 coefficientLineColor = 0;
        u8 coefficientsInColorRam = 0;
        u32 coefficientBase = 0;
        u32 coefficientShift = 8;

        vdp2::MapGeometry map;
        u8 overMode = 0;
        u16 overName = 0;
        u32 bitmapBase = 0;
        u8 rereadMask = 0;  // RPRCTL bits of the set
    };

    // The sprite layer as VDP2 reads VDP1's display frame buffer.
    struct SpriteLayer : Object {
        SpriteLayer();
        u8 enable = 0;
        u8 active = 0;
        u8 type = 0;
        u8 windowEnable = 0;
        u8 mixed = 0;
        u8 ccNumber = 0;
        u8 ccCondition = 0;
        u8 priorities[8] = {};  // (priority << 1) | colour calculation allowed
        u8 ratios[8] = {};
        u32 cramOffset = 0;
        u8 ccEnable = 0;
        vdp2::WindowControl window;
    };

private:
    u16& regRef(u32 offset) { return m_regs[(offset >> 1) % kRegisterWords]; }
    u16 readWord(CPU* cpu, u32 a);
    bool peekWord(u32 a, u16& value) const;
    void writeWord(CPU* cpu, u32 a, u16 d);
    void storeRegister(u32 offset, u16 value);
    void storeColorWord(u32 a, u16 d);
    static bool fromSlave(const CPU* cpu);

    void buildTables();
    void refreshPalette();
    void beginFrame();
    void logFrameStart() const;
    void traceRegisters(const char* more) const;
    void computeDisplaySize();
    void setupLine(int y);
    void setupLineEffects();
    void drawLine(int y);
    void refreshDisplayEnables();
    void decodeLayer(Layer& layer);
    void decodeNormal(Layer& layer);
    void decodeRotation(Layer& layer);
    void buildMap(vdp2::MapGeometry& map, const Layer& layer, u32 planeSize, u32 mapOffset, u32 first,
                  u32 planes) const;
    void decodeExternal(Layer& layer);
    void decodeSprite();
    void writeLayerOutput(const Layer& layer);
    void writeColorOffset(vdp2::LayerOutput& out, u32 bit) const;
    u32 specialCcMode(u32 layerBits, bool rgb);
    void updateLayer(Layer& layer, int v);
    void updateSprite(int v);
    void updateLineColor(int v);
    void updateBack(int v);

    // Windows.
    void setupWindow(int k);
    void computeWindows(int k, int v);
    const u8* windowPass(const vdp2::WindowControl& control, u8* scratch) const;
    // What windowPass last wrote into a pass buffer (m_passScratch, m_ccPass);
    // only windowPass writes them.
    struct WindowPassMemo {
        const u8* scratch = nullptr;
        const u8* span0 = nullptr;
        const u8* span1 = nullptr;
        u32 width = 0;
        u32 control = 0;
        bool operator==(const WindowPassMemo&) const = default;
    };
    mutable WindowPassMemo m_passMemo[2];

    // Normal scroll layers.
    bool normalLayerShown(const Layer& layer) const;
    void prepareNormalLine(Layer& layer, int v);
    void prepareCellScroll();
    void fetchNormal(Layer& layer, const u8* pass);
    template <int Mode, bool Bitmap> void fetchNormalLine(Layer& layer, const u8* pass);
    template <int Mode> void fetchCellRuns(Layer& layer, const u8* pass);
    template <int Mode> bool fetchBitmapRow(Layer& layer, const u8* pass);
    u32 nameAddress(const vdp2::MapGeometry& map, const Layer& layer, u32 col, u32 row) const;

    // Rotation layers.
    void readRotationTable(int set, int v, bool full);
    bool spriteRotated();
    void computeRotation(int set);
    void decodeRotationSet(int set, const Layer& layer);
    void fetchRotation(Layer& layer, const u8* pass);
    template <int Mode>
    void fetchRotationLine(Layer& layer, const u8* pass, u32 parameterMode, bool bitmap, bool single);
    template <int Mode, bool Bitmap, bool Single>
    void fetchRotationLine(Layer& layer, const u8* pass, u32 parameterMode);
    template <int Mode>
    void steadyRun(Layer& layer, const u8* pass, int set, u32 begin, u32 end);
    template <int Mode>
    void fetchRotationTwoSets(Layer& layer, const u8* pass, u32 parameterMode);
    // Whether a parameter set of 'sets' (bit 0 A, bit 1 B) takes line colours from its coefficients.
    bool coefficientLineColors(u32 sets) const;

    // Sprite and external layers.
    struct SpriteLine {
        const u8* pixels;
        s64 x, y, stepX, stepY;
        s32 width, height;
        u32 rowShift;
        bool eightBit;
    };
    void fetchSprite();
    const u8* readSpriteDots(const SpriteLine& line);
    template <u32 Type> void fetchSpriteLine(const u8* raw);
    void clearSpriteWindow();
    void fetchExternal(Layer& layer, const u8* pass);

    // Compositor.
    bool neverShown(const Layer& layer) const;
    bool windowHidesLine(const u8* pass) const;
    static u32 nearestKey(const Layer& layer);
    const u8* neededDots(const Layer& layer);
    void composeNormal(u32 x0, u32 count, u32* row);
    void selectLayers(u32 x0, u32 end);
    void lineRules(vdp2::LineRules& rules) const;
    bool composePacked(u32 x0, u32 count, u32* row);
    void composeHighResolution(u32 x0, u32 count, u32* row, u32 y);
    u32 mix(u32 row, u32 a, u32 b, u32 c) const;

    VDP1* m_vdp1;
    const FrameBufferInfo* m_spriteFrame = nullptr;
    SMPC* m_smpc;
    Device* m_external;
    u8* m_vram;
    u8* m_colorRam;
    u8 m_vramSizeFlag;
    u8 m_version;

    u16 m_regs[kRegisterWords] = {};
    // Settings whose registers changed since they were last decoded, and
    // layers decoded since their output record was last written.
    u32 m_stale = kStaleAll;
    u32 m_outputStale = kStaleAll;
    u32 m_vramMask = kVramSize - 1;
    u8 m_pal = 0;
    DisplaySize m_size{320, 224};
    u32 m_screenMode = 0;
    u8 m_displayOn = 0;
    u8 m_field = 0;
    u32 m_interlace = 0;
    s32 m_rasterLine = 0;

    // Layers, by layer number for the scroll ones.
    Layer m_nbg0{"VDP2.NBG0", vdp2::kNbg0};
    Layer m_nbg1{"VDP2.NBG1", vdp2::kNbg1};
    Layer m_nbg2{"VDP2.NBG2", vdp2::kNbg2};
    Layer m_nbg3{"VDP2.NBG3", vdp2::kNbg3};
    Layer m_rbg0{"VDP2.RBG0", vdp2::kRbg0};
    Layer m_rbg1{"VDP2.RBG1", vdp2::kRbg1};
    Layer m_exbg{"VDP2.EXBG", vdp2::kExbg};
    Layer* m_layers[7] = {&m_nbg0, &m_nbg1, &m_nbg2, &m_nbg3, &m_rbg0, &m_rbg1, &m_exbg};
    SpriteLayer m_sprite;
    Object m_lineColorLayer{"VDP2.LNCL"};
    Object m_gradationLayer{"VDP2.GRAD"};
    Object m_backLayer{"VDP2.BACK"};
    u8 m_backEnable = 0;
    Shortcuts::Vdp2 m_fastPaths;  // in the padding, so the line buffers keep their placement
    RotationParams m_rotation[2];

    // Line parameters from setupLineEffects.
    u32 m_colorRamMode = 0;
    u8 m_cycle[4][8] = {};
    u32 m_windowStartX[2] = {}, m_windowEndX[2] = {}, m_windowStartY[2] = {}, m_windowEndY[2] = {};
    u8 m_lineWindow[2] = {};
    u32 m_lineWindowTable[2] = {};
    const u8* m_windowSpan[2] = {};
    vdp2::WindowControl m_ccWindow;
    u8 m_rotationWindow = 0;
    u32 m_mosaicX = 0, m_mosaicY = 0;
    u32 m_cellScrollTable = 0;
    u8 m_specialTables[2][16] = {};
    u32 m_gradationTarget = vdp2::kBackRecord;
    u8 m_gradation = 0;
    u8 m_extended = 0;
    u32 m_ccMode = 0;
    u32 m_effectMode = 0;
    s32 m_offsetA[3] = {}, m_offsetB[3] = {};
    u8 m_shadowSelect = 0;
    u8 m_rbg1Enabled = 0;

    // What the layers fetched for the line.
    vdp2::LayerOutput m_outputs[vdp2::kRecords];
    vdp2::LineDots m_dots[6];
    vdp2::SpriteDots m_spriteDots;
    // Line colours that rotation coefficients give per dot: RBG0, RBG1.
    u32 m_coefficientLineColor[2][vdp2::kMaxLineDots];
    u8 m_coefficientLineColorUsed[2] = {};
    // Layers (a bit by number) whose dots all hide on the line, left
    // unfetched; in the padding before m_lineV, which keeps the buffers'
    // placement.
    u8 m_unfetched = 0;
    int m_lineV = 0;
    u8 m_passScratch[vdp2::kMaxLineDots];
    u8 m_passAll[vdp2::kMaxLineDots];
    u8 m_spriteRaw[2 * vdp2::kMaxLineDots];  // the line's dots, upper byte first
    u16 m_spriteIndex[vdp2::kMaxLineDots];  // each dot's decoded colour RAM entry
    bool m_spriteShadows = false;  // some sprite dot of the line is a shadow
    bool m_spriteWindowClear = true;  // no sprite-window bit is set
    u8 m_ccPass[vdp2::kMaxLineDots];
    u8 m_ccPassAll = 1;
    u8 m_rotationSetB[vdp2::kMaxLineDots];
    u8 m_top[vdp2::kMaxLineDots], m_second[vdp2::kMaxLineDots], m_third[vdp2::kMaxLineDots],
        m_fourth[vdp2::kMaxLineDots];
    u32 m_constantColor[2][vdp2::kMaxLineDots];
    // The line's fetched keys, nearest layer first, and how many dots deep
    // the compositor looks (0: every layer's every dot is needed).
    const u8* m_fetched[8] = {};
    u32 m_fetchedCount = 0;
    u8 m_coverDepth = 0;
    u8 m_needed[vdp2::kMaxLineDots];
    // The cell fetch's scratch: each group's palette base, place on the
    // line, row address and flags.
    u32 m_runBase[vdp2::kMaxLineDots / 8], m_runAt[vdp2::kMaxLineDots / 8], m_runRow[vdp2::kMaxLineDots / 8];
    u8 m_runFlags[vdp2::kMaxLineDots / 8];
    // The plain compositor's three highest words of each dot.
    u32 m_packedPlaces[3][vdp2::kMaxLineDots];

    // Colour RAM decoded for the dot loops, and the colour RAM it was
    // decoded from. Before a line only the 64-byte blocks written since are
    // compared; the frame start compares every block, which catches writers
    // that bypass both the bus and colorRamChanged.
    u32 m_palette[2048] = {};
    u8 m_paletteMsb[2048] = {};
    u32 m_paletteMask = 0x3FF;
    u32 m_paletteMode = ~0u;
    u8 m_colorRamCopy[kColorRamSize] = {};
    u64 m_colorRamDirty = ~u64{0};

    // Tables built once by the constructor.
    u16 m_mosaic[16][4096];
    u8 m_offsetTable[512][256];
    u32 m_highResolutionLast[2] = {};
    // What the gradation log calls its target.
    const char* m_gradationLabel = "NULL";
    // The VRAM banks RBG0's data holds this line.
    vdp2::RotationBanks m_rotationBanks;
    ShortcutUses m_shortcutUses;
};
