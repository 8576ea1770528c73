#pragma once

#include <array>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "board/periph/peripheral.h"
#include "board/smpc/smpc_machine.h"
#include "core/base/device.h"
#include "core/base/save_file.h"

class CPU;

// The system manager and peripheral controller: a byte register window
// through which the SH-2s switch chips, reset the machine, change its
// clock, set the battery-backed clock and memory, and read the controllers.
// It runs no code: it acts in register accesses, scheduler events and the
// machine's frame events.
class SMPC : public Device {
public:
    // One controller port; it shares its peripheral with whoever made it.
    class Port : public Object {
    public:
        static constexpr u8 kDirect = 0xF1;
        static constexpr u8 kEmpty = 0xF0;
        static constexpr u8 kMultitap = 0x16;

        using Object::Object;

        bool attach(std::shared_ptr<Peripheral> peripheral);
        void detach();
        bool isConnected() const { return m_peripheral != nullptr; }
        void poll();
        u8 readId() const;
        // The data bytes, their number in count; null and count untouched
        // when nothing is attached.
        const u8* readData(u32& count) const;

        const std::shared_ptr<Peripheral>& peripheral() const { return m_peripheral; }
        u8 status = kEmpty;
        u8 mode = 0;

    private:
        std::shared_ptr<Peripheral> m_peripheral;
    };

    // The unset clock: Friday 31 December 1993, 12:59:59, standing still.
    struct Clock {
        int year = 1993;
        int month = 12;  // 1-12
        int day = 31;
        int hour = 12;
        int minute = 59;
        int second = 59;
        int weekday = 5;  // 0 Sunday
    };

    static constexpr u32 kBatteryBytes = 32;
    static constexpr const char* kBatteryFile = "sat_battery.sav";

    using HostClock = s64 (*)();

    explicit SMPC(SmpcMachine* machine);
    ~SMPC() override;

    void powerOn() override;
    void reset() override;
    bool readExternalInput(void* out, int kind) override;
    AccessHandlers getAccessHandlers(int area) override;

    static u8 read8(void* owner, CPU* cpu, u32 a);
    static u16 read16(void* owner, CPU* cpu, u32 a);
    static u32 read32(void* owner, CPU* cpu, u32 a);
    static bool steadyRead(void* owner, const CPU* cpu, u32 a, u32 width, u32& value);
    static void write8(void* owner, CPU* cpu, u32 a, u8 d);
    static void write16(void* owner, CPU* cpu, u32 a, u16 d);
    static void write32(void* owner, CPU* cpu, u32 a, u32 d);

    void onVBlankIn();
    void onVBlankOut();
    void onHBlankOut(int line);

    void endCommand();

    // 0 is port 1, any other number port 2.
    Port& getPort(int n) { return n == 0 ? m_ports[0] : m_ports[1]; }

    // The folder of the battery file, "saves/" unless the owner says
    // otherwise. Setting it lets go of the file opened before; the file is
    // opened when the clock or SMEM is first needed, or by openBattery.
    void setSaveFolder(const std::string& folder);
    const std::string& saveFolder() const { return m_saveFolder; }
    // (Re)reads the battery file, which is then held until closeBattery.
    void openBattery();
    // Lets go of the file, for another program to use; the next need of
    // the clock or SMEM opens it again.
    void closeBattery();
    // The battery file once opened; empty before.
    const std::string& batteryPath() const { return m_battery.path(); }
    SaveFile& batteryFile() { return m_battery; }
    // Its last write failed: the file lacks the clock or SMEM.
    bool batteryFailing() const { return m_battery.failing(); }
    void saveBattery();
    // The fields of a battery record; false when it is not one of ours.
    static bool readBatteryRecord(const u8* record, bool& timeSet, std::array<u8, 4>& smem, s64& clockOffset);
    // Where host time comes from, in seconds since 1970 (tests fix it).
    void setHostClock(HostClock clock) { m_hostClock = clock ? clock : &SMPC::systemTime; }
    Clock currentTime();

