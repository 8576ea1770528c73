#include "cd/cdb/cdb.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "board/scu/scu.h"
#include "cd/cdb/mpeg_card.h"
#include "cd/drive/cd_drive.h"
#include "core/base/cpu.h"

namespace {

constexpr u32 kIdleDrivePeriodNs = 16666666;
constexpr u32 kSingleSpeedNs = 13333333;
constexpr u32 kDoubleSpeedNs = 6666666;
constexpr u32 kFirstDriveEventNs = 1000000000;
constexpr u32 kFirstStandbyTickNs = 500000000;
constexpr u32 kSecondNs = 1000000000;
constexpr u32 kSeekNs = 10000000;
constexpr u32 kReadTocNs = 10000000;
constexpr u32 kCommandCutNs = 10000;

// The 2 MB CD-audio ring, cut to whole sectors so a sector never wraps.
constexpr u32 kAudioRingBytes = 2097152 / CDB::kRawBytes * CDB::kRawBytes;

// The 16-bit data transfer register: the data port's transfer, a half
// word at a time.
constexpr u32 kRegTransfer = 0x00;
constexpr u32 kRegHirqReq = 0x08;
constexpr u32 kRegHirqMsk = 0x0C;
constexpr u32 kRegCr1 = 0x18;
constexpr u32 kRegCr4 = 0x24;
constexpr u32 kRegScratch = 0x28;
constexpr u32 kRegInfo = 0x8000;
constexpr u32 kDataPort = 0x8000;

// The CD block drives one interrupt line, wired to the SCU's external
// interrupt 0 (the A-bus interrupt, vector 0x50).
constexpr int kCdInterrupt = 0;

bool fromSlave(CPU* cpu)
{
    return cpu && (cpu->getIndex() & 1);
}

}  // namespace

CDB::CDB(SCU* scu, CDDrive* drive)
    : Device("CDB"),
      m_scu(scu),
      m_drive(drive),
      m_mpegFrame(std::make_unique<u32[]>(kMpegWidth * kMpegHeight)),
      m_mpeg(std::make_unique<MpegCard>(*this)),
      m_audio(std::make_unique<u8[]>(kAudioRingBytes)),
      m_dtr(*this),
      m_pool(std::make_unique<u8[]>(std::size_t{kPoolSectors} * kRawBytes))
{
    for (u32 n = 0; n < kFilters; ++n)
        m_filters[n] = std::make_unique<Filter>(n);
    for (u32 n = 0; n < kBuffers; ++n)
        m_buffers[n] = std::make_unique<Buffer>(*this, n);
    relinkPool();
    m_tracks.reserve(CCd::kMaxTrack);
}

CDB::~CDB()
{
    cancelOwnEvents();
}

void CDB::cancelOwnEvents()
{
    for (EventHandle* h : {&m_driveEvent, &m_standbyEvent, &m_copyEvent, &m_tocEvent, &m_seekEvent, &m_commandEvent,
                           &m_discAuthEvent, &m_mpegAuthEvent}) {
        cancelEvent(*h);
        *h = {};
    }
}

void CDB::powerOn()
{
    // The system manager's CDON reaches a block that may already run; the
    // block keeps its own record of whether its events are in place, since
    // CDOFF leaves the run state alone.
    if (m_eventsScheduled)
        return;
    // A block switched on keeps nothing of its last run: a program finds it
    // as on the first power-on, whatever the disc before it left routed,
    // queued or half decoded.
    m_queue.clear();
    m_command = {};
    clearSettingsAndRouting();
    relinkPool();
    m_mpeg = std::make_unique<MpegCard>(*this);
    std::fill_n(m_mpegFrame.get(), kMpegWidth * kMpegHeight, 0u);
    m_frames = 0;
    m_seekTarget = 0;
    m_pauseSeconds = 0;
    m_scratch = 0;
    m_blockSize = 2048;
    // The disc may have changed: its table is read anew.
    m_tracks.clear();
    m_leadOut = 0;
    m_sessionFirst = 0;
    reset();
    m_drivePeriod = kIdleDrivePeriodNs;
    m_driveEvent = schedule(kFirstDriveEventNs, onDriveEvent, Scheduler::kForever, m_drivePeriod, 0);
    m_standbyEvent = schedule(kFirstStandbyTickNs, onStandbyTimer, Scheduler::kForever, kSecondNs, 0);
    m_eventsScheduled = true;
}

