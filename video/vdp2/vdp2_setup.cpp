// VDP2 frame start and per-line set-up. Settings decoded from registers
// are kept until a register they come from is written (m_stale), so a write
// between two lines shows on the next one; tables in VRAM are read on every
// line that uses them.
#include <bit>
#include <cstdio>
#include <cstring>

#include "core/base/external_frame.h"
#include "core/base/shared_state.h"
#include "video/color_tables.h"
#include "video/vdp1/vdp1.h"
#include "video/vdp2/vdp2.h"
#include "video/vdp2/vdp2_fetch.h"

using namespace vdp2;

namespace {

constexpr u16 kCcctlGradation = 0x8000;
constexpr u16 kCcctlExtended = 0x0400;

// Gradation target record by CCCTL's BOKN; -1 marks the two invalid codes.
constexpr int kGradationRecord[8] = {5, 4, 3, -1, 2, 1, 0, -1};
// What the gradation log calls each target record.
constexpr const char* kGradationLabel[6] = {"NBG3", "NBG2", "NBG1/EXBG", "NBG0/RBG1", "RBG0", "SPRITE"};

s32 signExtend(u32 value, int bits)
{
    const u32 shift = 32 - bits;
    return static_cast<s32>(value << shift) >> shift;
}

u32 bits(u16 word, int first, int count)
{
    return (word >> first) & ((1u << count) - 1);
}

}  // namespace

VDP2::Layer::Layer(const char* layerName, u32 layerNumber)
    : Object(layerName), number(layerNumber), record(kRecordOfLayer[layerNumber])
{
}

VDP2::SpriteLayer::SpriteLayer() : Object("VDP2.SPRITE") {}

void WindowControl::decode(u32 byte)
{
    logic = (byte >> 7) & 1;
    any = 0;
    for (int k = 0; k < 3; ++k) {
        const u8 area = (byte >> (2 * k)) & 1;
        const u8 enabled = (byte >> (2 * k + 1)) & 1;
        mask[k] = enabled;
        flip[k] = enabled ? area : logic;
        any |= enabled;
    }
}

bool VDP2::layerActive(u32 layer) const
{
    if (layer < 7)
        return m_layers[layer]->active;
    if (layer == kSprite)
        return m_sprite.active;
    return false;
}

void VDP2::beginFrame()
{
    for (int i = 0; i < 7; ++i) {
        // The switches run NBG0-3, RBG0, RBG1, EXBG: the layer numbers.
        m_layers[i]->enable = layerDebugSwitches[i];
    }
    m_backEnable = layerDebugSwitches[7];
    m_sprite.enable = layerDebugSwitches[kSpriteLayerSwitch];
    m_screenMode = reg(TVMD) & 7;
    computeDisplaySize();
    // The screen mode, the interlace and the switches change only here.
    m_stale = kStaleAll;
    m_colorRamDirty = ~u64{0};
    setupLineEffects();
    if (m_rbg1Enabled && !m_rbg0.displayEnable)
        logWarning(1, "RBG1 is enabled but RBG0 is disabled");
    for (Layer* layer : m_layers)
        layer->lastLine = -1;
    m_rotation[0].lastLine = m_rotation[1].lastLine = -1;
}

// The registers and rotation parameter set A a frame starts with, for
// debugging (not shown at the default threshold).
void VDP2::logFrameStart() const
{
    if (!logs(2))
        return;
    const RotationParams& a = m_rotation[0];
    auto hex = [](s64 value) { return static_cast<unsigned>(value); };
    logWarning(2,
               "KTCTL: %04X, Xst: %08X, Yst: %08X, Zst: %08X, DXst: %08X, DYst: %08X, DX: %08X, DY: %08X, "
               "Px: %08X, Py: %08X, Pz: %08X, Cx: %08X, Cy: %08X, Cz: %08X, Mx: %08X, My: %08X, kx: %08X, "
               "ky: %08X, KAst: %08X, DKAst: %08X, DKAx: %08X, A: %08X, B: %08X, C: %08X, D: %08X, E: %08X, "
               "F: %08X",
               reg(KTCTL), hex(a.xst), hex(a.yst), hex(a.zst), hex(a.dxst), hex(a.dyst), hex(a.dx), hex(a.dy),
               hex(a.px), hex(a.py), hex(a.pz), hex(a.cx), hex(a.cy), hex(a.cz), hex(a.mx), hex(a.my), hex(a.kx),
               hex(a.ky), hex(a.kast), hex(a.dkast), hex(a.dkax), hex(a.a), hex(a.b), hex(a.c), hex(a.d),
               hex(a.e), hex(a.f));
    char spritePriority[24];
    std::snprintf(spritePriority, sizeof spritePriority, ", spPri0: %d", reg(PRISA) & 7);
    traceRegisters(spritePriority);
    logWarning(2, "TVMD: %04X, BGON: %04X, RPRCTL: %04X, KTCTL: %04X, KTAOF: %04X, SCRCTL: %04X, MZCTL: %04X",
               reg(TVMD), reg(BGON), reg(RPRCTL), reg(KTCTL), reg(KTAOF), reg(SCRCTL), reg(MZCTL));
}

