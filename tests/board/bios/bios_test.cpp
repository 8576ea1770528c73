// The built-in BIOS's memory image, its dispatch and its system services,
// run through the processors' real address-error path.
#include "bios_fixture.h"

#include "board/bios/bios_bup.h"
#include "board/cart/cartridge.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr u32 kSetuint = 0x06000700;
constexpr u32 kGetuint = 0x06000704;
constexpr u32 kSetsint = 0x06000710;
constexpr u32 kGetsint = 0x06000714;
constexpr u32 kSetscuim = 0x06000740;
constexpr u32 kChgscuim = 0x06000744;
constexpr u32 kMaskCopy = 0x06000348;

}  // namespace

TEST_F(BiosTest, InstallWritesTheImageAndClearsWhatWasThere)
{
    // Leftovers of a previous program: ROM garbage and words in the service area.
    std::memset(sys->memory().bios.get(), 0xA5, SystemMemory::kBiosSize);
    for (u32 a = 0x06000600; a < 0x06000900; a += 4)
        setRamLong(a, 0x0009AFFE);
    ASSERT_TRUE(bios().install());

    // The reset vectors reach the bus through the ROM window.
    PageMap& bus = *master().pageMap();
    EXPECT_EQ(bus.readLong(&master(), 0x0), 0x06000600u);
    EXPECT_EQ(bus.readLong(&master(), 0x4), 0x06002000u);
    EXPECT_EQ(bus.readLong(&master(), 0x8), 0x06000600u);
    EXPECT_EQ(bus.readLong(&master(), 0xC), 0x06002000u);
    const u8* rom = sys->memory().bios.get();
    EXPECT_EQ(std::count(rom + 0x10, rom + SystemMemory::kBiosSize, 0), SystemMemory::kBiosSize - 0x10);
    for (u32 a = 0x06000600; a < 0x06000900; a += 4)
        ASSERT_EQ(ramLong(a), 0u) << std::hex << a;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ram() + 0x200), 16), "KEST_0.80U180410");

    // Tables the running tests below do not reach.
    for (u32 v : {4u, 6u, 9u, 10u}) {
        EXPECT_EQ(ramLong(0x06000000 + 4 * v), 0x060008D8u) << v;
        EXPECT_EQ(ramLong(0x06000400 + 4 * v), 0x060008D8u) << v;
    }
    EXPECT_EQ(ramLong(0x0600002C), 0x060008DCu);
    EXPECT_EQ(ramLong(0x0600042C), 0x060008D4u);
    EXPECT_EQ(ramLong(0x06000138), 0x060008D4u);
    EXPECT_EQ(ramLong(0x0600017C), 0x060008CCu);
    EXPECT_EQ(ramLong(0x06000500), 0x060008D4u);
    EXPECT_EQ(ramLong(0x06000260), 0x06000D00u);
    EXPECT_EQ(ramLong(0x06000AFC), 0x0070FE00u);
    EXPECT_EQ(ramLong(0x060003DC), 0x060007DCu);
}

