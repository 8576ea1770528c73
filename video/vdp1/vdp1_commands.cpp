// The command-table walker: decoding, jumps, clipping and local coordinates,
// and the end of a draw.
#include <algorithm>

#include "board/scu/scu.h"
#include "core/base/shared_state.h"
#include "video/color_tables.h"
#include "video/vdp1/vdp1.h"

namespace {

constexpr u32 kTableBytes = 32;
constexpr int kCommandCount = 12;

enum Offset : u32 {
    kCMDCTRL = 0x00, kCMDLINK = 0x02, kCMDPMOD = 0x04, kCMDCOLR = 0x06, kCMDSRCA = 0x08, kCMDSIZE = 0x0A,
    kXA = 0x0C, kYA = 0x0E, kXB = 0x10, kYB = 0x12, kXC = 0x14, kYC = 0x16, kXD = 0x18, kYD = 0x1A, kCMDGRDA = 0x1C,
};

const char* const kCommandNames[kCommandCount] = {"SPRITE_N", "SPRITE_S", "SPRITE_D", "SPRITE_D", "POLYGON",
                                                  "POLYLINE", "LINE",     "POLYLINE", "UCLIP",    "SCLIP",
                                                  "LOCAL",    "UCLIP"};
// Which draw switch a drawing command obeys.
const int kSwitchOf[8] = {0, 1, 2, 2, 3, 4, 5, 4};

bool inRange(s32 x, s32 y)
{
    return x >= -2048 && x <= 2047 && y >= -1024 && y <= 1023;
}

// One axis of a scaled sprite from its point a, display size b and far
// corner c, by the zoom point's two bits for the axis.
void placeScaled(u32 zoom, s32 a, s32 b, s32 c, s32& lo, s32& hi)
{
    switch (zoom) {
    case 1:
        lo = a;
        hi = a + b;
        break;
    case 2:
        lo = a - (b >> 1);
        hi = a + ((b + 1) >> 1);
        break;
    case 3:
        lo = a - b;
        hi = a;
        break;
    default:
        lo = a;
        hi = c;
        break;
    }
}

}  // namespace

VDP1::EdgeStep VDP1::EdgeStep::at(const Vertex& v)
{
    EdgeStep c;
    c.x.val = static_cast<s32>(static_cast<u32>(v.x) << 19 | 1u << 18);
    c.y.val = static_cast<s32>(static_cast<u32>(v.y) << 20 | 1u << 19);
    c.r.val = static_cast<s32>(static_cast<u32>(v.r) << 26 | 1u << 25);
    c.g.val = static_cast<s32>(static_cast<u32>(v.g) << 26 | 1u << 25);
    c.b.val = static_cast<s32>(static_cast<u32>(v.b) << 26 | 1u << 25);
    return c;
}

void VDP1::EdgeStep::advance(s32 steps)
{
    for (Pair* p : {&x, &y, &r, &g, &b})
        p->val = static_cast<s32>(p->val + s64{p->inc} * steps);
}

void VDP1::EdgeStep::negate()
{
    for (Pair* p : {&x, &y, &r, &g, &b})
        p->inc = -p->inc;
}

u16 VDP1::vramWord(u32 address) const
{
    return loadBe16(m_memory + (address & (kVramMask & ~1u)));
}

void VDP1::updateSystemClip()
{
    m_sclip_x = std::min(m_frameWidth, std::max(m_sclipCornerX, 0) + 1);
    m_sclip_y = std::min(m_frameHeight * (m_die ? 2 : 1), std::max(m_sclipCornerY, 0) + 1);
}

void VDP1::runCommands()
{
    while (m_clocksLeft >= 1) {
        m_reg.COPR = static_cast<u16>(m_commandPointer >> 3);
        const u16 ctrl = vramWord(m_commandPointer + kCMDCTRL);
        if (ctrl & 0x8000) {
            END();
            return;
        }
        if (!(ctrl & 0x4000)) {
            const u32 code = ctrl & 0xF;
            if (code >= kCommandCount) {
                invalidCommand(ctrl);
                return;
            }
            runCommand(code);
        }
        jump();
    }
}

