#include "video/vdp1/vdp1.h"

#include <algorithm>

#include "board/scu/scu.h"
#include "core/base/cpu.h"
#include "core/base/shared_state.h"
#include "video/color_tables.h"

namespace {

bool isSlave(const CPU* cpu)
{
    return cpu && (cpu->getIndex() & 1);
}

// The slave's reads are logged, EDSR's word reads aside.
bool slaveLogs(const CPU* cpu, u32 a, u32 width)
{
    return isSlave(cpu) && !(width == 2 && (a & 0xFFFF) == VDP1::kEDSR);
}

}  // namespace

VDP1::VDP1(SCU* scu, u8* memory, u32 version)
    : Device("VDP1"), m_scu(scu), m_memory(memory), m_frameBuffers(memory + kVramSize), m_version(version)
{
    for (u32 g = 0; g < 32; ++g) {
        for (u32 c = 0; c < 32; ++c)
            m_gouraudTable[c | g << 5] = static_cast<u8>(std::clamp<s32>(static_cast<s32>(c + g) - 16, 0, 31));
    }
    m_uclipMaskX = m_uclipMaskY = getSpanMask(0, 511);
}

bool VDP1::setup(u32)
{
    m_displayBuffer = m_frameBuffers;
    m_drawBuffer = m_frameBuffers + kFrameBufferSize;
    return true;
}

void VDP1::powerOn()
{
    m_reg = Registers{};
    m_reg.MODR = static_cast<u16>(m_version << 12);
    reset();
}

void VDP1::reset()
{
    m_returnAddress = kNoReturn;
    m_transparentCode = m_endCode = -1;
    m_die = m_dil = m_fcm = m_fct = 0;
    m_changeRequest = m_eraseRequest = 0;
    m_firstLine = m_drawStarted = 0;
    // The pointers follow the index, so the bus window and the sprite layer
    // agree on which half is shown.
    m_displayIndex = 0;
    setBufferPointers();
    m_frameWidth = 512;
    m_frameHeight = 256;
    m_eightBit = m_rotation = 0;
    m_rowShift = 9;
    m_uclip[0] = m_uclip[1] = 0;
    m_uclip[2] = 511;
    m_uclip[3] = 255;
    m_uclipMaskX = getSpanMask(0, 511);
    m_uclipMaskY = getSpanMask(0, 255);
    m_sclipCornerX = 511;
    m_sclipCornerY = 255;
    updateSystemClip();
    m_frameBufferInfo = {0, 0, m_displayBuffer, 0, 512, 256};
    setDrawState(kIdle);
}

void VDP1::setBufferPointers()
{
    m_displayBuffer = m_frameBuffers + m_displayIndex * kFrameBufferSize;
    m_drawBuffer = m_frameBuffers + (m_displayIndex ^ 1) * kFrameBufferSize;
}

u32 VDP1::execute(u32 clocks)
{
    if (m_drawState == kIdle) {
        m_clocksLeft = 0;
        return clocks;
    }
    runCommands();
    return static_cast<u32>(m_budget - m_clocksLeft);
}

AccessHandlers VDP1::getAccessHandlers(int area)
{
    switch (area) {
    case kVram: {
        AccessHandlers h{m_memory,
                         [](void* o, CPU*, u32 a) { return static_cast<u8*>(o)[a & kVramMask]; },
                         [](void* o, CPU*, u32 a, u8 d) { static_cast<u8*>(o)[a & kVramMask] = d; },
                         [](void* o, CPU*, u32 a) { return loadBe16(static_cast<u8*>(o) + (a & 0x7FFFE)); },
                         [](void* o, CPU*, u32 a, u16 d) { storeBe16(static_cast<u8*>(o) + (a & 0x7FFFE), d); },
                         [](void* o, CPU*, u32 a) { return loadBe32(static_cast<u8*>(o) + (a & 0x7FFFC)); },
                         [](void* o, CPU*, u32 a, u32 d) { storeBe32(static_cast<u8*>(o) + (a & 0x7FFFC), d); }};
        // Nothing watches the command and texture memory: a processor may
        // reach it in place.
        h.ram = m_memory;
        h.ramMask = kVramMask;
        return h;
    }
    case kFrameBuffer:
        return {this, readBufferByte, writeBufferByte, readBufferWord, writeBufferWord, readBufferLong,
                writeBufferLong};
    case kRegisters: {
        AccessHandlers h{this, readRegisterByte, writeRegisterByte, readRegisterWord, writeRegisterWord,
                         readRegisterLong, writeRegisterLong};
        h.steadyRead = steadyRegister;
        return h;
    }
    default:
        return {};
    }
}