TEST_F(BiosTest, ResetEntersSysInitWhichPreparesTheMaster)
{
    EXPECT_EQ(master().getPC(), 0x06000600u);
    EXPECT_EQ(master().r(15), 0x06002000u);
    for (int n = 0; n < 15; ++n)
        master().setR(n, 0x100 + n);
    master().setMach(1);
    master().setMacl(2);
    master().setGbr(3);
    master().setPr(4);
    master().setStatus(0xF3);
    sys->cdb().setHirqReq(0);
    setRamLong(kMaskCopy, 0x1234);
    code(BIOS::kProgramEntry, {kSelfLoop, kNop});

    EXPECT_EQ(run(master(), 1), 100u);
    EXPECT_EQ(master().getPC(), BIOS::kProgramEntry);
    for (int n = 0; n < 15; ++n)
        EXPECT_EQ(master().r(n), 0u) << n;
    EXPECT_EQ(master().r(15), 0x06002000u);
    EXPECT_EQ(master().mach(), 0u);
    EXPECT_EQ(master().macl(), 0u);
    EXPECT_EQ(master().gbr(), 0u);
    EXPECT_EQ(master().pr(), 0u);
    EXPECT_EQ(master().vbr(), 0x06000000u);
    EXPECT_EQ(master().packSR(), 0u);
    EXPECT_EQ(sys->cdb().hirqReq(), 0x0BC1);
    EXPECT_EQ(ramLong(kMaskCopy), 0xFFFFFFFFu);
    EXPECT_TRUE(log.contains("BIOS: SYS_INIT\n"));

    // Called by the slave: the master is prepared again, the slave stays.
    master().setR(3, 7);
    master().setPC(kCaller);
    slave().switchOn();
    slave().setR(3, 9);
    slave().setPC(0x06000600);
    EXPECT_EQ(run(slave(), 1), 100u);
    EXPECT_EQ(slave().getPC(), 0x06000600u);
    EXPECT_EQ(slave().r(3), 9u);
    EXPECT_EQ(master().r(3), 0u);
    EXPECT_EQ(master().getPC(), BIOS::kProgramEntry);
    EXPECT_TRUE(log.contains("BIOS: SYS_INIT is called via slave SH2\n"));
}

TEST_F(BiosTest, SysInitSetsUpTheCartridgeBackupDevice)
{
    sys->insertCartridge(std::make_shared<CartBUP4M>());
    sys->cartridgeId = 0x24;
    bootMaster();
    EXPECT_EQ(bios().bup(1).blockSize, 1024u);
    EXPECT_EQ(bios().bup(1).blockCount, 4096u);
    EXPECT_EQ(bios().bup(1).connected, 1);
    sys->cartridgeId = 0x5C;
    master().setPC(0x06000600);
    run(master(), 1);
    EXPECT_EQ(bios().bup(1).blockCount, 0u);
    EXPECT_EQ(bios().bup(1).connected, 0);
}

TEST_F(BiosTest, IdleEntryAndEntriesWithoutAService)
{
    bootMaster();
    // Parked: 3 clocks a visit, the PC never moves.
    master().setPC(BIOS::kIdle);
    EXPECT_EQ(run(master(), 10), 12u);
    EXPECT_EQ(master().getPC(), BIOS::kIdle);

    // An entry nothing serves is reported once and parks the processor
    // there at the idle entry's cost.
    master().setPr(0x06004010);
    master().setPC(0x06000608);
    EXPECT_EQ(run(master(), 10), 12u);
    EXPECT_EQ(master().getPC(), 0x06000608u);
    run(master(), 10);
    const std::string line = "BIOS: SH2(M): Function stored at [CA: 0600400C, INDEX: 208] is not implemented!\n";
    EXPECT_EQ(log.text().find(line), log.text().rfind(line));
    EXPECT_TRUE(log.contains(line));
}

TEST_F(BiosTest, ZeroWordsOutsideTheServiceAreaTakeTheAddressErrorToWaitNmi)
{
    bootMaster();
    for (u32 pc : {0x06000900u, 0x00001000u}) {
        master().setStatus(0);
        master().setR(0, 0);
        master().setPC(pc);
        const u32 sp = master().r(15);
        run(master(), 1);
        run(master(), 1);
        EXPECT_EQ(master().getPC(), BIOS::kIdle) << std::hex << pc;
        EXPECT_EQ(master().r(0), 0xF0u);
        EXPECT_EQ(master().packSR(), 0xF0u);
        EXPECT_EQ(master().r(15), sp - 8) << "the exception frame stays";
        EXPECT_EQ(ramLong(sp - 8), pc);
        char line[64];
        std::snprintf(line, sizeof line, "Address error, [PC: %08X]", pc);
        EXPECT_TRUE(log.contains(line)) << line;
    }
    EXPECT_TRUE(log.contains("BIOS: SH2(M): SYS_WAITNMI [CA: "));

    // A slave switched on under the built-in BIOS finds no program and parks
    // through its own table.
    slave().switchOn();
    EXPECT_EQ(slave().getPC(), 0u);
    run(slave(), 1);
    run(slave(), 1);
    EXPECT_EQ(slave().getPC(), BIOS::kIdle);
    EXPECT_TRUE(log.contains("BIOS: SH2(S): SYS_WAITNMI [CA: "));
}