void VDP1::jump()
{
    const u16 ctrl = vramWord(m_commandPointer + kCMDCTRL);
    const u16 link = vramWord(m_commandPointer + kCMDLINK);
    const char* name = kCommandNames[std::min<u32>(ctrl & 0xF, kCommandCount - 1)];
    if ((ctrl & 0x3000) && (ctrl & 0x3000) != 0x3000 && (link & 3))
        logWarning(4, "CMDLINK: The lower 2 bits are not 0 [CMDLINK: %04X]", link);
    const u32 target = (u32{link} << 3) & kVramMask;
    m_clocksLeft -= 1;
    switch ((ctrl >> 12) & 3) {
    case 0:
        m_commandPointer = (m_commandPointer + kTableBytes) & kVramMask;
        logDebug(4, "%s [jump: %08X]", name, m_commandPointer);
        break;
    case 1:
        m_commandPointer = target;
        logDebug(4, "%s [jump: %08X]", name, m_commandPointer);
        break;
    case 2:
        if (m_returnAddress == kNoReturn) {
            // Masked like every table address, so a CALL from the last
            // table never returns to the marker.
            m_returnAddress = (m_commandPointer + kTableBytes) & kVramMask;
            m_commandPointer = target;
            m_clocksLeft -= 1;
            logDebug(4, "%s [jump: %08X, return: %08X]", name, m_commandPointer, m_returnAddress);
        } else {
            logWarning(1, "%s: Already in a subroutine", name);
            m_commandPointer = target;
        }
        break;
    default:
        if (m_returnAddress != kNoReturn) {
            m_commandPointer = m_returnAddress;
            m_returnAddress = kNoReturn;
            logDebug(4, "%s [return: %08X]", name, m_commandPointer);
        } else {
            m_commandPointer = (m_commandPointer + kTableBytes) & kVramMask;
            logWarning(1, "%s: Not in a subroutine", name);
        }
        break;
    }
}

void VDP1::END()
{
    m_reg.EDSR |= 2;
    setDrawState(kIdle);
    m_clocksLeft = 0;
    if (m_scu)
        m_scu->spriteDrawEnd();
    logDebug(3, "END [EDSR: %04X, ramptr: %08X, scanline: %d]", m_reg.EDSR, m_commandPointer, currentScanline);
}

void VDP1::invalidCommand(u16 ctrl)
{
    logWarning(2, "COMMAND<INVALID> [ramptr: %08X, CMDCTRL: %04X]", m_commandPointer, ctrl);
    setDrawState(kIdle);
    m_clocksLeft = 0;
}

void VDP1::runCommand(u32 code)
{
    const char* name = kCommandNames[code];
    switch (code) {
    case 8:
        UCLIP(name, false);
        return;
    case 11:
        UCLIP(name, true);
        return;
    case 9:
        SCLIP(name);
        return;
    case 10:
        LOCAL(name);
        return;
    default:
        break;
    }
    if (!m_drawSwitch[kSwitchOf[code]])
        return;
    const bool sprite = code <= 3;
    decodeCommand(name, sprite);
    checkDrawMode(name, code);
    Vertex v[4];
    readVertices(code, v, code == 6 ? 2 : 4);
    setupColor(sprite);
    u32 clocks = 0;
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
        clocks = draw_sprite(name, v);
        break;
    case 4:
        clocks = draw_quad(name, v);
        break;
    case 5:
    case 7:
        clocks = draw_line(name, v[0], v[1]) + draw_line(name, v[1], v[2]) + draw_line(name, v[2], v[3]) +
                 draw_line(name, v[3], v[0]);
        break;
    default:
        clocks = draw_line(name, v[0], v[1]);
        break;
    }
    m_clocksLeft -= static_cast<s32>(clocks);
    m_lastClocks = clocks;
    if (code == 3 || code == 7)
        logWarning(1, "%s<UNDOC> [cycle: %d, v0(%d, %d), v1(%d, %d), v2(%d, %d), v3(%d, %d)]", name, clocks, v[0].x,
                   v[0].y, v[1].x, v[1].y, v[2].x, v[2].y, v[3].x, v[3].y);
    else if (code == 6)
        logDebug(4, "%s [cycle: %d, v0(%d, %d), v1(%d, %d)]", name, clocks, v[0].x, v[0].y, v[1].x, v[1].y);
    else if (code <= 1)
        logDebug(4, "%s [cycle: %d, clMode: %d, ccMode: %d, v0(%d, %d), v1(%d, %d), v2(%d, %d), v3(%d, %d)]", name,
                 clocks, m_cmd.colourMode, m_cmd.calcMode, v[0].x, v[0].y, v[1].x, v[1].y, v[2].x, v[2].y, v[3].x,
                 v[3].y);
    else
        logDebug(4, "%s [cycle: %d, v0(%d, %d), v1(%d, %d), v2(%d, %d), v3(%d, %d)]", name, clocks, v[0].x, v[0].y,
                 v[1].x, v[1].y, v[2].x, v[2].y, v[3].x, v[3].y);
}

