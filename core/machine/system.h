#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/bios/bios.h"
#include "board/scu/scu.h"
#include "board/sh2/sh2.h"
#include "board/smpc/smpc.h"
#include "cd/cdb/cdb.h"
#include "cd/drive/cd_drive.h"
#include "core/base/write_back.h"
#include "core/machine/machine.h"
#include "core/base/save_file.h"
#include "sound/m68k/m68k.h"
#include "sound/scsp/scsp.h"
#include "video/vdp1/vdp1.h"
#include "video/vdp2/vdp2.h"

// The machine's memories, held in the emulated machine's big-endian order.
struct SystemMemory {
    static constexpr u32 kBiosSize = 0x80000;
    static constexpr u32 kBackupSize = 0x8000;
    static constexpr u32 kWorkRamSize = 0x100000;
    static constexpr u32 kVdp1Size = 0x100000;
    static constexpr u32 kVdp2VramSize = 0x80000;
    static constexpr u32 kVdp2ColorRamSize = 0x1000;
    static constexpr u32 kSoundRamSize = 0x80000;

    std::unique_ptr<u8[]> bios = std::make_unique<u8[]>(kBiosSize);
    std::unique_ptr<u8[]> backup = std::make_unique<u8[]>(kBackupSize);
    std::unique_ptr<u8[]> workRamLow = std::make_unique<u8[]>(kWorkRamSize);
    std::unique_ptr<u8[]> workRamHigh = std::make_unique<u8[]>(kWorkRamSize);
    std::unique_ptr<u8[]> vdp1Memory = std::make_unique<u8[]>(kVdp1Size);
    std::unique_ptr<u8[]> vdp2Vram = std::make_unique<u8[]>(kVdp2VramSize);
    std::unique_ptr<u8[]> vdp2ColorRam = std::make_unique<u8[]>(kVdp2ColorRamSize);
    std::unique_ptr<u8[]> soundRam = std::make_unique<u8[]>(kSoundRamSize);
};

class Cartridge;

struct Region {
    u32 base = 0;
    u32 size = 0;
};

// The console (or arcade board): every chip and memory, the SH-2 bus map,
// the frame events and the debugger's services. Several MB: allocate it.
class CSystem : public CMachine, private SystemMemory, public SmpcMachine, public BiosMachine {
public:
    static_assert(kBiosSize == kBiosRomBytes && kWorkRamSize == kWorkRamBytes);
    static constexpr u32 kM68kPeriodNs = 88;

    CSystem();
    ~CSystem() override;

    bool setup(u32 argument) override;
    void powerOn() override;
    void powerOff() override;
    void reset() override;
    void setClock(u32 hz);
    void setMedia(std::shared_ptr<CCd> media) override;
    void setShortcuts(const Shortcuts& shortcuts) override;
    ShortcutUses shortcutUses() const override;
    DisplaySize getDisplaySize() override { return m_vdp2.getDisplaySize(); }
    void checkDmaRange(u32 source, u32 destination, u32 count) override;

    void onHBlankIn(u32) override;
    void onHBlankOut(u32) override;
    void onVBlankIn(u32) override;
    void onVBlankOut(u32) override;

    void applyMemoryMap(const std::vector<MemoryMapWindow>& list);
    static Region findRegion(u32 address);
    // Windows that the arcade start-up adds, and the cartridge-identifier
    // byte at 0x04FFFFFF.
    std::vector<MemoryMapWindow> arcadeWindows();
    MemoryMapWindow cartridgeIdWindow();

    // The cartridge slot. Inserting first ejects the cartridge held before;
    // the machine keeps the cartridge alive for as long as its windows and
    // fetch pages are mapped, and ejecting puts the base windows back.
    void insertCartridge(std::shared_ptr<Cartridge> cartridge);
    void ejectCartridge();
    Cartridge* cartridge() const { return m_cartridge.get(); }

    // Backup memory write-back: the file it was loaded from, its size and
    // address mask (32 KB / 0xFFFF console, 8 KB / 0x3FFF arcade).
    SaveFile& backupFile() { return m_backupFile; }
    const SaveFile& backupFile() const { return m_backupFile; }
    void setBackupSize(u32 size, u32 mask) { m_backupBytes = size; m_backupMask = mask; }
    // At every V-BLANK-IN: the image once it has settled (WriteBack).
    void saveBackupRam();
    // At a stop: the image, when it holds writes its file has not had
    // (one still settling, or one whose write failed).
    bool flushBackupRam();