// The window always shows the half that is being drawn.
u8 VDP1::readBufferByte(void* o, CPU*, u32 a)
{
    return static_cast<VDP1*>(o)->m_drawBuffer[a & kFrameBufferMask];
}

void VDP1::writeBufferByte(void* o, CPU*, u32 a, u8 d)
{
    static_cast<VDP1*>(o)->m_drawBuffer[a & kFrameBufferMask] = d;
}

u16 VDP1::readBufferWord(void* o, CPU*, u32 a)
{
    auto* v = static_cast<VDP1*>(o);
    const u16 d = loadBe16(v->m_drawBuffer + (a & 0x3FFFE));
    if ((a & 0xFFFFE) == 0x80000 || (a & 0xFFFFE) == 0xBFFFE)
        v->logDebug(2, "RW from frame buffer at [A: %08X, D: %04X, FBUF%d, scanline: %d]", a, d, v->m_displayIndex,
                    currentScanline);
    return d;
}

void VDP1::writeBufferWord(void* o, CPU*, u32 a, u16 d)
{
    auto* v = static_cast<VDP1*>(o);
    if ((a & 0xFFFFE) == 0x80000 || (a & 0xFFFFE) == 0xBFFFE)
        v->logWarning(2, "WW to frame buffer at [A: %08X, D: %04X, FBUF%d, scanline: %d]", a, d, v->m_displayIndex,
                      currentScanline);
    storeBe16(v->m_drawBuffer + (a & 0x3FFFE), d);
}

u32 VDP1::readBufferLong(void* o, CPU*, u32 a)
{
    return loadBe32(static_cast<VDP1*>(o)->m_drawBuffer + (a & 0x3FFFC));
}

void VDP1::writeBufferLong(void* o, CPU*, u32 a, u32 d)
{
    storeBe32(static_cast<VDP1*>(o)->m_drawBuffer + (a & 0x3FFFC), d);
}

u16 VDP1::readRegisterWord(void* o, CPU* cpu, u32 a)
{
    auto* v = static_cast<VDP1*>(o);
    if (slaveLogs(cpu, a, 2))
        v->logError(1, "Slave SH2: RW [A:%08X]", a);
    return v->readRegister(cpu, a);
}

void VDP1::writeRegisterWord(void* o, CPU* cpu, u32 a, u16 d)
{
    auto* v = static_cast<VDP1*>(o);
    if (isSlave(cpu))
        v->logError(1, "Slave SH2: WW [A:%08X, D: %04X]", a, d);
    v->writeRegister(cpu, a, d);
}

u8 VDP1::readRegisterByte(void* o, CPU* cpu, u32 a)
{
    auto* v = static_cast<VDP1*>(o);
    if (slaveLogs(cpu, a, 1))
        v->logError(1, "Slave SH2: RB [A:%08X]", a);
    u32 value = 0;
    v->peek(a, 1, value);
    return static_cast<u8>(value);
}

void VDP1::writeRegisterByte(void* o, CPU* cpu, u32 a, u8 d)
{
    auto* v = static_cast<VDP1*>(o);
    if (isSlave(cpu))
        v->logError(1, "Slave SH2: WB [A:%08X, D: %02X]", a, d);
    v->logError(1, "Bad WB [A: %08X, D: %02X], prohibited!", a, d);
}

u32 VDP1::readRegisterLong(void* o, CPU* cpu, u32 a)
{
    return u32{readRegisterWord(o, cpu, a)} << 16 | readRegisterWord(o, cpu, a + 2);
}