void VDP1::decodeCommand(const char* name, bool sprite)
{
    const u32 p = m_commandPointer;
    Command& c = m_cmd;
    c.ctrl = vramWord(p + kCMDCTRL);
    c.direction = (c.ctrl >> 4) & 3;
    c.zoom = (c.ctrl >> 8) & 0xF;
    c.pmod = vramWord(p + kCMDPMOD);
    c.mon = (c.pmod >> 15) & 1;
    c.hss = (c.pmod >> 12) & 1;
    c.pclp = (c.pmod >> 11) & 1;
    c.clip = (c.pmod >> 10) & 1;
    c.cmod = (c.pmod >> 9) & 1;
    c.mesh = (c.pmod >> 8) & 1;
    c.ecd = (c.pmod >> 7) & 1;
    c.spd = (c.pmod >> 6) & 1;
    c.colourMode = (c.pmod >> 3) & 7;
    c.calcMode = c.pmod & 7;
    if (sprite) {
        const u16 size = vramWord(p + kCMDSIZE);
        c.width = std::max(((size >> 8) & 0x3F) * 8, 1);
        c.height = std::max(size & 0xFF, 1);
        const u16 srca = vramWord(p + kCMDSRCA);
        if (srca & 3)
            logWarning(2, "CMDSRCA: The lower 2 bits are not 0 [CMDSRCA: %04X]", srca);
        c.texture = u32{srca} << 3;
    }
    c.colr = vramWord(p + kCMDCOLR);
    if (!m_eightBit && !c.mon && (c.calcMode == 4 || c.calcMode == 6 || c.calcMode == 7))
        c.gouraud = u32{vramWord(p + kCMDGRDA)} << 3;
    (void)name;
}

void VDP1::checkDrawMode(const char* name, u32 code)
{
    const Command& c = m_cmd;
    const bool untextured = code >= 4;
    if ((code == 0 || untextured) && c.hss)
        logWarning(3, "%s: HSS is not 0", name);
    if (untextured) {
        if (!c.ecd)
            logWarning(3, "%s: ECD is not 1", name);
        if (!c.spd)
            logWarning(3, "%s: SPD is not 1", name);
        if (c.colourMode)
            logWarning(3, "%s: Color mode is not 0", name);
    }
    if (m_eightBit) {
        if (c.colourMode > 4)
            logWarning(1, "%s: Invalid color mode(8-bit) [clMode: %d]", name, c.colourMode);
    } else {
        if (c.colourMode > 5)
            logWarning(1, "%s: Invalid color mode(16-bit) [clMode: %d]", name, c.colourMode);
        if (c.calcMode == 5)
            logWarning(1, "%s: Invalid color calculation mode [ccMode: 5]", name);
    }
}

void VDP1::readVertices(u32 code, Vertex* v, int count)
{
    const u32 p = m_commandPointer;
    auto word = [&](u32 offset) { return static_cast<s32>(static_cast<s16>(vramWord(p + offset))); };
    if (code == 0) {
        const s32 x = word(kXA), y = word(kYA);
        v[0] = {x, y};
        v[1] = {x + m_cmd.width - 1, y};
        v[2] = {x + m_cmd.width - 1, y + m_cmd.height - 1};
        v[3] = {x, y + m_cmd.height - 1};
    } else if (code == 1) {
        s32 x0, x1, y0, y1;
        placeScaled(m_cmd.zoom & 3, word(kXA), word(kXB), word(kXC), x0, x1);
        placeScaled((m_cmd.zoom >> 2) & 3, word(kYA), word(kYB), word(kYC), y0, y1);
        v[0] = {x0, y0};
        v[1] = {x1, y0};
        v[2] = {x1, y1};
        v[3] = {x0, y1};
    } else {
        for (int i = 0; i < count; ++i)
            v[i] = {word(kXA + 4 * i), word(kYA + 4 * i)};
    }
    for (int i = 0; i < count; ++i) {
        v[i].x = std::clamp(v[i].x + m_localX, -2048, 2047);
        v[i].y = std::clamp(v[i].y + m_localY, -1024, 1023);
        const u16 g = vramWord(m_cmd.gouraud + 2 * i);
        v[i].r = g & 31;
        v[i].g = (g >> 5) & 31;
        v[i].b = (g >> 10) & 31;
    }
}

