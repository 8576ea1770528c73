#include "core/machine/system.h"

#include <cstring>

#include "board/cart/cartridge.h"
#include "core/base/helpers.h"
#include "core/base/shared_state.h"

CSystem::CSystem()
    : CMachine("SYSTEM"),
      m_m68k(),
      m_scu(this, &m_master),
      m_smpc(this),
      m_vdp1(&m_scu, vdp1Memory.get(), 1),
      m_vdp2(&m_vdp1, &m_smpc, &m_cdb, vdp2Vram.get(), vdp2ColorRam.get()),
      m_scsp(this, soundRam.get(), &m_m68k, &m_scu, &m_cdb),
      m_cdb(&m_scu, &m_drive),
      m_biosHook(this)
{
    CSystem::setShortcuts(m_shortcuts);
}

CSystem::~CSystem()
{
    // The drive's worker must stop before the disc source goes away.
    m_drive.switchOff();
}

bool CSystem::setup(u32 argument)
{
    static constexpr u8 kIoSequence[8] = {0xCC, 0xB2, 0x99, 0x7F, 0x66, 0x4C, 0x33, 0x19};
    std::memcpy(m_ioSequence, kIoSequence, sizeof m_ioSequence);
    m_ioIndex = 0;

    m_devices = {&m_master, &m_scu, &m_smpc, &m_vdp1, &m_vdp2, &m_scsp, &m_cdb, &m_drive};
    m_sliced = {&m_master, &m_slave, &m_scu.dmac(), &m_scu.dsp(), &m_vdp1, &m_m68k};

    std::memset(bios.get(), 0, kBiosSize);
    std::memset(backup.get(), 0, kBackupSize);
    std::memset(workRamLow.get(), 0, kWorkRamSize);
    std::memset(workRamHigh.get(), 0, kWorkRamSize);
    std::memset(vdp2Vram.get(), 0, kVdp2VramSize);
    std::memset(vdp2ColorRam.get(), 0, kVdp2ColorRamSize);
    std::memset(soundRam.get(), 0, kSoundRamSize);

    setFrequency(kSystemClockHz);
    m_scu.setClock(4 * period());
    m_vdp1.setPeriod(2 * period());
    m_vdp1.setup(0);
    m_vdp2.setup(0);
    buildMemoryMap();
    buildSoundMap();
    // Memories the SCU's DMA may copy in blocks: their windows only load and store.
    m_scu.dmac().addPlainMemory(0x06000000, 0x07FFFFFF, workRamHigh.get(), kWorkRamSize);
    m_scu.dmac().addPlainMemory(0x05C00000, 0x05C7FFFF, vdp1Memory.get(), VDP1::kVramSize);
    m_scu.dmac().addPlainMemory(0x05E00000, 0x05EFFFFF, vdp2Vram.get(), kVdp2VramSize);
    m_scu.dmac().addPlainMemory(0x05A00000, 0x05AFFFFF, soundRam.get(), kSoundRamSize);
    m_scsp.setup(argument);
    m_cdb.setup(0);
    m_backupWriteBack.settle();
    return true;
}

void CSystem::powerOn()
{
    // A clock change is the game's: the next one starts at the power-on clock.
    setClock(kSystemClockHz);
    for (Device* d : std::initializer_list<Device*>{&m_drive, &m_master, &m_vdp1, &m_vdp2, &m_scu, &m_scu.dmac(),
                                                    &m_scu.dsp(), &m_smpc, &m_scsp, &m_cdb})
        d->switchOn();
    startLogSecond();
    // Fields count from the power-on, as the log and the field parity see them.
    m_frameCounter = 0;
    m_fieldBit = 0;
    m_lineCounter = 0;
    m_slice = 0;
    m_samples.drop();
    m_localTime = 0;
    m_runState = kRunning;
}

void CSystem::powerOff()
{
    logSink().setBounded(false);
    for (Device* d : std::initializer_list<Device*>{&m_master, &m_slave, &m_vdp1, &m_vdp2, &m_scu, &m_scu.dmac(),
                                                    &m_scu.dsp(), &m_smpc, &m_scsp, &m_cdb, &m_drive})
        d->switchOff();
    // Events a device left pending belong to the closed game; only the
    // field timing carries over.
    scheduler().clear();
    m_raster.setVideoMode(m_raster.videoMode());
    // Memory without a battery forgets the game, so the next disc starts on
    // what a fresh machine holds.
    for (const auto& [memory, size] : {std::pair{&workRamLow, kWorkRamSize}, {&workRamHigh, kWorkRamSize},
                                       {&vdp1Memory, kVdp1Size}, {&vdp2Vram, kVdp2VramSize},
                                       {&vdp2ColorRam, kVdp2ColorRamSize}, {&soundRam, kSoundRamSize}})
        std::memset(memory->get(), 0, size);
    m_localTime = 0;
    m_runState = kOff;
}