// The display registers, for debugging; more ends the line.
void VDP2::traceRegisters(const char* more) const
{
    const u16 spctl = reg(SPCTL);
    logTrace(2,
             "crMode: %d, BGON: %04X, SDCTL: %04X, SPCTL: %04X, CCCTL: %04X, LNCLEN: %04X, WCTLA: %04X, "
             "WCTLB: %04X, WCTLC: %04X, WCTLD: %04X, WPSX0: %04X, WPSY0: %04X, WPEX0: %04X, WPEY0: %04X, "
             "SpType: %d, spclMode: %d%s",
             (reg(RAMCTL) >> 12) & 3, reg(BGON), reg(SDCTL), spctl, reg(CCCTL), reg(LNCLEN), reg(WCTLA),
             reg(WCTLB), reg(WCTLC), reg(WCTLD), reg(WPSX0), reg(WPSY0), reg(WPEX0), reg(WPEY0), spctl & 15,
             (spctl >> 5) & 1, more);
}

void VDP2::refreshDisplayEnables()
{
    const u16 bgon = reg(BGON);
    m_nbg0.displayEnable = bgon & 1;
    m_nbg1.displayEnable = (bgon >> 1) & 1;
    m_nbg2.displayEnable = (bgon >> 2) & 1;
    m_nbg3.displayEnable = (bgon >> 3) & 1;
    m_rbg0.displayEnable = (bgon >> 4) & 1;
    m_rbg1.displayEnable = (bgon >> 5) & 1;
    m_rbg1Enabled = m_rbg1.displayEnable;
    m_exbg.displayEnable = reg(EXTEN) & 1;
    m_ccWindow.decode(reg(WCTLD) >> 8);
}

void VDP2::setupLineEffects()
{
    m_stale &= ~kStaleEffects;
    refreshDisplayEnables();
    const u16 ramctl = reg(RAMCTL);
    m_colorRamMode = (ramctl >> 12) & 3;
    // RBG0's data banks (RDBS: a field of two bits per bank, A0 first). An
    // undivided VRAM-A or VRAM-B is one bank, set by its first field.
    m_rotationBanks.shift = m_vramMask > 0x7FFFF ? 18 : 17;
    m_rotationBanks.reserved = 0;
    if (m_rbg0.displayEnable && m_screenMode < 4) {
        for (u32 bank = 0; bank < 4; ++bank) {
            const bool divided = (ramctl >> (8 + (bank >> 1))) & 1;
            const u32 field = divided ? bank : bank & 2;
            if ((ramctl >> (2 * field)) & 3)
                m_rotationBanks.reserved |= 1u << bank;
        }
    }

    for (int bank = 0; bank < 4; ++bank) {
        const u16 low = reg(CYCA0L + bank * 4);
        const u16 high = reg(CYCA0L + bank * 4 + 2);
        for (int slot = 0; slot < 4; ++slot) {
            m_cycle[bank][slot] = (low >> (12 - 4 * slot)) & 15;
            m_cycle[bank][slot + 4] = (high >> (12 - 4 * slot)) & 15;
        }
    }

    setupWindow(0);
    setupWindow(1);
    m_ccWindow.decode(reg(WCTLD) >> 8);
    m_rotationWindow = static_cast<u8>(reg(WCTLD) & 0xFF);

    const u16 mzctl = reg(MZCTL);
    m_mosaicY = bits(mzctl, 12, 4);
    m_mosaicX = bits(mzctl, 8, 4);
    m_cellScrollTable = ((((u32{reg(VCSTAU)} << 15) | (reg(VCSTAL) >> 1)) & 0x3FFFF) * 4) & m_vramMask;

    const u16 code = reg(SFCODE);
    for (int t = 0; t < 2; ++t) {
        const u32 byte = (code >> (8 * t)) & 0xFF;
        for (int i = 0; i < 8; ++i)
            m_specialTables[t][2 * i] = m_specialTables[t][2 * i + 1] = (byte >> i) & 1;
    }

    const u16 ccctl = reg(CCCTL);
    const int target = kGradationRecord[(ccctl >> 12) & 7];
    const bool normalMode = m_screenMode < 2;
    m_gradation = (ccctl & kCcctlGradation) && m_colorRamMode == 0 && normalMode;
    // An invalid target is reported whether or not gradation is on; with it
    // on, the previous target stays.
    if (target < 0) {
        logError(1, "Invalid setting [BOKN: %d]", (ccctl >> 12) & 7);
        m_stale |= kStaleEffects;  // the error shows on every line
        m_gradationLabel = "NULL";
    } else {
        m_gradationLabel = kGradationLabel[target];
    }
    if (!m_gradation)
        m_gradationTarget = kBackRecord;
    else if (target >= 0)
        m_gradationTarget = static_cast<u32>(target);
    m_extended = (ccctl & kCcctlExtended) && m_colorRamMode == 0 && normalMode;
    m_ccMode = ((ccctl >> 9) & 1) * 2 + ((ccctl >> 8) & 1);

    for (int c = 0; c < 3; ++c) {
        m_offsetA[c] = signExtend(reg(COAR + 2 * c) & 0x1FF, 9);
        m_offsetB[c] = signExtend(reg(COBR + 2 * c) & 0x1FF, 9);
    }
    m_shadowSelect = (reg(SDCTL) >> 8) & 1;
}