void VDP1::writeRegisterLong(void* o, CPU* cpu, u32 a, u32 d)
{
    writeRegisterWord(o, cpu, a, static_cast<u16>(d >> 16));
    writeRegisterWord(o, cpu, a + 2, static_cast<u16>(d));
}

u16 VDP1::readRegister(CPU*, u32 address)
{
    u16 value = 0;
    if (!peekRegister(address, value))
        logWarning(1, "Bad RW [A: %08X]", address);
    return value;
}

// A word that reads back, as read; false for the others.
bool VDP1::peekRegister(u32 address, u16& value) const
{
    switch (address & 0xFFFF) {
    case kEDSR: value = m_reg.EDSR & 3; return true;
    case kLOPR: value = m_reg.LOPR & 0xFFFC; return true;
    case kCOPR: value = m_reg.COPR & 0xFFFC; return true;
    case kMODR: value = m_reg.MODR & 0xF1FF; return true;
    default: return false;
    }
}

// What a read of that width answers where no word it covers is a bad
// read: bytes outside the status words read 0; false where the read warns.
bool VDP1::peek(u32 a, u32 width, u32& value) const
{
    u16 high = 0, low = 0;
    switch (width) {
    case 1: {
        const u32 offset = a & 0xFFFF;
        value = 0;
        if (offset >= kEDSR && offset <= kMODR + 1) {
            peekRegister(a & ~1u, low);
            value = (offset & 1) ? low & 0xFF : low >> 8;
        }
        return true;
    }
    case 2:
        if (!peekRegister(a, low))
            return false;
        value = low;
        return true;
    default:
        if (!peekRegister(a, high) || !peekRegister(a + 2, low))
            return false;
        value = u32{high} << 16 | low;
        return true;
    }
}

// The status words change as the VDP1 draws, in its own slice, at frame
// changes and through writes; reading them changes nothing.
bool VDP1::steadyRegister(void* o, const CPU* cpu, u32 a, u32 width, u32& value)
{
    return !slaveLogs(cpu, a, width) && static_cast<const VDP1*>(o)->peek(a, width, value);
}

void VDP1::writeRegister(CPU*, u32 address, u16 data)
{
    switch (address & 0xFFFF) {
    case kTVMR:
        writeTVMR(data);
        break;
    case kFBCR:
        writeFBCR(data);
        break;
    case kPTMR:
        writePTMR(data);
        break;
    case kEWDR:
        m_reg.EWDR = data;
        break;
    case kEWLR:
        m_reg.EWLR = data & 0x7FFF;
        break;
    case kEWRR:
        m_reg.EWRR = data;
        break;
    case kENDR:
        forceEnd();
        break;
    default:
        logWarning(1, "Bad WW [A: %08X, D: %04X]", address, data);
        break;
    }
}

void VDP1::setFrameSize(u32 tvm)
{
    switch (tvm) {
    case 0:
    case 2:
    case 4:
        m_frameWidth = 512;
        m_frameHeight = 256;
        break;
    case 1:
        m_frameWidth = 1024;
        m_frameHeight = 256;
        break;
    case 3:
        m_frameWidth = 512;
        m_frameHeight = 512;
        break;
    default:  // 5-7 keep the size they find
        break;
    }
}

void VDP1::writeTVMR(u16 data)
{
    if (m_firstLine)
        logWarning(2, "Setting TVMR in the first line is prohibited");
    m_reg.TVMR = data & 0xF;
    m_eightBit = data & 1;
    m_rotation = (data >> 1) & 1;
    setFrameSize(data & 7);
    updateSystemClip();
    m_rowShift = (data & 7) == 1 ? 10 : 9;
    m_reg.MODR = static_cast<u16>((m_reg.MODR & ~0xF) | (data & 0xF));
}

int VDP1::getChangeMode() const
{
    return ((((m_reg.TVMR >> 3) & 1) * 2 | m_fcm) * 2) | m_fct;
}

