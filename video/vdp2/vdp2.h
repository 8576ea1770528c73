#pragma once

#include "core/device.h"
#include "core/display_size.h"

class CDB;
class SMPC;
class VDP1;

// The background processor: its register file, VRAM and colour RAM windows,
// the TVSTAT/VCNT status it derives from the raster events, and the display
// size the host reads. It is not time-sliced; it acts only in the raster
// callbacks and in bus accesses.
//
// Layers and the line compositor come later: beginFrame, setupLine and
// drawLine are where they plug in, and today they draw nothing.
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
    VDP2(VDP1* vdp1, SMPC* smpc, CDB* cdb, u8* vram, u8* colorRam, u8 vramSizeFlag = 0, u8 version = 1);

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
    static void writeRegister8(void* owner, CPU* cpu, u32 a, u8 d);
    static void writeRegister16(void* owner, CPU* cpu, u32 a, u16 d);
    static void writeRegister32(void* owner, CPU* cpu, u32 a, u32 d);

    // The register file as stored (no read mask), for the layers and for
    // inspection; offsets past the file read 0.
    u16 reg(u32 offset) const { return offset <= kLastRegister ? m_regs[offset >> 1] : 0; }
    // Bits a word write keeps at that offset (0 for read-only and reserved words).
    static u16 writeMask(u32 offset);

    u8 palFlag() const { return m_pal; }
    u8 displayOn() const { return m_displayOn; }
    u8 field() const { return m_field; }
    u32 interlaceMode() const { return m_interlace; }
    u32 screenMode() const { return m_screenMode; }
    s32 rasterLine() const { return m_rasterLine; }
    // Address mask for the layers' VRAM arithmetic.
    u32 vramAddressMask() const { return m_vramMask; }

private:
    u16& regRef(u32 offset) { return m_regs[(offset >> 1) % kRegisterWords]; }
    u16 readWord(CPU* cpu, u32 a);
    void writeWord(CPU* cpu, u32 a, u16 d);
    void storeColorWord(u32 a, u16 d);
    static bool fromSlave(const CPU* cpu);

    void beginFrame();
    void computeDisplaySize();
    void setupLine(int y);
    void drawLine(int y);

    VDP1* m_vdp1;
    SMPC* m_smpc;
    CDB* m_cdb;
    u8* m_vram;
    u8* m_colorRam;
    u8 m_vramSizeFlag;
    u8 m_version;

    u16 m_regs[kRegisterWords] = {};
    u32 m_vramMask = kVramSize - 1;
    u8 m_pal = 0;
    DisplaySize m_size{320, 224};
    u32 m_screenMode = 0;
    u8 m_displayOn = 0;
    u8 m_field = 0;
    u32 m_interlace = 0;
    s32 m_rasterLine = 0;
};