void VDP2::setupLine(int y)
{
    const int v = m_interlace == 2 ? y >> 1 : y;
    m_lineV = v;
    if (v == 170 && logs(2))
        traceRegisters("");
    if (m_stale & kStaleEffects)
        setupLineEffects();
    if (v == 20 && m_gradation)
        logWarning(3, "Gradation is enabled [ID: %s]", m_gradationLabel);
    if (m_colorRamDirty || m_paletteMode != m_colorRamMode)
        refreshPalette();

    updateSprite(v);
    updateLayer(m_rbg0, v);
    updateLayer(m_rbg1, v);
    updateLayer(m_exbg, v);
    updateLayer(m_nbg0, v);
    updateLayer(m_nbg1, v);
    updateLayer(m_nbg2, v);
    updateLayer(m_nbg3, v);
    // The parameter tables' start coordinates follow the line-position rule
    // on every line; the rest is read for the lines that use it.
    const bool rotation = m_rbg0.active || m_rbg1.active;
    readRotationTable(0, v, rotation || spriteRotated());
    readRotationTable(1, v, rotation);
    updateLineColor(v);
    updateBack(v);

    computeWindows(0, v);
    computeWindows(1, v);
    prepareCellScroll();

    if (m_gradation) {
        m_effectMode = 8;
        m_outputs[m_gradationTarget].effectTarget = 1;
    } else {
        m_effectMode = m_extended ? 4 : 0;
    }
}

bool VDP2::spriteRotated()
{
    if (!m_sprite.active)
        return false;
    const FrameBufferInfo* frame = m_spriteFrame ? m_spriteFrame : m_vdp1 ? m_vdp1->getDisplayFrameBuffer() : nullptr;
    return frame && frame->rotation;
}

void VDP2::updateLayer(Layer& layer, int v)
{
    if (!layer.enable) {
        layer.active = 0;
        return;
    }
    const u32 bit = 1u << layer.number;
    if (m_stale & bit) {
        m_stale &= ~bit;
        m_outputStale |= bit;
        decodeLayer(layer);
    }
    switch (layer.number) {
    case kRbg0:
        layer.active = layer.displayEnable && m_screenMode < 4;
        break;
    case kRbg1:
        if (layer.displayEnable && !m_rbg0.displayEnable)
            logWarning(1, "RBG1 is enabled but RBG0 is disabled");
        layer.active = layer.displayEnable && m_rbg0.displayEnable && (reg(RPMD) & 3) == 0 && m_screenMode < 4;
        break;
    case kExbg:
        // The row counts display lines from the top of the frame, also on
        // lines where the layer is not shown.
        if (v == 0 || (m_interlace == 3 && v == 1) || layer.lastLine < 0)
            layer.externalRow = static_cast<u32>(v);
        else if (v != layer.lastLine)
            layer.externalRow += m_interlace == 3 ? 2 : 1;
        layer.lastLine = v;
        layer.active = layer.displayEnable;
        if (layer.active) {
            ExternalFrame frame{};
            if (!m_external || !m_external->readExternalInput(&frame, 1) || !frame.pixels) {
                layer.active = 0;
                break;
            }
            layer.externalPixels = reinterpret_cast<const u8*>(frame.pixels);
            layer.externalBytes = frame.width * frame.height * 4;
            layer.externalHeight = frame.height;
        }
        break;
    default:
        // The line position moves on also while the layer is switched off,
        // so a layer switched on mid-frame shows the rows of its lines.
        prepareNormalLine(layer, v);
        layer.active = normalLayerShown(layer);
        break;
    }
    // NBG0 and RBG1, and NBG1 and EXBG, share a record.
    if (layer.active && ((m_outputStale & bit) || m_outputs[layer.record].source != layer.number)) {
        m_outputStale &= ~bit;
        writeLayerOutput(layer);
    }
}