    void setAreaCode(u8 code) { m_areaCode = code; }
    u8 areaCode() const { return m_areaCode; }

    // State for the debugger and the tests.
    u8 ireg(int n) const { return n >= 0 && n < 7 ? m_ireg[static_cast<u32>(n)] : 0; }
    u8 oreg(int n) const { return m_oreg[n & 31]; }
    u8 comreg() const { return m_comreg; }
    u8 sr() const { return m_sr; }
    u8 sf() const { return m_sf; }
    bool busy() const { return m_busy; }
    bool intbackInProgress() const { return m_intback; }
    bool inVBlank() const { return m_inVBlank; }
    bool timeSet() { openBatteryIfNeeded(); return m_timeSet; }
    s64 clockOffset() { openBatteryIfNeeded(); return m_clockOffset; }
    const u8* smem() { openBatteryIfNeeded(); return m_smem.data(); }
    bool soundOn() const { return m_soundOn; }
    bool cdOn() const { return m_cdOn; }
    bool clock352() const { return m_clock352; }
    // Whether a clock change raised an NMI that no one has claimed as its
    // end yet; the claim clears it.
    bool takeClockChangeNmi() { return std::exchange(m_clockChangeNmi, false); }
    bool resetDisabled() const { return m_resetDisabled; }

private:
    u8 readByte(CPU* cpu, u32 a);
    bool peekByte(u32 offset, u8& value) const;
    void writeByte(CPU* cpu, u32 a, u8 d);
    void writeCommand(CPU* cpu, u8 code);
    void writeIreg0(u8 value);
    void startIntback();
    void runCommand(u8 code);
    void statusPhase();
    void periphPhase();
    void schedulePhase(u32 delay, EventCallback callback);
    bool slaveRefuses(const char* command);
    void switchSound(bool on);
    void changeClock(u32 hz, bool fast);
    u8 readPort(int port) const;
    void writeArcadeLines(u8 d);
    void writeSoundLine(u8 d);

    void openBatteryIfNeeded();
    void setClockFromIregs();

    static void onCommand(void* owner, u32 argument);
    static void onStatus(void* owner, u32 argument);
    static void onPeriph(void* owner, u32 argument);
    static void onVBlankPulseEnd(void* owner, u32 argument);
    static s64 systemTime();

    SmpcMachine* m_machine;
    std::array<Port, 2> m_ports;

    std::array<u8, 7> m_ireg{};
    u8 m_comreg = 0;
    u8 m_command = 0;
    std::array<u8, 7> m_commandIreg{};
    std::array<u8, 32> m_oreg{};
    u8 m_sr = 0;
    u8 m_sf = 0;
    u8 m_pdr[2] = {};
    u8 m_ddr[2] = {};
    u8 m_iosel = 0;
    u8 m_exle = 0;
    u8 m_areaCode = 0;

    bool m_busy = false;
    bool m_intback = false;
    bool m_periphRequested = false;
    bool m_inVBlank = false;
    bool m_resetDisabled = false;
    bool m_clock352 = false;
    bool m_clockChangeNmi = false;
    bool m_systemReset[2] = {};
    bool m_soundOn = false;
    bool m_cdOn = false;
    bool m_vblankPulse = false;
    // Never set: no reset button, no transfer in several parts.
    bool m_resetButton = false;
    bool m_moreData = false;
    u32 m_operation = 0;
    Device* m_requester = nullptr;
    bool m_requesterSlave = false;

    // Arcade board lines.
    u8 m_soundHold = 0;
    u8 m_cartSelect = 0;

    // Battery-backed state.
    bool m_timeSet = false;
    s64 m_clockOffset = 0;
    std::array<u8, 4> m_smem{};
    std::string m_saveFolder = "saves/";
    SaveFile m_battery{"battery"};
    bool m_batteryOpened = false;
    HostClock m_hostClock = &SMPC::systemTime;

    // Events that name this device as their owner, cancelled with it. A
    // command, its phases and the V-blank pulse never need more at once.
    void track(EventHandle handle);
    std::array<EventHandle, 8> m_events{};
};
