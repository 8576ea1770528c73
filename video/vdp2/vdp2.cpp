#include "video/vdp2/vdp2.h"

#include <cstring>

#include "core/base/shared_state.h"

namespace {

constexpr u16 kTvmdDisplayOn = 0x8000;
constexpr u16 kCcctlGradation = 0x8000;

constexpr u32 kWidthNormal[4] = {320, 352, 640, 704};
constexpr u32 kHeightNtsc[4] = {224, 240, 224, 240};
constexpr u32 kHeightPal[4] = {224, 240, 256, 256};
constexpr u32 kHighResolutionHeight = 480;

}  // namespace

VDP2::VDP2(VDP1* vdp1, SMPC* smpc, Device* external, u8* vram, u8* colorRam, u8 vramSizeFlag, u8 version)
    : Device("VDP2"),
      m_vdp1(vdp1),
      m_smpc(smpc),
      m_external(external),
      m_vram(vram),
      m_colorRam(colorRam),
      m_vramSizeFlag(vramSizeFlag),
      m_version(version)
{
    // The VRAM array is 512 KB whatever the size flag says: a 1 MB mask
    // would let layer fetches run past it, so the flag only shows in VRSIZE.
    m_vramMask = kVramSize - 1;
    buildTables();
    std::memset(layerDebugSwitches, 1, sizeof layerDebugSwitches);
}

bool VDP2::setup(u32)
{
    reset();
    return true;
}

void VDP2::powerOn()
{
    reset();
}

void VDP2::reset()
{
    std::memset(m_regs, 0, sizeof m_regs);
    regRef(VRSIZE) = static_cast<u16>((m_vramSizeFlag ? 0x8000 : 0) | (m_version & 0xF));
    for (vdp2::LayerOutput& out : m_outputs)
        out.reset();
    for (Layer* layer : m_layers) {
        layer->active = 0;
        layer->lastLine = -1;
    }
    m_sprite.active = 0;
    m_rotation[0] = m_rotation[1] = RotationParams{};
    m_ccMode = m_effectMode = 0;
    m_gradation = m_extended = 0;
    m_gradationTarget = vdp2::kBackRecord;
    m_highResolutionLast[0] = m_highResolutionLast[1] = 0;
    m_stale = m_outputStale = kStaleAll;
    colorRamChanged();
}

void VDP2::setVideoStandard(bool pal)
{
    m_pal = pal ? 1 : 0;
    m_size = {320, pal ? 256u : 224u};
}

void VDP2::onVBlankIn()
{
    regRef(TVSTAT) |= kTvstatVBlank;
}

void VDP2::onVBlankOut(u8 field)
{
    const u16 tvmd = reg(TVMD);
    m_displayOn = (tvmd & kTvmdDisplayOn) ? 1 : 0;
    m_field = field;
    m_interlace = (tvmd >> 6) & 3;
    u16 status = reg(TVSTAT) & ~(kTvstatPal | kTvstatOdd | kTvstatVBlank);
    // Without interlace every field counts as odd.
    if (!(m_interlace != 0 && field == 0))
        status |= kTvstatOdd;
    if (m_pal)
        status |= kTvstatPal;
    // With the display off the blanking lasts the whole field.
    if (!m_displayOn)
        status |= kTvstatVBlank;
    regRef(TVSTAT) = status;
}

void VDP2::onHBlankIn(int)
{
    regRef(TVSTAT) |= kTvstatHBlank;
}

void VDP2::onHBlankOut(int line)
{
    regRef(TVSTAT) &= static_cast<u16>(~kTvstatHBlank);
    m_rasterLine = line;

    // The machine counts two per line, starting at 0 (even field) or -1
    // (odd field); the first display line follows the blanking lines.
    int y;
    switch (m_interlace) {
    case 0: y = (line - 3) >> 1; break;
    case 1: y = 0; break;
    default: y = line - 1; break;
    }
    if (y < 0 || static_cast<u32>(y) >= m_size.height)
        return;

    const u32 row = static_cast<u32>(y);
    if (m_screenMode & 4)
        regRef(VCNT) = static_cast<u16>(row & 0x3FF);
    else if (m_interlace == 3)
        regRef(VCNT) = static_cast<u16>(((row & 0x1FF) << 1) | (m_field ^ 1));
    else
        regRef(VCNT) = static_cast<u16>((row & 0x1FF) << 1);

    if (!m_displayOn)
        return;
    if (y == 0)
        beginFrame();
    setupLine(y);
    if (y == 0)
        logFrameStart();
    drawLine(y);
    if (reg(CCCTL) & kCcctlGradation)
        logError(2, "CCCTL: %04X, LNCLEN: %04X, y: %d", reg(CCCTL), reg(LNCLEN), line);
}

void VDP2::computeDisplaySize()
{
    const u16 tvmd = reg(TVMD);
    if (m_screenMode < 4) {
        const u32 vreso = (tvmd >> 4) & 3;
        u32 height = m_pal ? kHeightPal[vreso] : kHeightNtsc[vreso];
        if (((tvmd >> 6) & 3) >= 2)
            height *= 2;
        m_size = {kWidthNormal[m_screenMode], height};
        return;
    }
    if (m_screenMode >= 6)
        logError(1, "Special High-Resolution Graphics Mode, need more work!");
    m_size = {(m_screenMode & 1) ? 704u : 640u, kHighResolutionHeight};
}