void CSystem::reset()
{
    // The system manager's reset forgets the 352-dot clock; the chips follow it.
    setClock(kSystemClockHz);
    m_master.restart();
    m_slave.switchOff();
    for (Device* d : std::initializer_list<Device*>{&m_vdp1, &m_vdp2, &m_scu, &m_scu.dmac(), &m_scu.dsp(), &m_smpc,
                                                    &m_scsp, &m_cdb, &m_drive})
        d->restart();
    std::memset(vdp1Memory.get(), 0, kVdp1Size);
    std::memset(vdp2ColorRam.get(), 0, kVdp2ColorRamSize);
    std::memset(vdp2Vram.get(), 0, kVdp2VramSize);
    m_localTime = 0;
}

void CSystem::setShortcuts(const Shortcuts& shortcuts)
{
    CMachine::setShortcuts(shortcuts);
    m_master.setSkipWaitLoops(shortcuts.waitLoops);
    m_slave.setSkipWaitLoops(shortcuts.waitLoops);
    m_scu.dmac().setBlockCopies(shortcuts.dmaBlocks);
    m_vdp1.setFastPaths(shortcuts.vdp1Primitives);
    m_vdp2.setFastPaths(shortcuts.vdp2);
    m_m68k.setSkipIdleLoops(shortcuts.soundIdleLoops);
    m_scsp.setSkipSilentSlots(shortcuts.silentSlots);
}

ShortcutUses CSystem::shortcutUses() const
{
    ShortcutUses uses = CMachine::shortcutUses();
    uses += m_vdp1.shortcutUses();
    uses += m_vdp2.shortcutUses();
    uses[kWaitLoops] += m_master.waitLoopSkips() + m_slave.waitLoopSkips();
    uses[kDmaBlocks] += m_scu.dmac().blocksCopied();
    uses[kSoundIdleLoops] += m_m68k.idleSkips();
    uses[kSilentSlots] += m_scsp.silentSlotSkips();
    return uses;
}

void CSystem::setClock(u32 hz)
{
    setFrequency(hz);
    // Only the SCU's own period (which times timer 1) follows; its DSP and
    // DMA controller keep the periods of the set-up.
    m_scu.setPeriod(4 * period());
    m_master.setPeriod(2 * period());
    m_slave.setPeriod(2 * period());
}

void CSystem::systemReset()
{
    static constexpr u32 kResetVector = 0;
    static constexpr u32 kResetLevel = 16;
    m_slave.powerOff();
    m_m68k.powerOff();
    m_cdb.powerOff();
    m_vdp1.reset();
    m_vdp2.reset();
    m_scsp.reset();
    m_master.requestInterrupt(kResetVector, kResetLevel);
}

void CSystem::changeClock(u32 hz)
{
    m_vdp1.reset();
    m_vdp2.reset();
    m_scu.reset();
    m_scsp.reset();
    m_slave.powerOff();
    std::memset(vdp1Memory.get(), 0, VDP1::kVramSize);
    std::memset(vdp2Vram.get(), 0, kVdp2VramSize);
    m_master.requestNmi();
    setClock(hz);
}

u32 CSystem::backupCartridgeBytes() const
{
    const auto* card = dynamic_cast<const CartBUP*>(m_cartridge.get());
    return card ? card->size() : 0;
}

void CSystem::setMedia(std::shared_ptr<CCd> media)
{
    m_drive.setMedia(std::move(media));
}

void CSystem::onHBlankIn(u32)
{
    currentScanline = m_lineCounter;
    m_vdp1.onHBlankIn(m_lineCounter);
    m_vdp2.onHBlankIn(m_lineCounter);
    m_scu.onHBlankIn(m_lineCounter);
}

void CSystem::onHBlankOut(u32)
{
    if (m_vdp1.drawEndedOnLine())
        m_scu.spriteDrawEnd();
    m_vdp2.onHBlankOut(m_lineCounter);
    m_scu.onHBlankOut();
    m_smpc.onHBlankOut(m_lineCounter);
}

void CSystem::onVBlankIn(u32)
{
    logError(2, "V-BLANK-IN");
    m_smpc.onVBlankIn();
    m_scu.onVBlankIn();
    m_vdp2.onVBlankIn();
    m_vdp1.onVBlankIn();
    m_cdb.onVBlankIn();
    callHooks(this);
    saveBackupRam();
}

void CSystem::onVBlankOut(u32)
{
    logInfo(2, "V-BLANK-OUT");
    m_smpc.onVBlankOut();
    m_scu.onVBlankOut();
    m_vdp1.onVBlankOut();
    m_vdp2.onVBlankOut(m_fieldBit);
}

void CSystem::saveBackupRam()
{
    if (m_backupWriteBack.poll())
        writeBackupRam();
}

bool CSystem::flushBackupRam()
{
    if (!m_backupWriteBack.unsaved() && !m_backupFile.failing())
        return false;
    m_backupWriteBack.settle();
    return writeBackupRam();
}