void CDB::powerOff()
{
    if (!m_eventsScheduled)
        return;
    cancelOwnEvents();
    m_copy.state = 0;
    m_eventsScheduled = false;
}

void CDB::reset()
{
    m_fileOp = kPlainPlay;
    m_status = kStandby;
    m_driveState = kStandby;
    m_targetFad = 0;
    m_current.fad = 0;
    // A copy running across the reset would keep a scheduler record alive
    // for a state the reset has forgotten.
    cancelEvent(m_copyEvent);
    m_copyEvent = {};
    // The block proves the disc and the card anew.
    for (EventHandle* h : {&m_discAuthEvent, &m_mpegAuthEvent}) {
        cancelEvent(*h);
        *h = {};
    }
    m_discAuth = m_mpegAuth = kAuthNone;
    m_subcodeQ = {};
    clearFiles(2);
    m_mpeg->reset();
    m_audioRead = 0;
    clearAudio();
    std::memset(m_toc, 0xFF, sizeof m_toc);
    m_tocRead = 0;
    switch (m_drive ? m_drive->getState() : CDDrive::kNoDisc) {
    case CDDrive::kTrayOpen: m_status = kTrayOpen; break;
    case CDDrive::kNoDisc: m_status = kNoDisc; break;
    default:
        cancelEvent(m_tocEvent);
        m_tocEvent = schedule(kReadTocNs, onReadToc, 1, Scheduler::kOneShot, 0);
        logInfo(1, "readTOC<BEGIN>");
        break;
    }
    m_cr[0] = 0x0043;
    m_cr[1] = 0x4442;
    m_cr[2] = 0x4C4F;
    m_cr[3] = 0x434B;
    m_hirqReq.set(0x0BC1);
    m_hirqMask = 0;
    m_dtr.reset();
    m_report = true;
    m_actualSize = 0;
    m_infoIndex = m_infoCount = 0;
    m_start = m_end = m_current = {};
    m_standbyTime = 180;
    m_eccFrequency = 1;
    m_retryFrequency = 0;
    m_getSetting = 0;
    m_putSetting = 3;
    m_lastBuffer = kNone;
    // The console's BIOS has used the block before a program runs, so
    // programs find each filter's true output joined to its partition, as
    // CdInit's reset leaves it, and some never route it themselves.
    for (u32 n = 0; n < kFilters; ++n)
        join(m_filters[n]->trueEnd, m_buffers[n]->input);
    m_fadSearch = {};
    m_copy = {};
    m_scanDirection = 0;
}

bool CDB::copyEventPending() const
{
    return scheduler().isPending(m_copyEvent);
}

// ---------------------------------------------------------------------------
// Registers

void CDB::setHirq(u16 bits)
{
    bits &= 0x3FFF;
    m_hirqReq.set(m_hirqReq.bits() | bits);
    if (bits & m_hirqMask)
        m_scu->irqExternal(kCdInterrupt);
}

// The words whose reads change nothing, as read; false for the others.
bool CDB::peekRegister(u32 address, u16& value) const
{
    switch (address & 0xFFFF) {
    case kRegHirqReq: value = m_hirqReq.bits(); return true;
    case kRegHirqMsk: value = m_hirqMask; return true;
    case kRegCr1: value = m_cr[0]; return true;
    case kRegCr1 + 4: value = m_cr[1]; return true;
    case kRegCr1 + 8: value = m_cr[2]; return true;
    case kRegScratch: value = m_scratch; return true;
    default: return false;
    }
}

// The interrupt registers' reads are traced.
bool CDB::readTraced(u32 address) const
{
    const u32 offset = address & 0xFFFF;
    return (offset == kRegHirqReq || offset == kRegHirqMsk) && logs(4);
}

u16 CDB::readRegister(CPU*, u32 address)
{
    u16 value = 0;
    if (peekRegister(address, value)) {
        // Each line keeps a format of its own: the log bounds lines by format.
        if (readTraced(address) && (address & 0xFFFF) == kRegHirqReq)
            logTrace(4, "Read HIRQREQ [D: %04X]", value);
        else if (readTraced(address))
            logTrace(4, "Read HIRQMSK [D: %04X]", value);
        return value;
    }
    switch (address & 0xFFFF) {
    case kRegTransfer:
        // One register carries both kinds of transfer: with no sector
        // transfer running, it hands out the info data. A word begun is
        // finished first, though its transfer ended with its high half.
        if (!m_dtr.halfPending() && !m_dtr.input.peer() && m_infoIndex < m_infoCount)
            return readInfoWord();
        return m_dtr.readHalf();
    case kRegCr4:
        m_report = true;
        return m_cr[3];
    case kRegInfo: return readInfoWord();
    default:
        logWarning(1, "Bad RW [A: %08X]", address);
        return 0;
    }
}