// Services that do nothing useful still hand the processor back: the
// system ones keep R0, the file ones fail with -1.
TEST_F(BiosTest, ServicesThatAreNotServedReturnToTheCaller)
{
    bootMaster();
    struct Case {
        u32 entry;
        u32 r0;
        const char* line;
    };
    const Case cases[] = {
        {0x06000674, 0x55, "SH2(M): SYS_CHKMPEG is not implemented [CA: 06003FFC]"},
        {0x060006C8, 0x55, "SH2(M): SYS_UNKOWN is not implemented [CA: 06003FFC]"},
        {0x060006CC, 0x55, "SH2(M): SYS_LOADIP is not implemented [CA: 06003FFC]"},
        {0x060006D4, 0x55, "SH2(M): SYS_RD1STF is not implemented [CA: 06003FFC]"},
        {0x06000730, 0x55, "SH2(M): SYS_TASSEM is not implemented [CA: 06003FFC]"},
        {0x06000734, 0x55, "SH2(M): SYS_CLRSEM is not implemented [CA: 06003FFC]"},
        {0x060007C0, 0xFFFFFFFF, "GFSD_Init"}, {0x060007C4, 0xFFFFFFFF, "GFSD_GetFileNum"},
        {0x060007C8, 0xFFFFFFFF, "GFSD_GetFileInfo"}, {0x060007CC, 0xFFFFFFFF, "GFSD_Read"},
        {0x060007D0, 0xFFFFFFFF, "GFSD_Term"}, {0x060007D4, 0xFFFFFFFF, "GFSD_Open"},
        {0x060007D8, 0xFFFFFFFF, "GFSD_Close"}, {0x060007DC, 0xFFFFFFFF, "GFSD_GetBuf"},
    };
    for (const Case& c : cases) {
        for (int twice = 0; twice < 2; ++twice) {
            log.clear();
            master().setR(0, 0x55);
            call(master(), c.entry);
            EXPECT_EQ(master().getPC(), kCaller) << c.line;
            EXPECT_EQ(master().r(0), c.r0) << c.line;
            EXPECT_EQ(log.text(), std::string("BIOS: ") + c.line + "\n");
        }
    }
}

TEST_F(BiosTest, InterruptHandlerTables)
{
    bootMaster();
    // SYS_SETUINT / SYS_GETUINT: the SCU user handlers; 0 restores the default.
    master().setR(4, 0x41);
    master().setR(5, 0x06007000);
    EXPECT_EQ(call(master(), kSetuint), 8u);
    EXPECT_EQ(master().getPC(), kCaller);
    master().setR(4, 0x41);
    call(master(), kGetuint);
    EXPECT_EQ(master().r(0), 0x06007000u);
    EXPECT_EQ(master().r(4), 0x104u);
    master().setR(4, 0x41);
    master().setR(5, 0);
    call(master(), kSetuint);
    EXPECT_EQ(ramLong(0x06000A04), 0x0600084Cu);

    // SYS_SETSINT / SYS_GETSINT work on the caller's own table; 0 stores the
    // master table's entry, so on the master nothing changes.
    master().setR(4, 0x20);
    master().setR(5, 0x06007100);
    EXPECT_EQ(call(master(), kSetsint), 9u);
    master().setR(4, 0x20);
    master().setR(5, 0);
    call(master(), kSetsint);
    master().setR(4, 0x20);
    call(master(), kGetsint);
    EXPECT_EQ(master().r(0), 0x06007100u);
    EXPECT_EQ(master().r(4), 0x80u);
    slave().switchOn();
    slave().setR(4, 0x20);
    slave().setR(5, 0);
    call(slave(), kSetsint);
    EXPECT_EQ(ramLong(0x06000480), 0x06007100u);
    slave().setR(4, 0x43);
    slave().setR(5, 0x06007200);
    call(slave(), kSetuint);
    EXPECT_EQ(ramLong(0x06000A0C), 0x06007200u);
    EXPECT_TRUE(log.contains("BIOS: SYS_SETUINT is called via slave SH2 [CA: 06003FFC]\n"));

    // SYS_CHGUIPR copies a whole mask table.
    for (u32 i = 0; i < 32; ++i)
        setRamLong(0x06006000 + 4 * i, 0x11110000 + i);
    master().setR(4, 0x06006000);
    call(master(), 0x06000680);
    for (u32 i = 0; i < 32; ++i)
        ASSERT_EQ(ramLong(0x06000A80 + 4 * i), 0x11110000 + i);
}