void VDP2::decodeLayer(Layer& layer)
{
    switch (layer.number) {
    case kRbg0:
    case kRbg1:
        decodeRotation(layer);
        break;
    case kExbg:
        decodeExternal(layer);
        break;
    default:
        decodeNormal(layer);
        break;
    }
}

// Settings every scroll and rotation layer reads from its own bits of the
// shared registers; n is its place there (NBG0-3: 0-3, RBG0: 4). The
// priority, ratio and window registers hold two layers a register in that
// order, CRAOFA and CRAOFB four.
static void decodeCommon(VDP2::Layer& layer, const VDP2& vdp, u32 n)
{
    const u32 pair = 2 * (n >> 1), byte = 8 * (n & 1);
    layer.transparentShown = (vdp.reg(VDP2::BGON) >> (8 + n)) & 1;
    layer.priority = (vdp.reg(VDP2::PRINA + pair) >> byte) & 7;
    layer.ratio = (vdp.reg(VDP2::CCRNA + pair) >> byte) & 0x1F;
    layer.cramOffset = ((vdp.reg(VDP2::CRAOFA + 2 * (n >> 2)) >> (4 * (n & 3))) & 7) << 8;
    layer.window.decode((vdp.reg(VDP2::WCTLA + pair) >> byte) & 0xFF);
    layer.ccEnable = (vdp.reg(VDP2::CCCTL) >> n) & 1;
    layer.shadow = (vdp.reg(VDP2::SDCTL) >> n) & 1;
    layer.lineColorEnable = (vdp.reg(VDP2::LNCLEN) >> n) & 1;
    layer.specialPriorityMode = (vdp.reg(VDP2::SFPRMD) >> (2 * n)) & 3;
    layer.specialCcMode = (vdp.reg(VDP2::SFCCMD) >> (2 * n)) & 3;
    layer.specialSelect = (vdp.reg(VDP2::SFSEL) >> n) & 1;
    layer.mosaic = (vdp.reg(VDP2::MZCTL) >> n) & 1;
}

void VDP2::decodeNormal(Layer& layer)
{
    const u32 n = layer.number;
    decodeCommon(layer, *this, n);
    layer.pncn = reg(PNCN0 + 2 * n);

    const u16 chctla = reg(CHCTLA);
    const u16 chctlb = reg(CHCTLB);
    u32 size = 0;
    switch (n) {
    case 0:
        layer.charSize16 = chctla & 1;
        layer.bitmap = (chctla >> 1) & 1;
        size = bits(chctla, 2, 2);
        layer.colorMode = bits(chctla, 4, 3);
        break;
    case 1:
        layer.charSize16 = (chctla >> 8) & 1;
        layer.bitmap = (chctla >> 9) & 1;
        size = bits(chctla, 10, 2);
        layer.colorMode = bits(chctla, 12, 2);
        break;
    default:
        layer.charSize16 = (chctlb >> (4 * (n - 2))) & 1;
        layer.bitmap = 0;
        layer.colorMode = (chctlb >> (4 * (n - 2) + 1)) & 1;
        break;
    }
    // Direct 32-bit colour needs the normal-resolution modes.
    if (layer.colorMode > (m_screenMode < 2 ? 4 : 3)) {
        layer.logWarning(2, "Invalid color mode [clMode: %d, gfMode: %d]", layer.colorMode, m_screenMode);
        m_stale |= 1u << n;  // warned settings are decoded on every line, so the warning repeats
    }

    if (layer.bitmap) {
        const u16 mpofn = reg(MPOFN);
        layer.bitmapBase = (((mpofn >> (4 * n)) & 7) * 0x20000) & m_vramMask;
        const u16 bmpna = reg(BMPNA) >> (8 * n);
        layer.bitmapPalette = (bmpna & 7) << 8;
        layer.bitmapSpecialCc = (bmpna >> 4) & 1;
        layer.bitmapSpecialPriority = (bmpna >> 5) & 1;
        layer.bitmapWidthMask = (size & 2) ? 1023 : 511;
        layer.bitmapHeightMask = (size & 1) ? 511 : 255;
    }

    // Map: 2 x 2 planes of the plane size.
    layer.twoWord = !(layer.pncn & 0x8000);
    layer.supplementMode = (layer.pncn >> 14) & 1;
    buildMap(layer.map, layer, (reg(PLSZ) >> (2 * n)) & 3, (reg(MPOFN) >> (4 * n)) & 7, MPABN0 + 4 * n, 4);

    // Scroll and zoom.
    if (n < 2) {
        const u32 base = n ? 0x10 : 0;
        layer.scrollX = signExtend(reg(SCXIN0 + base) & 0x7FF, 11) * 0x10000 + (reg(SCXDN0 + base) & 0xFF00);
        layer.scrollY = signExtend(reg(SCYIN0 + base) & 0x7FF, 11) * 0x10000 + (reg(SCYDN0 + base) & 0xFF00);
        layer.zoomX = ((reg(ZMXIN0 + base) & 7) << 16) | (reg(ZMXDN0 + base) & 0xFF00);
        layer.zoomY = ((reg(ZMYIN0 + base) & 7) << 16) | (reg(ZMYDN0 + base) & 0xFF00);
        layer.reduction = (reg(ZMCTL) >> (8 * n)) & 3;
        const u32 scrctl = reg(SCRCTL) >> (8 * n);
        layer.cellScroll = scrctl & 1;
        layer.lineScrollX = (scrctl >> 1) & 1;
        layer.lineScrollY = (scrctl >> 2) & 1;
        layer.lineZoom = (scrctl >> 3) & 1;
        layer.lineScrollShift = (scrctl >> 4) & 3;
        const u32 upper = reg(LSTA0U + 4 * n);
        const u32 lower = reg(LSTA0L + 4 * n);
        layer.lineScrollTable = ((((upper << 16) | lower) & 0x7FFFE) * 2) & m_vramMask;
    } else {
        const u32 base = (n - 2) * 4;
        layer.scrollX = signExtend(reg(SCXN2 + base) & 0x7FF, 11) * 0x10000;
        layer.scrollY = signExtend(reg(SCYN2 + base) & 0x7FF, 11) * 0x10000;
        layer.zoomX = layer.zoomY = 0x10000;
        layer.reduction = 0;
        layer.cellScroll = layer.lineScrollX = layer.lineScrollY = layer.lineZoom = 0;
    }
}