// The registers change only in the block's events and in accesses that are
// not steady themselves; HIRQREQ answers with the count of its changes.
bool CDB::steadyRegister(u32 address, u32 width, u32& value) const
{
    if (width != 2 || readTraced(address))
        return false;
    if ((address & 0xFFFF) == kRegHirqReq) {
        value = m_hirqReq.steadyValue();
        return true;
    }
    u16 word = 0;
    if (!peekRegister(address, word))
        return false;
    value = word;
    return true;
}

u16 CDB::readInfoWord()
{
    if (m_infoIndex >= m_infoCount || m_infoIndex >= kInfoWords)
        return 0xFFFF;
    return m_info[m_infoIndex++];
}

void CDB::writeRegister(CPU* cpu, u32 address, u16 value)
{
    switch (address & 0xFFFF) {
    case kRegTransfer: m_dtr.writeHalf(value); break;
    case kRegHirqReq:
        logTrace(4, "Write HIRQREQ [D: %04X]", value);
        m_hirqReq.set(m_hirqReq.bits() & value & 0x3FFF);
        m_report = value & 1;
        break;
    case kRegHirqMsk:
        logTrace(4, "Write HIRQMSK [D: %04X]", value);
        m_hirqMask = value & 0x3FFF;
        break;
    case kRegCr1: m_cr[0] = value; break;
    case kRegCr1 + 4: m_cr[1] = value; break;
    case kRegCr1 + 8: m_cr[2] = value; break;
    case kRegCr4:
        m_cr[3] = value;
        queueCommand(cpu);
        break;
    case kRegScratch: m_scratch = value; break;
    default: logWarning(1, "Bad WW [A: %08X, D: %04X]", address, value); break;
    }
}

u32 CDB::readDataPort(u32 address)
{
    if ((address & 0xFFFF) != kDataPort) {
        logWarning(1, "Bad RL [A: %08X]", address);
        return 0xFFFFFFFF;
    }
    return m_dtr.read();
}

void CDB::writeDataPort(u32 address, u32 value)
{
    if ((address & 0xFFFF) != kDataPort) {
        logWarning(1, "Bad WL [A: %08X, D: %08X]", address, value);
        return;
    }
    m_dtr.write(value);
}