TEST_F(BiosTest, ScuMaskServicesReachTheScu)
{
    bootMaster();
    sys->runFrame();
    // SYS_SETSCUIM opens V-BLANK-IN and timer 0 in the SCU itself.
    master().setR(4, 0xFFFFFFF6);
    EXPECT_EQ(call(master(), kSetscuim), 18u);
    EXPECT_EQ(master().getPC(), kCaller);
    EXPECT_EQ(ramLong(kMaskCopy), 0xFFFFFFF6u);
    EXPECT_EQ(sys->scu().reg(SCU::kAIACK), 0u);
    EXPECT_TRUE(log.contains("BIOS: SYS_SETSCUIM [CA: 06003FFC, SR: 00000000, MaskPat: FFFFFFF6]\n"));
    sys->runFrame();
    EXPECT_EQ(sys->scu().mask() & 0xFFFF, 0xFFF6u & 0xBFFF);

    // SYS_CHGSCUIM: (old AND R4) OR R5 in the copy and in the SCU.
    master().setPC(kCaller);
    master().setR(4, 0xFFFFFFFE);
    master().setR(5, 0x00000008);
    EXPECT_EQ(call(master(), kChgscuim), 20u);
    EXPECT_EQ(ramLong(kMaskCopy), 0xFFFFFFFEu);
    sys->runFrame();
    EXPECT_EQ(sys->scu().mask() & 0xFFFF, 0xFFFEu & 0xBFFF);
    // A mask with bit 15 clear acknowledges the A-bus.
    master().setPC(kCaller);
    master().setR(4, 0x00007FFF);
    call(master(), kSetscuim);
    EXPECT_EQ(sys->scu().reg(SCU::kAIACK), 1u);
}

TEST_F(BiosTest, ScuInterruptRoundTripRestoresEverything)
{
    bootMaster();
    master().setPC(kCaller);
    for (int n = 0; n < 15; ++n)
        master().setR(n, 0xA0 + n);
    master().setGbr(0x1111);
    master().setPr(0x2222);
    master().setStatus(0x0301);  // M, Q, T set, level 0
    setRamLong(kMaskCopy, 0x00001230);
    const u32 sp = master().r(15);

    // Vector 0x41 runs its handler at level 14 with 0xFFFE ORed into the mask.
    master().requestInterrupt(0x41, 14);
    EXPECT_EQ(run(master(), 1), 31u);
    EXPECT_EQ(master().getPC(), 0x0600084Cu);
    EXPECT_EQ(master().pr(), 0x060008D0u);
    EXPECT_EQ(master().r(0), 0x104u);
    EXPECT_EQ(master().r(2), 0xFFFFFFFEu);
    EXPECT_EQ(master().r(6), 0x0600084Cu);
    EXPECT_EQ(master().packSR(), 0xE0u);
    EXPECT_EQ(ramLong(kMaskCopy), 0xFFFFFFFEu);
    EXPECT_EQ(master().r(15), sp - 4 * 13);
    EXPECT_EQ(ramLong(sp - 4), 0x0301u) << "the interrupted SR";
    EXPECT_EQ(ramLong(sp - 8), kCaller) << "the interrupted PC";
    EXPECT_EQ(ramLong(sp - 52), 0x1111u) << "GBR on top";

    EXPECT_EQ(run(master(), 1), 3u);  // SYS_DUMMYFUNC
    EXPECT_EQ(master().getPC(), 0x060008D0u);
    EXPECT_EQ(run(master(), 1), 22u);  // the return
    EXPECT_EQ(master().getPC(), kCaller);
    for (int n = 0; n < 15; ++n)
        EXPECT_EQ(master().r(n), 0xA0u + n) << n;
    EXPECT_EQ(master().r(15), sp);
    EXPECT_EQ(master().gbr(), 0x1111u);
    EXPECT_EQ(master().pr(), 0x2222u);
    EXPECT_EQ(master().packSR(), 0x0301u);
    EXPECT_EQ(ramLong(kMaskCopy), 0x00001230u);
    EXPECT_TRUE(log.contains("BIOS: SH2(M): SYS_SCUINT [CA: 0000221E, Num: 041, Hdr: 0600084C, oldMask: 00001230]\n"));
    EXPECT_TRUE(log.contains("BIOS: SH2(M): SYS_DUMMYFUNC [CA: 060008CC]\n"));
}