// The plane addresses of a map of 2 x 2 (4) or 4 x 4 (16) planes, read from
// the plane registers from 'first' on, two planes a register.
void VDP2::buildMap(MapGeometry& map, const Layer& layer, u32 planeSize, u32 mapOffset, u32 first, u32 planes) const
{
    const u32 acrossShift = planes == 16 ? 2 : 1;
    map.planeShiftX = 9 + (planeSize & 1);
    map.planeShiftY = 9 + (planeSize == 3 ? 1 : 0);
    map.planesAcrossShift = acrossShift;
    map.planesMask = (1u << acrossShift) - 1;
    map.pagesAcrossShift = planeSize & 1;
    map.widthMask = (1u << (map.planeShiftX + acrossShift)) - 1;
    map.heightMask = (1u << (map.planeShiftY + acrossShift)) - 1;
    // A plane of 1, 2 or 4 pages starts at a multiple of its size.
    const u32 s = planeSize == 3 ? 2 : planeSize;
    u32 pageShift, planeMask;
    if (!layer.charSize16)
        pageShift = layer.twoWord ? 14 : 13, planeMask = layer.twoWord ? 63 : 127;
    else
        pageShift = layer.twoWord ? 12 : 11, planeMask = layer.twoWord ? 255 : 511;
    for (u32 i = 0; i < planes; ++i) {
        const u32 plane = (reg(first + 2 * (i >> 1)) >> (8 * (i & 1))) & 0x3F;
        map.plane[i] = ((((plane + (mapOffset << 6)) & planeMask) >> s) << (pageShift + s)) & m_vramMask;
    }
}

void VDP2::decodeRotation(Layer& layer)
{
    if (layer.number == kRbg0) {
        decodeCommon(layer, *this, 4);
        const u16 chctlb = reg(CHCTLB);
        layer.pncn = reg(PNCR);
        layer.charSize16 = (chctlb >> 8) & 1;
        layer.bitmap = (chctlb >> 9) & 1;
        layer.colorMode = bits(chctlb, 12, 3);
        layer.bitmapWidthMask = 511;
        layer.bitmapHeightMask = (chctlb >> 10) & 1 ? 511 : 255;
        const u16 bmpnb = reg(BMPNB);
        layer.bitmapPalette = (bmpnb & 7) << 8;
        layer.bitmapSpecialCc = (bmpnb >> 4) & 1;
        layer.bitmapSpecialPriority = (bmpnb >> 5) & 1;
        const char* warning = nullptr;
        if (m_screenMode >= 4)
            warning = "Can not be displayed when Exclusive Graphic Mode [clMode: %d]";
        else if (m_screenMode >= 2 && layer.colorMode >= 4)
            warning = "Invalid color mode when Hi-Res Graphic Mode [clMode: %d]";
        else if (layer.colorMode >= 5)
            warning = "Invalid color mode when Normal Graphic Mode [clMode: %d]";
        if (warning) {
            layer.logWarning(2, warning, layer.colorMode);
            m_stale |= 1u << kRbg0;
        }
    } else {
        // RBG1 takes NBG0's place and its settings.
        decodeCommon(layer, *this, 0);
        const u16 chctla = reg(CHCTLA);
        layer.pncn = reg(PNCN0);
        layer.charSize16 = chctla & 1;
        layer.bitmap = 0;
        layer.colorMode = bits(chctla, 4, 3);
    }
    layer.twoWord = !(layer.pncn & 0x8000);
    layer.supplementMode = (layer.pncn >> 14) & 1;
}