void VDP1::writeFBCR(u16 data)
{
    logError(2, "Write FBCR [D: %04X]", data);
    if (m_firstLine)
        logWarning(2, "Setting FBCR in the first line is prohibited");
    m_reg.FBCR = static_cast<u16>((m_reg.FBCR & ~0x1C) | (data & 0x1C));
    m_eos = (data >> 4) & 1;
    m_die = (data >> 3) & 1;
    m_dil = (data >> 2) & 1;
    m_fcm = (data >> 1) & 1;
    m_fct = data & 1;
    const int mode = getChangeMode();
    switch (mode) {
    case 0:
        m_changeRequest = m_eraseRequest = 0;
        break;
    case 2:
        m_eraseRequest = 1;
        logWarning(2, "Manual erase set [mode: 2, scanline: %d]", currentScanline);
        break;
    case 3:
        m_changeRequest = 1;
        logInfo(2, "Manual change frame set [mode: 3, scanline: %d]", currentScanline);
        break;
    case 7:
        m_changeRequest = 1;
        m_eraseRequest = 0;
        logDebug(2, "Manual change frame and erase set [mode: 7, TVMR: %04X, EWLR: %04X, EWRR: %04X]", m_reg.TVMR,
                 m_reg.EWLR, m_reg.EWRR);
        break;
    default:
        logError(2, "Invalid change mode [mode: %d]", mode);
        break;
    }
    m_reg.MODR = static_cast<u16>((m_reg.MODR & ~0xE0) | (data & 0x1C) << 3);
}

void VDP1::writePTMR(u16 data)
{
    m_reg.PTMR = data & 3;
    m_reg.MODR = static_cast<u16>((m_reg.MODR & ~0x100) | ((m_reg.PTMR >> 1) & 1) << 8);
    if (m_reg.PTMR == 1) {
        logTrace(2, "Start drawing when 1 is written to PTMR [scanline: %d]", currentScanline);
        startDraw();
    }
}

void VDP1::onVBlankIn()
{
    logWarning(2, "------------------------------------------------------------------------");
    logInfo(2, "V-BLANK-IN");
}

void VDP1::onVBlankOut()
{
    const int mode = getChangeMode();
    switch (mode) {
    case 0:
        erase();
        break;
    case 2:
        if (m_eraseRequest) {
            erase();
            m_eraseRequest = 0;
            logError(2, "Manual erase [PTM: %d]", m_reg.PTMR);
        }
        break;
    case 3:
        break;
    case 7:
        erase();
        logWarning(2, "VBE");
        break;
    default:
        logWarning(1, "Invalid change mode [mode: %d]", mode);
        break;
    }
    if (m_reg.FBCR & 8)
        logError(2, "Double interlace is enabled, draw only %s lines", (m_reg.FBCR & 4) ? "odd" : "even");
    logError(2, "V-BLANK-OUT");
    logInfo(2, "------------------------");
}

void VDP1::onHBlankIn(int line)
{
    if (line != 0 && line != -1) {
        m_firstLine = 0;
        return;
    }
    m_firstLine = 1;
    checkFrameChange();
}

void VDP1::checkFrameChange()
{
    m_reg.MODR = static_cast<u16>((m_reg.MODR & ~0x10) | m_fcm << 4);
    const int mode = getChangeMode();
    switch (mode) {
    case 0:
        swapFrameBuffers();
        logWarning(2, "1-cycle mode [PTM: %d, scanline; %d]", m_reg.PTMR, currentScanline);
        break;
    case 2:
        break;
    case 3:
        if (m_changeRequest) {
            swapFrameBuffers();
            m_changeRequest = 0;
            logWarning(2, "Manual change [mode: 3, DISP_FBUF: %d, scanline: %d]", m_displayIndex, currentScanline);
        }
        break;
    case 7:
        if (m_changeRequest) {
            swapFrameBuffers();
            m_changeRequest = 0;
            logWarning(2, "Manual erase and change");
        }
        break;
    default:
        logWarning(1, "Invalid change mode [mode: %d]", mode);
        break;
    }
    if (m_drawStarted) {
        m_reg.EDSR >>= 1;
        m_drawStarted = 0;
    }
}