bool CSystem::writeBackupRam()
{
    // A failed write is logged by the file, once; the next change tries again.
    if (!m_backupFile.save(backup.get(), m_backupBytes))
        return false;
    logDebug(1, "Save backup RAM to disk");
    return true;
}

CPU* CSystem::getCpu(int index)
{
    switch (index) {
    case 0: return &m_master;
    case 1: return &m_slave;
    case 2: return &m_m68k;
    default: return nullptr;
    }
}

void CSystem::debugRun()
{
    m_master.setEnabled(1);
    m_slave.setEnabled(1);
    m_m68k.setEnabled(1);
    debugBreak = 0;
}

void CSystem::debugStepInto(CPU* cpu)
{
    if (cpu)
        cpu->stepInto();
    debugBreak = 0;
}

void CSystem::debugStepOver(CPU* cpu)
{
    if (cpu)
        cpu->stepOver();
    debugBreak = 0;
}

void CSystem::debugStepOut(CPU* cpu)
{
    if (cpu)
        cpu->stepOut();
    debugBreak = 0;
}

bool CSystem::isValidAddress(u32 address)
{
    const u32 top = address >> 28;
    if (top != 0 && top != 2)
        return false;
    static constexpr struct { u32 first, last; } kRanges[] = {
        {0x0000000, 0x007FFFF}, {0x0100000, 0x010007F}, {0x0180000, 0x018FFFF}, {0x0200000, 0x02FFFFF},
        {0x2000000, 0x4FFFFFF}, {0x5800000, 0x58FFFFF}, {0x5A00000, 0x5A7FFFF}, {0x5B00000, 0x5B00EE3},
        {0x5C00000, 0x5D00017}, {0x5E00000, 0x5F00FFF}, {0x5F80000, 0x5F8011F}, {0x5FE0000, 0x5FE00CF},
        {0x6000000, 0x60FFFFF},
    };
    const u32 a = address & 0x0FFFFFFF;
    for (const auto& r : kRanges) {
        if (a >= r.first && a <= r.last)
            return true;
    }
    return false;
}

u8 CSystem::peekByte(u32 address) const
{
    const u32 a = address & 0x0FFFFFFF;
    if (a <= 0x007FFFF)
        return bios[a];
    if (a >= 0x0180000 && a <= 0x018FFFF)
        return (a & 1) ? backup[((a - 0x180000) >> 1) & (kBackupSize - 1)] : 0xFF;
    if (a >= 0x0200000 && a <= 0x02FFFFF)
        return workRamLow[a & (kWorkRamSize - 1)];
    // Without a cartridge the areas read as the open bus the processors'
    // fetch sees there.
    if (a >= 0x2000000 && a <= 0x4FFFFFF)
        return m_cartridge ? m_cartridge->peek(a) : 0xFF;
    if (a >= 0x5A00000 && a <= 0x5A7FFFF)
        return soundRam[a & (kSoundRamSize - 1)];
    if (a >= 0x5C00000 && a <= 0x5CFFFFF)
        return vdp1Memory[a & (kVdp1Size - 1)];
    if (a >= 0x5E00000 && a <= 0x5EFFFFF)
        return vdp2Vram[a & (kVdp2VramSize - 1)];
    if (a >= 0x5F00000 && a <= 0x5F00FFF)
        return vdp2ColorRam[a & (kVdp2ColorRamSize - 1)];
    if (a >= 0x6000000 && a <= 0x60FFFFF)
        return workRamHigh[a & (kWorkRamSize - 1)];
    return 0;
}

void CSystem::pokeByte(u32 address, u8 value)
{
    const u32 a = address & 0x0FFFFFFF;
    if (a >= 0x0180000 && a <= 0x018FFFF) {
        if (a & 1)
            backup[((a - 0x180000) >> 1) & (kBackupSize - 1)] = value;
    } else if (a >= 0x0200000 && a <= 0x02FFFFF) {
        workRamLow[a & (kWorkRamSize - 1)] = value;
    } else if (a >= 0x2000000 && a <= 0x4FFFFFF) {
        if (m_cartridge)
            m_cartridge->poke(a, value);
    } else if (a >= 0x5A00000 && a <= 0x5A7FFFF) {
        soundRam[a & (kSoundRamSize - 1)] = value;
    } else if (a >= 0x5C00000 && a <= 0x5CFFFFF) {
        vdp1Memory[a & (kVdp1Size - 1)] = value;
    } else if (a >= 0x5E00000 && a <= 0x5EFFFFF) {
        vdp2Vram[a & (kVdp2VramSize - 1)] = value;
    } else if (a >= 0x5F00000 && a <= 0x5F00FFF) {
        vdp2ColorRam[a & (kVdp2ColorRamSize - 1)] = value;
        m_vdp2.colorRamChanged();
    } else if (a >= 0x6000000 && a <= 0x60FFFFF) {
        workRamHigh[a & (kWorkRamSize - 1)] = value;
    }
}