void VDP2::decodeExternal(Layer& layer)
{
    decodeCommon(layer, *this, 1);
    // Modes 0-2 are the palette modes; 3 is 32-bit direct colour.
    const u32 mode = bits(reg(CHCTLA), 12, 2);
    layer.colorMode = mode == 3 ? 4 : static_cast<u8>(mode);
    layer.mosaic = 0;
    if (layer.specialCcMode == 1 || layer.specialCcMode == 2) {
        layer.logWarning(2, "Special Color Calculation Mode must be set to 0 or 3 [sccMode: %d]", layer.specialCcMode);
        m_stale |= 1u << kExbg;
    }
    if (layer.specialPriorityMode != 0) {
        m_stale |= 1u << kExbg;
        layer.logWarning(2, "Special Priority Mode must be set to 0 [sprMode: %d]", layer.specialPriorityMode);
        layer.specialPriorityMode = 0;
    }
}

void VDP2::writeColorOffset(LayerOutput& out, u32 bit) const
{
    if (!((reg(CLOFEN) >> bit) & 1)) {
        out.offset[0] = out.offset[1] = out.offset[2] = 0;
        return;
    }
    const s32* values = ((reg(CLOFSL) >> bit) & 1) ? m_offsetB : m_offsetA;
    for (int c = 0; c < 3; ++c)
        out.offset[c] = (values[c] & 0x1FF) << 8;
}

u32 VDP2::specialCcMode(u32 mode, bool rgb)
{
    if (mode == 2 && rgb) {
        logWarning(2, "Special color calculation mode 2 when it is RGB format");
        return 1;
    }
    return mode;
}

void VDP2::writeLayerOutput(const Layer& layer)
{
    LayerOutput& out = m_outputs[layer.record];
    out.source = layer.number;
    out.priority = layer.priority;
    out.rgb = layer.colorMode >= 3;
    out.specialMode = specialCcMode(layer.specialCcMode, out.rgb);
    if (out.specialMode != layer.specialCcMode)
        m_outputStale |= 1u << layer.number;  // the warning repeats on every line
    out.ccEnable = layer.ccEnable;
    out.specialBit = 0;
    out.specialTable = m_specialTables[layer.specialSelect];
    out.ratio = layer.ratio;
    const u32 offsetBit = layer.number == kRbg1 ? 0 : layer.number == kExbg ? 1 : layer.number;
    writeColorOffset(out, offsetBit);
    out.shadow = layer.shadow;
    out.effectTarget = m_gradation ? 0 : layer.lineColorEnable;
}

void VDP2::updateLineColor(int v)
{
    const u32 upper = reg(LCTAU);
    u32 address = ((((upper & 7) << 16) | reg(LCTAL)) * 2);
    if (upper & 0x8000)
        address += static_cast<u32>(v) * 2;
    const u32 code = loadBe16(m_vram + (address & m_vramMask & ~1u)) & 0x7FF;
    u32 color = 0;
    switch (m_colorRamMode) {
    case 0: color = colorTable[loadBe16(m_colorRam + ((code & 0x3FF) << 1))]; break;
    case 1: color = colorTable[loadBe16(m_colorRam + ((code & 0x7FF) << 1))]; break;
    case 2: {
        const u32 c = loadBe32(m_colorRam + ((code & 0x3FF) << 2));
        color = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        break;
    }
    default: break;
    }
    LayerOutput& out = m_outputs[kLineColorRecord];
    out.source = kLncl;
    out.priority = 1;
    out.specialMode = 0;
    out.ccEnable = (reg(CCCTL) >> 5) & 1;
    out.ratio = reg(CCRLB) & 0x1F;
    out.color = color;
    out.offset[0] = out.offset[1] = out.offset[2] = 0;
    out.shadow = 0;
    out.lineColor = code;  // kept for coefficient line colours
    for (u32 r = 0; r < kLineColorRecord; ++r)
        m_outputs[r].lineColor = color;
}