void VDP1::swapFrameBuffers()
{
    m_displayIndex ^= 1;
    setBufferPointers();
    m_reg.LOPR = m_reg.COPR;
    if (m_reg.PTMR == 2)
        startDraw();
    m_drawStarted = 1;
}

void VDP1::erase()
{
    const s32 unit = m_eightBit ? 16 : 8;
    s32 left = ((m_reg.EWLR >> 9) & 0x3F) * unit;
    s32 right = ((m_reg.EWRR >> 9) & 0x7F) * unit - 1;
    s32 top = m_reg.EWLR & 0x1FF;
    s32 bottom = m_reg.EWRR & 0x1FF;
    if (m_die) {
        top = top * 2 + 1;
        bottom = bottom * 2 + 1;
    }
    if (left >= m_sclip_x || top >= m_sclip_y) {
        logWarning(1, "ERASE<OUT> [left: %d, top: %d, right: %d, bottom: %d, m_sclip.x: %d, m_sclip.y: %d]", left, top,
                   right, bottom, m_sclip_x, m_sclip_y);
        return;
    }
    logDebug(2, "ERASE [EWDR: %04X, EWLR: %04X, EWRR: %04X, left: %d, top: %d, right: %d, bottom: %d]", m_reg.EWDR,
             m_reg.EWLR, m_reg.EWRR, left, top, right, bottom);
    right = std::min(right, m_sclip_x - 1);
    bottom = std::min(bottom, m_sclip_y - 1);
    if (m_eightBit) {
        left >>= 1;
        right >>= 1;
    }
    if (m_die) {
        top >>= 1;
        bottom >>= 1;
    }
    right = std::max(right, left);
    bottom = std::max(bottom, top);
    const s32 pitch = !m_eightBit ? 512 : m_frameWidth == 512 ? 256 : 512;
    // A frame size kept from another mode may describe more rows than the
    // 256 KB half holds.
    const s32 rows = static_cast<s32>(kFrameBufferSize / 2) / pitch;
    bottom = std::min(bottom, rows - 1);
    right = std::min(right, pitch - 1);
    const u8 high = static_cast<u8>(m_reg.EWDR >> 8);
    const u8 low = static_cast<u8>(m_reg.EWDR);
    for (s32 y = top; y <= bottom; ++y) {
        u8* row = m_displayBuffer + 2 * y * pitch;
        for (s32 x = left; x <= right; ++x) {
            row[2 * x] = high;
            row[2 * x + 1] = low;
        }
    }
}

const FrameBufferInfo* VDP1::getDisplayFrameBuffer()
{
    m_frameBufferInfo.rotation = m_rotation;
    m_frameBufferInfo.eightBit = m_eightBit;
    m_frameBufferInfo.pixels = m_displayBuffer;
    m_frameBufferInfo.reserved = 0;
    m_frameBufferInfo.width = m_frameWidth;
    // The sprite layer reads whole rows; a kept frame size must not lead it
    // past the 256 KB half.
    const s32 rowBytes = m_frameWidth << (m_eightBit ? 0 : 1);
    m_frameBufferInfo.height = std::min(m_frameHeight, static_cast<s32>(kFrameBufferSize) / rowBytes);
    return &m_frameBufferInfo;
}

void VDP1::startDraw()
{
    m_drawStarted = 1;
    m_commandPointer = 0;
    m_returnAddress = kNoReturn;
    std::fill(std::begin(m_drawSwitch), std::end(m_drawSwitch), layerDebugSwitches[kSpriteLayerSwitch]);
    setDrawState(kDrawing);
}

void VDP1::forceEnd()
{
    m_reg.ENDR = 0;
    setDrawState(kIdle);
    m_reg.EDSR |= 2;
    if (m_scu)
        m_scu->spriteDrawEnd();
    logDebug(1, "END<FORCE> [EDSR: %04X, ramptr: %08X, scanline: %d]", m_reg.EDSR, m_commandPointer,
             currentScanline);
}