namespace {

CDB& self(void* owner)
{
    return *static_cast<CDB*>(owner);
}

// The register window serves words only: a byte or long access is noted
// for the slave and warned of, and a read gives 0.
template <typename T>
T refusedRead(void* o, CPU* cpu, u32 a)
{
    constexpr bool kByte = sizeof(T) == 1;
    if (fromSlave(cpu))
        self(o).logError(1, kByte ? "Slave SH2: RB [A:%08X]" : "Slave SH2: RL [A:%08X]", a);
    self(o).logWarning(1, kByte ? "Bad RB [A: %08X]" : "Bad RL [A: %08X]", a);
    return 0;
}

template <typename T>
void refusedWrite(void* o, CPU* cpu, u32 a, T d)
{
    constexpr bool kByte = sizeof(T) == 1;
    if (fromSlave(cpu))
        self(o).logError(1, kByte ? "Slave SH2: WB [A:%08X, D: %02X]" : "Slave SH2: WL [A:%08X, D: %08X]", a, d);
    self(o).logWarning(1, kByte ? "Bad WB [A: %08X, D: %02X]" : "Bad WL [A: %08X, D: %08X]", a, d);
}

u16 regRW(void* o, CPU* cpu, u32 a)
{
    return self(o).readRegister(cpu, a);
}

void regWW(void* o, CPU* cpu, u32 a, u16 d)
{
    self(o).writeRegister(cpu, a, d);
}

bool regSteady(void* o, const CPU*, u32 a, u32 width, u32& value)
{
    return self(o).steadyRegister(a, width, value);
}

u8 dataRB(void* o, CPU* cpu, u32 a)
{
    if (fromSlave(cpu))
        self(o).logError(1, "Slave SH2: RB [A:%08X]", a);
    if ((a & 0xFFFF) != kDataPort) {
        self(o).logWarning(1, "Bad RB [A: %08X]", a);
        return 0;
    }
    return static_cast<u8>(self(o).readDataPort(a) >> 24);
}

u16 dataRW(void* o, CPU*, u32 a)
{
    if ((a & 0xFFFF) != kDataPort) {
        self(o).logWarning(1, "Bad RW [A: %08X]", a);
        return 0;
    }
    return static_cast<u16>(self(o).readDataPort(a) >> 16);
}

u32 dataRL(void* o, CPU*, u32 a)
{
    return self(o).readDataPort(a);
}

// A byte or word written to the data port lands in the top of a long.
template <typename T>
void dataWrite(void* o, CPU* cpu, u32 a, T d, const char* slaveLine, const char* line)
{
    if (fromSlave(cpu))
        self(o).logError(1, slaveLine, a, d);
    if ((a & 0xFFFF) != kDataPort) {
        self(o).logWarning(1, line, a, d);
        return;
    }
    self(o).writeDataPort(a, u32{d} << (32 - 8 * sizeof d));
}

void dataWB(void* o, CPU* cpu, u32 a, u8 d)
{
    dataWrite(o, cpu, a, d, "Slave SH2: WB [A:%08X, D: %02X]", "Bad WB [A: %08X, D: %02X]");
}

void dataWW(void* o, CPU* cpu, u32 a, u16 d)
{
    dataWrite(o, cpu, a, d, "Slave SH2: WW [A:%08X, D: %04X]", "Bad WW [A: %08X, D: %04X]");
}

void dataWL(void* o, CPU* cpu, u32 a, u32 d)
{
    if (fromSlave(cpu))
        self(o).logError(1, "Slave SH2: WL [A:%08X, D: %08X]", a, d);
    self(o).writeDataPort(a, d);
}

}  // namespace