void VDP2::updateBack(int v)
{
    LayerOutput& out = m_outputs[kBackRecord];
    if (!m_backEnable) {
        out.reset();
        return;
    }
    const u32 upper = reg(BKTAU);
    u32 address = (((upper & 7) << 16) | reg(BKTAL)) * 2;
    if (upper & 0x8000)
        address += static_cast<u32>(v) * 2;
    out.source = kBack;
    out.priority = 1;
    out.specialMode = 0;
    out.ccEnable = 0;
    out.rgb = 1;
    out.ratio = (reg(CCRLB) >> 8) & 0x1F;
    out.color = colorTable[loadBe16(m_vram + (address & m_vramMask & ~1u)) & 0x7FFF];
    writeColorOffset(out, 5);
    out.shadow = (reg(SDCTL) >> 5) & 1;
    out.effectTarget = 0;
}

void VDP2::updateSprite(int)
{
    if (!m_sprite.enable) {
        m_sprite.active = 0;
        return;
    }
    m_sprite.active = 1;
    if (!(m_stale & kStaleSprite))
        return;
    m_stale &= ~kStaleSprite;
    decodeSprite();
    LayerOutput& out = m_outputs[kSpriteRecord];
    out.source = kSprite;
    out.priority = 0;
    out.specialMode = m_sprite.ccCondition == 3 ? 3 : 1;
    out.ccEnable = m_sprite.ccEnable;
    out.shadow = 0;
    out.rgb = 0;
    out.specialTable = m_specialTables[0];
    writeColorOffset(out, 6);
    out.effectTarget = m_gradation ? 0 : (reg(LNCLEN) >> 5) & 1;
}

void VDP2::decodeSprite()
{
    const u16 spctl = reg(SPCTL);
    SpriteLayer& s = m_sprite;
    s.type = spctl & 15;
    s.windowEnable = (spctl >> 4) & 1;
    s.mixed = (spctl >> 5) & 1;
    s.ccNumber = (spctl >> 8) & 7;
    s.ccCondition = (spctl >> 12) & 3;
    for (int i = 0; i < 8; ++i) {
        const u8 priority = (reg(PRISA + 2 * (i >> 1)) >> (8 * (i & 1))) & 7;
        bool allowed;
        switch (s.ccCondition) {
        case 0: allowed = priority <= s.ccNumber; break;
        case 1: allowed = priority == s.ccNumber; break;
        case 2: allowed = priority >= s.ccNumber; break;
        default: allowed = true; break;
        }
        s.priorities[i] = static_cast<u8>(priority << 1 | (allowed ? 1 : 0));
        s.ratios[i] = (reg(CCRSA + 2 * (i >> 1)) >> (8 * (i & 1))) & 0x1F;
    }
    s.cramOffset = ((reg(CRAOFB) >> 4) & 7) << 8;
    s.window.decode(reg(WCTLC) >> 8);
    s.ccEnable = (reg(CCCTL) >> 6) & 1;
}

// Windows.

void VDP2::setupWindow(int k)
{
    const u32 base = k ? 8 : 0;
    auto convertX = [this](u32 value) -> u32 {
        switch (m_screenMode) {
        case 0: case 1: return (value >> 1) & 0x1FF;
        case 2: case 3: return value & 0x3FF;
        case 4: case 5: return value & 0x1FF;
        default: return (value & 0x1FF) * 2;
        }
    };
    auto convertY = [this](u32 value) -> u32 {
        if (m_screenMode >= 4)
            return value & 0x1FF;
        switch (m_interlace) {
        case 3: return ((value >> 1) & 0xFF) * 2;
        case 1: return 0;
        default: return value & 0x1FF;
        }
    };
    m_windowStartX[k] = convertX(reg(WPSX0 + base));
    m_windowEndX[k] = convertX(reg(WPEX0 + base));
    m_windowStartY[k] = convertY(reg(WPSY0 + base));
    m_windowEndY[k] = convertY(reg(WPEY0 + base));
    const u32 upper = reg(LWTA0U + 4 * k);
    m_lineWindow[k] = (upper >> 15) & 1;
    m_lineWindowTable[k] = (((((upper & 7) << 15) | (reg(LWTA0L + 4 * k) >> 1)) & 0x3FFFF) * 4) & m_vramMask;
}