void VDP1::setupColor(bool sprite)
{
    const Command& c = m_cmd;
    m_clipValue = c.clip ? c.cmod : 1;
    m_clipOn = c.clip;
    m_calcMode = c.mon ? 8 : c.calcMode;
    m_meshOn = c.mesh;
    m_pclp = c.pclp;
    m_gouraudOn = !m_eightBit && (m_calcMode == 4 || m_calcMode == 6 || m_calcMode == 7);
    // Modes that read the frame buffer cost more per written pixel.
    m_writeCost = !m_eightBit && (m_calcMode == 1 || m_calcMode == 3 || m_calcMode == 7) ? 7 : 1;
    if (!sprite)
        return;
    m_texture = c.texture;
    static const u16 kBankMask[8] = {0xFFF0, 0, 0xFFC0, 0xFF80, 0xFF00, 0, 0, 0};
    m_bank = c.colr & kBankMask[c.colourMode];
    if (c.colourMode == 1) {
        if (c.colr & 3)
            logWarning(1, "%s: The lower 2 bits are not 0 [CLUT: %04X]", kCommandNames[c.ctrl & 0xF], c.colr);
        const u32 table = u32{c.colr & 0xFFFCu} << 3;
        for (u32 i = 0; i < 16; ++i)
            m_clut[i] = vramWord(table + 2 * i);
    }
    m_transparentCode = c.spd ? -1 : 0;
    static const s32 kEndCode[8] = {0xF, 0xF, 0xFF, 0xFF, 0xFF, 0x7FFF, -1, -1};
    m_endCode = c.ecd ? -1 : kEndCode[c.colourMode];
}

void VDP1::UCLIP(const char* name, bool warn)
{
    const u32 p = m_commandPointer;
    auto word = [&](u32 offset) { return static_cast<s32>(static_cast<s16>(vramWord(p + offset))); };
    const s32 xa = word(kXA), ya = word(kYA), xc = word(kXC), yc = word(kYC);
    m_uclip[0] = xa;
    m_uclip[1] = ya;
    m_uclip[2] = xc;
    m_uclip[3] = yc;
    if (xc < xa || yc < ya || xc < 0 || xa >= 1024 || yc < 0 || ya >= 1024) {
        m_uclipMaskX = m_uclipMaskY = getSpanMaskTable();
    } else {
        m_uclipMaskX = getSpanMask(static_cast<u32>(std::max(xa, 0)), static_cast<u32>(std::min(xc, 1023)));
        m_uclipMaskY = getSpanMask(static_cast<u32>(std::max(ya, 0)), static_cast<u32>(std::min(yc, 1023)));
    }
    if (!warn && inRange(xa, ya) && inRange(xc, yc) && xc >= xa && yc >= ya)
        logDebug(4, "%s [XA: %d, YA: %d, XC: %d, YC: %d]", name, xa, ya, xc, yc);
    else
        logWarning(1, "%s [XA: %d, YA: %d, XC: %d, YC: %d]", name, xa, ya, xc, yc);
    m_clocksLeft -= 1;
}

void VDP1::SCLIP(const char* name)
{
    const s32 xc = static_cast<s16>(vramWord(m_commandPointer + kXC));
    const s32 yc = static_cast<s16>(vramWord(m_commandPointer + kYC));
    m_sclipCornerX = xc;
    m_sclipCornerY = yc;
    updateSystemClip();
    if (inRange(xc, yc) && xc >= 0 && yc >= 0)
        logDebug(4, "%s [XC: %d, YC: %d]", name, xc, yc);
    else
        logWarning(1, "%s [XC: %d, YC: %d]", name, xc, yc);
    m_clocksLeft -= 1;
}

void VDP1::LOCAL(const char* name)
{
    m_localX = static_cast<s16>(vramWord(m_commandPointer + kXA));
    m_localY = static_cast<s16>(vramWord(m_commandPointer + kYA));
    if (inRange(m_localX, m_localY))
        logDebug(4, "%s [XA: %d, YA: %d]", name, m_localX, m_localY);
    else
        logWarning(1, "%s [XA: %d, YA: %d]", name, m_localX, m_localY);
    m_clocksLeft -= 1;
}
