#pragma once

#include <array>
#include <bitset>
#include <memory>
#include <string>

#include "board/bios/bios_machine.h"
#include "board/sh2/sh2.h"
#include "cd/media/sector_buffer.h"
#include "core/base/device.h"
#include "core/base/disc_header.h"

struct BupName;

// The built-in replacement of the console's BIOS. It runs no SH-2 code: it
// writes vector and service tables into memory and leaves the service area
// as zero words, which the SH-2 cannot execute; its address-error path offers
// the moment to this hook, which runs the service named by the PC in host
// code. It also boots a disc by copying the initial program and the first
// file of the root directory into work RAM, and serves the backup-memory
// library on the internal memory and a backup cartridge.
class BIOS : public Hook {
public:
    static constexpr u32 kVectorBase = 0x06000000;
    static constexpr u32 kServiceStart = 0x06000600;
    static constexpr u32 kServiceEnd = 0x06000900;
    static constexpr u32 kIdle = 0x06000604;
    static constexpr u32 kProgramEntry = 0x06002E00;
    static constexpr u32 kIpAddress = 0x06002000;
    static constexpr u32 kStackTop = 0x06002000;
    static constexpr u32 kMaskCopy = 0x06000348;
    static constexpr u32 kUserHandlers = 0x06000900;  // + 4 x vector
    static constexpr u32 kMaskTable = 0x06000980;     // + 4 x vector
    static constexpr u32 kScuIntReturn = 0x060008D0;
    static constexpr u32 kDummyFunc = 0x0600084C;
    static constexpr u32 kDummyInt = 0x060008D4;
    static constexpr u32 kWaitNmi = 0x060008D8;
    static constexpr const char* kVersion = "KEST_0.80U180410";

    // Backup devices and saved files (bios_bup.h).
    class BUP;
    class Record;

    // Status codes of the backup services, returned in R0.
    enum BupStatus : u32 {
        kBupSuccess = 0, kBupNon = 1, kBupUnformat = 2, kBupWriteProtect = 3, kBupNotEnoughMemory = 4,
        kBupNotFound = 5, kBupFound = 6, kBupNoMatch = 7, kBupBroken = 8, kBupFragment = 9,
    };
    static const char* statusName(u32 status);

    explicit BIOS(BiosMachine* machine);
    ~BIOS() override;

    bool install();
    // False when the initial program or the first file could not be loaded
    // whole; whatever was loaded stays, but the reset no longer starts it.
    bool bootDisc(const DiscHeader& header);
    // Whether bootDisc would boot that disc, saying why not as it would;
    // neither the machine nor its memory changes.
    bool canBoot(const std::shared_ptr<CCd>& disc, const DiscHeader& header);
    // Why the last bootDisc or canBoot failed, as its log line said; empty
    // after a boot.
    const std::string& refusal() const { return m_refusal; }
    bool onHook(Device* device) override;
    void returnToCaller(SH2& cpu);

    // Emulated memory as the master SH-2 sees it, with the side effects of
    // ordinary bus accesses.
    u8 read8(u32 address);
    u32 read32(u32 address);
    void write8(u32 address, u8 value);
    void write16(u32 address, u16 value);
    void write32(u32 address, u32 value);

    const BUP& bup(int n) const { return *m_bup[static_cast<std::size_t>(n) % m_bup.size()]; }

private:
    void installVectors();
    void installServiceTable();
    bool loadDisc(const DiscHeader& header);
    // The disc a boot reads: the one canBoot tries, else the machine's.
    const std::shared_ptr<CCd>& bootSource() const { return m_trial ? *m_trial : m_machine->disc(); }
    bool loadFirstFile(const DiscHeader& header);
    // User data of one data sector of the disc, or null (logged) when the
    // disc cannot supply it.
    const u8* readUserData(u32 fad);
    // Sectors from fad to the end of its data track; 0 when fad is no data.
    u32 sectorsLeftInTrack(u32 fad) const;
    bool copySectors(u32 fad, u32 size, u32 destination);

    void dispatch(SH2& cpu, u32 pc);
    void charge(SH2& cpu, u32 clocks);
    bool fromSlave(const SH2& cpu) const;
    void notImplemented(SH2& cpu, const char* service);
    void unknownEntry(SH2& cpu, u32 pc);
    void gfsd(SH2& cpu, u32 pc);
    void returnFromException(SH2& cpu);

    void sysInit(SH2& cpu);
    void formatClearedInternalMemory();
    void sysExecDmp(SH2& cpu);
    void sysChgsysck(SH2& cpu);
    void finishClockChange(bool fast);
    void sysChguipr(SH2& cpu);
    void sysSetuint(SH2& cpu);
    void sysGetuint(SH2& cpu);
    void sysSetsint(SH2& cpu);
    void sysGetsint(SH2& cpu);
    void sysSetscuim(SH2& cpu);
    void sysChgscuim(SH2& cpu);
    void sysDummyFunc(SH2& cpu);
    void scuInterrupt(SH2& cpu, u32 pc);
    void scuIntReturn(SH2& cpu);
    void sysDummyInt(SH2& cpu);
    void sysWaitNmi(SH2& cpu);
    void sysNmi(SH2& cpu);

    // The backup services (bios_bup_services.cpp).
    u32 readLongBytes(u32 address);
    void readName(u32 address, u32 limit, u8* out, u32& length);
    // The shared checks: device number and connection, format, and for
    // writing services the write protection. Null with the status set when
    // one fails.
    BUP* checkDevice(u32 number, bool writing, u32& status);
    // The save named at R5 on the device in R4: its first block, or 0 with
    // the status of the failed check or NOT_FOUND.
    u32 findNamedSave(SH2& cpu, bool writing, BupName& name, BUP*& device, u32& status);
    // Runs visit on the unbroken save R4/R5 name and answers its status; the
    // save's first block goes to first (0 when there is none).
    template <class F>
    u32 visitNamedSave(SH2& cpu, BupName& name, u32& first, F&& visit);
    void bupInit(SH2& cpu);
    void bupSelPart(SH2& cpu);
    void bupFormat(SH2& cpu);
    void bupStat(SH2& cpu);
    void bupWrite(SH2& cpu);
    void bupRead(SH2& cpu);
    void bupDelete(SH2& cpu);
    void bupDir(SH2& cpu);
    void bupVerify(SH2& cpu);
    void bupGetDate(SH2& cpu);
    void bupSetDate(SH2& cpu);

    BiosMachine* m_machine;
    u32 m_vectorBase = kVectorBase;
    std::array<std::unique_ptr<BUP>, 3> m_bup;
    SectorBuffer m_sector;
    // Entries without a service report once each, so a program parked on one
    // does not flood the log.
    std::bitset<(kServiceEnd - kServiceStart) / 4> m_reported;
    std::string m_refusal;
    // Set while canBoot runs: the disc tried, whose sectors are read but
    // copied nowhere.
    const std::shared_ptr<CCd>* m_trial = nullptr;
    // SYS_CHGSYSCK in progress: it waits for the SMPC to take the command,
    // then for the NMI that ends the change, as the console's BIOS does.
    enum class ClockChange : u8 { kNone, kWaitSmpc, kWaitNmi, kDone };
    ClockChange m_clockChange = ClockChange::kNone;
    bool m_clockFast = false;
};