void VDP2::computeWindows(int k, int v)
{
    u32 startX = m_windowStartX[k];
    u32 endX = m_windowEndX[k];
    if (m_lineWindow[k]) {
        const u32 at = m_lineWindowTable[k] + static_cast<u32>(v) * 4;
        const u32 rawStart = loadBe16(m_vram + (at & m_vramMask & ~1u));
        const u32 rawEnd = loadBe16(m_vram + ((at + 2) & m_vramMask & ~1u));
        switch (m_screenMode) {
        case 0: case 1: startX = (rawStart >> 1) & 0x1FF, endX = (rawEnd >> 1) & 0x1FF; break;
        case 2: case 3: startX = rawStart & 0x3FF, endX = rawEnd & 0x3FF; break;
        case 4: case 5: startX = rawStart & 0x1FF, endX = rawEnd & 0x1FF; break;
        default: startX = (rawStart & 0x1FF) * 2, endX = (rawEnd & 0x1FF) * 2; break;
        }
    }
    const u32 line = static_cast<u32>(v);
    if (m_windowStartY[k] <= line && line <= m_windowEndY[k] && startX <= endX && startX < m_size.width)
        m_windowSpan[k] = getSpanMask(startX, endX < m_size.width ? endX : m_size.width - 1);
    else
        m_windowSpan[k] = getSpanMaskTable();
}

// The dots (1) a layer's window control lets through on this line. With no
// window enabled nothing is hidden, whatever the logic bit says.
const u8* VDP2::windowPass(const WindowControl& w, u8* scratch) const
{
    if (!w.any)
        return m_passAll;
    const u8* __restrict span0 = m_windowSpan[0];
    const u8* __restrict span1 = m_windowSpan[1];
    const u8* __restrict sprite = m_spriteDots.window;
    u8* __restrict out = scratch;
    const u32 width = m_size.width < kMaxLineDots ? m_size.width : kMaxLineDots;
    const u8 m0 = w.mask[0], m1 = w.mask[1], m2 = w.mask[2];
    const u8 f0 = w.flip[0], f1 = w.flip[1], f2 = w.flip[2];
    // Without the sprite window the pass depends on the two spans alone, so
    // a buffer that already holds it for the same spans is kept.
    const u32 control = m0 | m1 << 1 | f0 << 2 | f1 << 3 | f2 << 4 | w.logic << 5;
    const WindowPassMemo made{scratch, span0, span1, width, control};
    WindowPassMemo& memo = m_passMemo[scratch == m_ccPass];
    if (!m2 && memo == made)
        return scratch;
    memo = m2 ? WindowPassMemo{} : made;
    // The logic table in plain byte operations, so the loops vectorise.
    if (w.logic) {
        for (u32 x = 0; x < width; ++x)
            out[x] = static_cast<u8>((((span0[x] & m0) ^ f0) & ((span1[x] & m1) ^ f1) & ((sprite[x] & m2) ^ f2)) ^ 1);
    } else {
        for (u32 x = 0; x < width; ++x)
            out[x] = static_cast<u8>((((span0[x] & m0) ^ f0) | ((span1[x] & m1) ^ f1) | ((sprite[x] & m2) ^ f2)) ^ 1);
    }
    return scratch;
}

// Brings the decoded colour RAM up to date in the blocks written since.
void VDP2::refreshPalette()
{
    constexpr u32 kBlock = kColorRamSize / 64;
    const bool all = m_paletteMode != m_colorRamMode;
    u64 blocks = all ? ~u64{0} : m_colorRamDirty;
    m_colorRamDirty = 0;
    m_paletteMode = m_colorRamMode;
    m_paletteMask = m_colorRamMode == 1 ? 0x7FF : m_colorRamMode == 3 ? 0 : 0x3FF;
    if (m_colorRamMode == 3) {
        m_palette[0] = 0;
        m_paletteMsb[0] = 0;
        return;
    }
    for (; blocks; blocks &= blocks - 1) {
        const u32 block = static_cast<u32>(std::countr_zero(blocks)) * kBlock;
        if (!all && !std::memcmp(m_colorRam + block, m_colorRamCopy + block, kBlock))
            continue;
        std::memcpy(m_colorRamCopy + block, m_colorRam + block, kBlock);
        if (m_colorRamMode == 2) {
            for (u32 a = block; a < block + kBlock; a += 4) {
                const u32 c = loadBe32(m_colorRam + a);
                m_palette[a >> 2] = swapRedBlue(c);
                m_paletteMsb[a >> 2] = static_cast<u8>(c >> 31);
            }
        } else {
            for (u32 a = block; a < block + kBlock; a += 2) {
                const u32 c = loadBe16(m_colorRam + a);
                m_palette[a >> 1] = rgb555(c);
                m_paletteMsb[a >> 1] = static_cast<u8>(c >> 15);
            }
        }
    }
}