    // The system manager's view.
    MachineKind kind() const override { return static_cast<MachineKind>(machineKind); }
    Device& sh2(bool slave) override { return slave ? static_cast<Device&>(m_slave) : m_master; }
    Device& soundCpu() override { return m_m68k; }
    Device& cdBlock() override { return m_cdb; }
    void systemReset() override;
    void changeClock(u32 hz) override;
    void requestNmi() override { m_master.requestNmi(); }
    void smpcInterrupt() override { m_scu.irqSmpc(); }

    // The built-in BIOS's view.
    SH2& masterSh2() override { return m_master; }
    u8* biosRom() override { return bios.get(); }
    const std::shared_ptr<CCd>& disc() override { return m_drive.getMedia(); }
    void setCdInterruptRequest(u16 bits) override { m_cdb.setHirqReq(bits); }
    void authenticateCd() override { m_cdb.authenticateAtBoot(); }
    u8 insertedCartridgeId() const override { return cartridgeId; }
    bool takeClockChangeNmi() override { return m_smpc.takeClockChangeNmi(); }
    u32 backupCartridgeBytes() const override;

    // Debugger services.
    CPU* getCpu(int index);
    void debugRun();
    void debugStepInto(CPU* cpu);
    void debugStepOver(CPU* cpu);
    void debugStepOut(CPU* cpu);
    static bool isValidAddress(u32 address);
    u8 peekByte(u32 address) const;
    void pokeByte(u32 address, u8 value);

    SH2& master() { return m_master; }
    SH2& slave() { return m_slave; }
    M68K& m68k() { return m_m68k; }
    SCU& scu() { return m_scu; }
    SMPC& smpc() { return m_smpc; }
    const SMPC& smpc() const { return m_smpc; }
    VDP1& vdp1() { return m_vdp1; }
    VDP2& vdp2() { return m_vdp2; }
    SCSP& scsp() { return m_scsp; }
    CDB& cdb() { return m_cdb; }
    CDDrive& drive() { return m_drive; }
    BIOS& biosHook() { return m_biosHook; }
    const SystemMemory& memory() const { return *this; }
    SystemMemory& memory() { return *this; }

    u8 pal = 0;
    s32 machineKind = kConsole;
    u8 cartridgeId = 255;

    // Machine-side bus handlers; owner is the machine, Area picks the area.
    enum Area : int {
        kBiosRom, kBackup, kWorkRamLow, kWorkRamHigh, kDummy0, kDummy1, kDummy2, kDummy3, kDummy4, kDummy5,
        kMinit, kSinit, kCs0, kCs1, kCs2, kUnkreg, kArcadeIo, kRs232c, kSerial, kCartridgeId, kAreaCount
    };
    AccessHandlers areaHandlers(Area area);
    // The warning of an access nothing serves: "<area>: Bad RB [A: ...]",
    // or the plain message when area is null.
    void badAccess(const char* area, char op, int width, u32 a, u32 d = 0) const;

private:
    template <Area A> struct Handlers;

    void buildMemoryMap();
    void buildSoundMap();
    u8 arcadeIoRead(u32 a);
    void arcadeIoWrite(u32 a, u8 d);
    u8 unkregReadByte(u32 a);
    void unkregWriteByte(u32 a, u8 d);
    void markBackupChanged() { m_backupWriteBack.touch(); }
    bool writeBackupRam();
    u32 backupIndex(u32 a) const { return (a >> 1) & (m_backupMask >> 1); }

    SH2 m_master;
    SH2 m_slave;
    M68K m_m68k;
    SCU m_scu;
    SMPC m_smpc;
    VDP1 m_vdp1;
    VDP2 m_vdp2;
    SCSP m_scsp;
    CDB m_cdb;
    CDDrive m_drive;
    BIOS m_biosHook;

    u32 m_backupBytes = kBackupSize;
    u32 m_backupMask = 0xFFFF;
    WriteBack m_backupWriteBack;
    SaveFile m_backupFile{"backup memory"};

    std::vector<MemoryMapWindow> m_baseMap;
    std::shared_ptr<Cartridge> m_cartridge;

    u8 m_ioLatch[4] = {};
    u8 m_ioSequence[8] = {};
    u32 m_ioIndex = 0;
    u8 m_unkreg[256] = {};
};