AccessHandlers CDB::getAccessHandlers(int area)
{
    if (area == kData)
        return {this, dataRB, dataWB, dataRW, dataWW, dataRL, dataWL};
    if (area == kRegisters) {
        AccessHandlers h{this, refusedRead<u8>, refusedWrite<u8>, regRW, regWW, refusedRead<u32>, refusedWrite<u32>};
        h.steadyRead = regSteady;
        return h;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Command queue and answers

void CDB::queueCommand(CPU* cpu)
{
    m_queue.push_back({{m_cr[0], m_cr[1], m_cr[2], m_cr[3]}});
    if (m_status == kBusy)
        return;
    m_command = m_queue.front();
    m_queue.pop_front();
    m_status = kBusy;
    const u32 delay = commandInfo(hi(0)).delayNs;
    // Kept so that a block switched off drops it: run later, it would
    // answer a command of the next power-on twice.
    Device& timer = cpu ? static_cast<Device&>(*cpu) : *this;
    m_commandEvent = timer.scheduleIn(delay, onCommandEvent, this, 1, Scheduler::kOneShot, 0);
}

void CDB::onCommandEvent(void* owner, u32)
{
    CDB& cdb = self(owner);
    cdb.m_commandEvent = {};
    cdb.updateStatus();
    cdb.dispatchCommand();
    cdb.setHirq(kCmok);
    scheduleCut(kCommandCutNs, 1, Scheduler::kOneShot);
}

void CDB::dispatchCommand()
{
    if (const Handler handler = commandInfo(hi(0)).handler) {
        (this->*handler)();
        return;
    }
    logError(1, "Illegal command: CR1: %04X, CR2: %04X, CR3: %04X, CR4: %04X, HIRQREQ: %04X, ST: %02X",
             m_command.cr[0], m_command.cr[1], m_command.cr[2], m_command.cr[3], m_hirqReq.bits(), m_status);
    // Answered as refused, so the program does not take its own command
    // words for a reply; an unknown code leaves the drive as it was.
    reportStatus(kReject);
}

void CDB::updateStatus()
{
    if (m_driveState >= kPaused && m_driveState <= kNoDisc)
        m_status = static_cast<u8>(m_driveState);
}

void CDB::answer(u16 cr1, u16 cr2, u16 cr3, u16 cr4)
{
    m_cr[0] = cr1;
    m_cr[1] = cr2;
    m_cr[2] = cr3;
    m_cr[3] = cr4;
}

void CDB::emptyReport()
{
    m_cr[0] = static_cast<u16>((m_cr[0] & 0xFF00) | 0xFF);
    m_cr[1] = m_cr[2] = m_cr[3] = 0xFFFF;
}

void CDB::positionReport(u32 fad, bool markData)
{
    const u32 t = trackAt(fad);
    const Track* info = track(t);
    if (t < 1 || t > 99 || !info) {
        emptyReport();
        return;
    }
    u8 low = static_cast<u8>(m_repeatCount & 0x0F);
    if (markData && (info->controlAdr & 0x40))
        low |= 0x80;
    m_cr[0] = static_cast<u16>((m_cr[0] & 0xFF00) | low);
    m_cr[1] = static_cast<u16>(info->controlAdr << 8 | t);
    m_cr[2] = static_cast<u16>(1 << 8 | ((fad >> 16) & 0xFF));
    m_cr[3] = static_cast<u16>(fad);
}

void CDB::reportStatus(u8 flags)
{
    m_cr[0] = static_cast<u16>((m_status | flags) << 8 | (m_cr[0] & 0xFF));
    if (flags == kReject) {
        emptyReport();
        return;
    }
    switch (m_status) {
    case kBusy: case kPaused: case kPlaying: case kScanning: positionReport(m_current.fad, true); break;
    case kStandby:
        if (m_targetFad == 0)
            emptyReport();
        break;
    case kSeeking: positionReport(m_targetFad, false); break;
    case kTrayOpen: case kNoDisc: case kError: emptyReport(); break;
    default: break;
    }
}

void CDB::specialAnswer(u8 kind, const char* name, const char* format, va_list args)
{
    char detail[256];
    std::vsnprintf(detail, sizeof detail, format, args);
    switch (kind) {
    case kReject:
        reportStatus(kReject);
        pauseDrive(false);
        logWarning(1, "%s<REJECT> %s", name, detail);
        break;
    case kWait:
        reportStatus(kWait);
        logWarning(2, "%s<WAIT> %s", name, detail);
        break;
    default:
        answer(0x0900, 0, 0, 0);
        pauseDrive(false);
        logWarning(1, "%s<ERROR> %s", name, detail);
        break;
    }
}

void CDB::reject(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    specialAnswer(kReject, commandName(), format, args);
    va_end(args);
}

void CDB::wait(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    specialAnswer(kWait, commandName(), format, args);
    va_end(args);
}

void CDB::error(const char* name, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    specialAnswer(kError, name, format, args);
    va_end(args);
}

u32 CDB::trackAt(u32 fad) const
{
    if (fad == 0)
        return 0;
    if (!m_tracks.empty() && fad >= m_leadOut)
        return 170;
    for (const Track& t : m_tracks) {
        if (t.start <= fad && fad <= t.end)
            return t.number;
    }
    return 0;
}

const CDB::Track* CDB::track(u32 number) const
{
    for (const Track& t : m_tracks) {
        if (t.number == number)
            return &t;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Periodic events

void CDB::setDrivePeriod(u32 ns)
{
    if (ns == m_drivePeriod || !m_eventsScheduled)
        return;
    // The scheduler has no way to change a period in place: the running
    // event is replaced by one at the new rate, due one new period from now.
    cancelEvent(m_driveEvent);
    m_drivePeriod = ns;
    m_driveEvent = schedule(ns, onDriveEvent, Scheduler::kForever, ns, 0);
}

void CDB::onDriveEvent(void* owner, u32)
{
    CDB& cdb = self(owner);
    const u32 fad = cdb.m_current.fad;
    const u32 t = cdb.trackAt(fad);
    const Track* info = t >= 1 && t <= 99 ? cdb.track(t) : nullptr;
    const u32 c = info ? info->controlAdr : 0;
    if ((c & 0x0F) == 1)
        cdb.m_subcodeQ = {fad - info->start, fad, t, 1, c};
    cdb.setHirq(kScdq);
    cdb.updateStatus();
    if (cdb.m_status != kPlaying)
        cdb.setDrivePeriod(kIdleDrivePeriodNs);
    else
        cdb.ecbUpdate();
    if (cdb.m_report)
        cdb.reportStatus(kPeriodic);
}

void CDB::onStandbyTimer(void* owner, u32)
{
    CDB& cdb = self(owner);
    if (cdb.m_status != kPaused)
        return;
    if (++cdb.m_pauseSeconds >= cdb.m_standbyTime) {
        cdb.m_pauseSeconds = 0;
        cdb.m_status = kStandby;
    }
}

void CDB::onSeekDone(void* owner, u32)
{
    CDB& cdb = self(owner);
    cdb.m_seekEvent = {};
    cdb.m_current.fad = cdb.m_targetFad;
    if (cdb.m_driveState == kSeeking)
        cdb.m_driveState = cdb.m_seekTarget;
}

void CDB::onReadToc(void* owner, u32)
{
    CDB& cdb = self(owner);
    cdb.m_tocEvent = {};
    cdb.readToc();
}

void CDB::readToc()
{
    const SessionInfo* session = m_drive ? m_drive->getSession(0) : nullptr;
    if (!session)
        return;
    m_tracks.clear();
    std::memset(m_toc, 0xFF, sizeof m_toc);
    const std::size_t tracks = std::min<std::size_t>(session->tracks.size(), CCd::kMaxTrack);
    for (std::size_t i = 0; i < tracks; ++i) {
        const TrackInfo& t = session->tracks[i];
        m_toc[i] = u32{t.controlAdr} << 24 | (t.startFad & 0xFFFFFF);
        m_tracks.push_back({t.controlAdr, t.number, t.startFad, t.endFad,
                            t.userDataSize ? t.userDataSize : SectorBuffer::userDataSize(t.mode)});
    }
    if (!m_tracks.empty()) {
        const Track& first = m_tracks.front();
        const Track& last = m_tracks.back();
        m_toc[99] = u32{first.controlAdr} << 24 | (first.number & 0xFF) << 16;
        m_toc[100] = u32{last.controlAdr} << 24 | (last.number & 0xFF) << 16;
        m_toc[101] = u32{last.controlAdr} << 24 | (session->leadOut & 0xFFFFFF);
    }
    m_leadOut = session->leadOut;
    m_sessionFirst = session->first & 0xFFFFFF;
    // A program may start a read before the table is in: its read stays.
    if (m_driveState == kStandby)
        pauseDrive(false);
    m_tocRead = 1;
    logInfo(1, "readTOC<END>");
}

// One step of a playing drive.
void CDB::ecbUpdate()
{
    SectorBuffer sector;
    // An image's sector is waited for, so a late read-ahead thread never
    // shifts the run; a real drive that is late skips this step.
    if (!m_drive || !m_drive->waitSector(sector)) {
        logTrace(4, "Can't get sector");
        return;
    }
    if (sector.mode == SectorBuffer::kAudio) {
        setDrivePeriod(kSingleSpeedNs);
        if (sector.size >= static_cast<s32>(kRawBytes))
            storeAudio(sector.data, kRawBytes);
        logTrace(1, "CdPlay<AUDIO>");
        endCdPlay();
        return;
    }
    // Gated on the pool itself: a game may clear the pool-full HIRQ bit
    // while no slot is free.
    if (m_freeCount == 0)
        return;
    const bool mpegPace = (m_mpegActionStatus & 0x0F) == 4 || (m_mpegActionStatus & 0xF0) == 0x40;
    setDrivePeriod(mpegPace || !m_doubleSpeed ? kSingleSpeedNs : kDoubleSpeedNs);
    const bool routed = routeSector(m_cdrom.output.peer(), sector);
    if (!routed) {
        const Filter& f0 = *m_filters[0];
        logWarning(2, "Streaming failed [FAD: %d, filter0(mode: %02X, CN: %d)]", m_current.fad, f0.mode, f0.channel);
    }
    switch (m_fileOp) {
    case kVolume: case kChangeDir: case kReadDir: {
        if (!routed) {
            advanceDrive();
            error("ecbUpdate", "Streaming failed");
            return;
        }
        ++m_sectorsDone;
        const u8* data = newestDirectorySector();
        if (!data)
            return;
        if (m_fileOp == kVolume)
            readVolumeDescriptors(data);
        else
            finishDirectory(m_fileOp);
        return;
    }
    case kReadFile:
        if (!routed)
            return;
        ++m_sectorsDone;
        advanceDrive();
        if (m_sectorsDone >= m_fileTotal) {
            pauseDrive(false);
            setHirq(kEfls);
            logInfo(1, "%s<END> [fstotal: %d, fssnum: %d]", "ReadFile", m_fileTotal, m_sectorsDone);
        }
        return;
    default:
        logTrace(1, "CdPlay<DATA>");
        endCdPlay();
        mpegIntake();
        return;
    }
}

void CDB::advanceDrive()
{
    if (m_drive)
        m_drive->nextSector();
    m_targetFad = (m_targetFad + 1) & 0x7FFFFF;
    m_current.fad = m_targetFad;
}

void CDB::endCdPlay()
{
    advanceDrive();
    if (m_current.fad <= m_end.fad)
        return;
    if (m_repeatMax < 15 && m_repeatCount >= m_repeatMax) {
        setHirq(kPend);
        pauseDrive(false);
        m_mpegActionStatus = 0x11;
        logInfo(1, "CdPlay<END>");
        return;
    }
    if (m_repeatMax < 15 || m_repeatCount < 14)
        ++m_repeatCount;
    // The drive's read ended with the range: it is asked for the range
    // again, so a looping track keeps playing.
    m_current.fad = m_targetFad = m_start.fad;
    if (m_drive && m_end.fad >= m_start.fad) {
        m_drive->pause(true);
        m_drive->read(m_start.fad, m_end.fad + 1 - m_start.fad);
    }
}

// ---------------------------------------------------------------------------
// CD audio

void CDB::clearAudio()
{
    std::memset(m_audio.get(), 0, m_audioFill ? m_audioFill : kRawBytes);
    m_audioWrite = m_audioFill = m_audioRead = 0;
}

void CDB::storeAudio(const u8* data, u32 bytes)
{
    for (u32 done = 0; done < bytes;) {
        const u32 n = std::min(bytes - done, kAudioRingBytes - m_audioWrite);
        std::memcpy(m_audio.get() + m_audioWrite, data + done, n);
        done += n;
        m_audioWrite += n;
        if (m_audioWrite >= kAudioRingBytes)
            m_audioWrite = 0;
    }
    m_audioFill = std::min(m_audioFill + bytes, kAudioRingBytes);
}

bool CDB::readExternalInput(void* out, int kind)
{
    if (!out)
        return false;
    if (kind == 0) {
        // Caught up with the drive, or past the end of the audio: silence
        // until more arrives. Playing the newest sector again would loop a
        // stream's last chunk as a buzz.
        if (m_audioRead == m_audioWrite) {
            std::memset(out, 0, 4);
            return true;
        }
        std::memcpy(out, m_audio.get() + m_audioRead, 4);
        m_audioRead += 4;
        if (m_audioRead >= kAudioRingBytes)
            m_audioRead = 0;
        return true;
    }
    if (kind == 1) {
        *static_cast<FrameBuffer*>(out) = {kMpegWidth, kMpegHeight, m_mpegFrame.get()};
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Drive control

void CDB::pauseDrive(bool flush)
{
    if (m_drive)
        m_drive->pause(flush);
    if (m_driveState == kStandby && m_targetFad == 0)
        m_targetFad = m_current.fad = kLeadInFrames;
    m_driveState = kPaused;
    clearAudio();
}

void CDB::playDrive(u32 kind, u32 count)
{
    m_fileOp = kind;
    if (m_drive) {
        // A drive still streaming an old range would ignore the new read.
        m_drive->pause(true);
        m_drive->read(m_targetFad, count);
    }
    if (m_current.fad != m_targetFad)
        seekTo(kPlaying);
    else
        m_driveState = kPlaying;
}

void CDB::seekTo(u32 target)
{
    if (target == kSeeking)
        return;
    if (m_driveState != kSeeking) {
        m_driveState = kSeeking;
        cancelEvent(m_seekEvent);
        m_seekEvent = schedule(kSeekNs, onSeekDone, 1, Scheduler::kOneShot, 0);
    }
    m_seekTarget = target;
    clearAudio();
}

void CDB::resumeDrive()
{
    m_driveState = kPlaying;
    if (m_drive)
        m_drive->resume();
}

void CDB::openTray()
{
    if (m_drive)
        m_drive->openTray();
    m_status = kTrayOpen;
    // The disc may be another once the tray closes.
    m_discAuth = kAuthNone;
}