TEST_F(BiosTest, ExceptionEntries)
{
    bootMaster();
    // SYS_DUMMYINT returns from the exception.
    const u32 sp = master().r(15);
    master().push(0x0000F2F1 & 0x3F3);
    master().push(0x06004002);
    master().setPC(0x060008D4);
    EXPECT_EQ(run(master(), 1), 5u);
    EXPECT_EQ(master().getPC(), 0x06004002u);
    EXPECT_EQ(master().packSR(), 0x2F1u);
    EXPECT_EQ(master().r(15), sp);
    EXPECT_TRUE(log.contains("BIOS: SH2(M): SYS_DUMMYINT [PC: 06004002, SP: 06002000, SR: 000002F1]\n"));

    // SYS_NMI parks the processor and leaves the frame.
    master().push(0);
    master().push(kCaller);
    master().setStatus(0xF0);
    master().setPC(0x060008DC);
    EXPECT_EQ(run(master(), 1), 100u);
    EXPECT_EQ(master().getPC(), BIOS::kIdle);
    EXPECT_EQ(master().r(15), sp - 8);
    EXPECT_TRUE(log.contains("BIOS: SH2(M): SYS_NMI is not implemented [PC: 060008DC, SP: 06001FF8, SR: 000000F0]\n"));

    // SYS_EXECDMP parks it too.
    EXPECT_EQ(call(master(), 0x0600066C), 30u);
    EXPECT_EQ(master().getPC(), BIOS::kIdle);
    EXPECT_TRUE(log.contains("BIOS: SYS_EXECDMP [CA: 06003FFC]\n"));
}

// OREG31 keeps CKCHG's code after the change is over: a later NMI (the
// reset button's) is no clock change's end and parks the processor, after
// a program's own CKCHG and after SYS_CHGSYSCK alike.
TEST_F(BiosTest, OnlyTheNmiOfAClockChangeEndsIt)
{
    bootMaster();
    const auto runTo = [&](u32 pc) {
        for (int i = 0; i < 20 && master().getPC() != pc; ++i)
            sys->runFrame();
        EXPECT_EQ(master().getPC(), pc);
    };
    const auto strayNmi = [&](u32 clock) {
        EXPECT_EQ(ramLong(0x06000324), clock) << "the clock the change recorded";
        EXPECT_EQ(sys->smpc().oreg(31), clock ? 0x0E : 0x0F);
        log.clear();
        master().requestNmi();
        runTo(BIOS::kIdle);
        EXPECT_TRUE(log.contains("SYS_NMI is not implemented")) << log.text();
    };
    // SF := 1 and COMREG := CKCHG352 through R1 and R2, then a spin loop.
    master().setR(1, 0x20100063);
    master().setR(2, 0x2010001F);
    code(kCaller, {0xE001, 0x2100, 0xE00E, 0x2200, kSelfLoop, kNop});
    master().setPC(kCaller);
    runTo(kCaller + 8);
    EXPECT_TRUE(log.contains("BIOS: SH2(M): SYS_NMI after a clock change [PC: ")) << log.text();
    strayNmi(1);

    master().setR(4, 0);
    master().setPr(kCaller + 8);
    master().setPC(ramLong(0x06000320));  // SYS_CHGSYSCK to 320 dots
    runTo(kCaller + 8);
    strayNmi(0);
}
