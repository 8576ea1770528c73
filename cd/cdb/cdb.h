#pragma once

#include <array>
#include <cstdarg>
#include <deque>
#include <memory>
#include <vector>

#include "cd/media/sector_buffer.h"
#include "core/base/helpers.h"
#include "core/base/device.h"
#include "core/base/external_frame.h"

class SCU;
class CDDrive;
class CPU;

// The console's CD block as the main processors see it: four command
// registers, an interrupt request register with its mask, an info-data port
// and a data port. Commands run in scheduled events; a periodic drive event
// takes sectors from the drive and routes them through filters into buffer
// partitions, the file reader or the CD-audio ring.
class CDB : public Device {
public:
    static constexpr u32 kMpegWidth = 512;
    static constexpr u32 kMpegHeight = 256;
    static constexpr u32 kFilters = 24;
    static constexpr u32 kBuffers = 24;
    static constexpr u32 kPoolSectors = 200;
    static constexpr u32 kTocWords = 102;
    static constexpr u32 kInfoWords = 1524;
    static constexpr u32 kFileEntries = 256;
    static constexpr u32 kRawBytes = 2352;
    static constexpr u8 kNone = 255;

    enum Area : int { kData = 0, kRegisters = 1 };

    // What kind 1 of readExternalInput fills in.
    using FrameBuffer = ExternalFrame;

    // Status codes; CR1's high byte in answers.
    enum Status : u8 {
        kBusy = 0,
        kPaused = 1,
        kStandby = 2,
        kPlaying = 3,
        kSeeking = 4,
        kScanning = 5,
        kTrayOpen = 6,
        kNoDisc = 7,
        kError = 9,
    };

    // HIRQ bits.
    enum Hirq : u16 {
        kCmok = 0x0001,
        kDrdy = 0x0002,
        kCsct = 0x0004,
        kBful = 0x0008,
        kPend = 0x0010,
        kDchg = 0x0020,
        kEsel = 0x0040,
        kEhst = 0x0080,
        kEcpy = 0x0100,
        kEfls = 0x0200,
        kScdq = 0x0400,
        kMpend = 0x0800,
        kMpcm = 0x1000,
    };

    enum FileOp : u32 { kPlainPlay = 0, kVolume = 1, kChangeDir = 2, kReadDir = 3, kReadFile = 4 };

    // What authentication selects (CR2) and what it found.
    enum AuthSelector : u16 { kAuthDisc = 0, kAuthMpeg = 1 };
    enum AuthResult : u8 {
        kAuthNone = 0,       // no disc, or not authenticated
        kAuthAudio = 1,      // an audio CD
        kAuthOtherData = 2,  // a data CD of another kind
        kAuthCopy = 3,       // a copied disc; an image has no ring to tell one by
        kAuthOriginal = 4,   // a disc of this console
        kAuthMpegCard = 2,   // the MPEG card is there
    };

    class Component;

    // One end of a link between two units. Single-peer ends hold one peer;
    // a partition's input holds the set of filters feeding it.
    class Connector : public Object {
    public:
        Connector(Component* owner, bool many) : Object("CDB.CONNECTOR"), m_owner(owner), m_many(many) {}
        bool isConnected() const { return m_many ? m_count != 0 : m_peer != nullptr; }
        void connect(Connector* peer);
        void detach(Connector* peer);
        void disconnect();
        Connector* peer() const { return m_peer; }
        Component* owner() const { return m_owner; }

    private:
        Component* m_owner;
        bool m_many;
        Connector* m_peer = nullptr;
        std::array<Connector*, kFilters> m_peers{};
        u32 m_count = 0;
    };

    class Component : public Object {
    public:
        Component(std::string name, u32 id) : Object(std::move(name)), m_id(id) {}
        u32 id() const { return m_id; }

    private:
        u32 m_id;
    };

    class Filter : public Component {
    public:
        enum Mode : u8 { kFileNumber = 0x01, kChannel = 0x02, kSubmode = 0x04, kCoding = 0x08, kReverse = 0x10,
                         kRange = 0x40, kClear = 0x80 };
        explicit Filter(u32 n);
        void clearConditions();
        // The sector's mode and its raw 2352 bytes.
        bool match(u32 mode, u32 fad, const u8* raw, bool subheaderFilter) const;
        u32 number() const { return id(); }

        Connector input{this, false};
        Connector trueEnd{this, false};
        Connector falseEnd{this, false};
        u32 fadStart = 0;
        u32 fadCount = 0;
        u8 mode = 0;
        u8 fileNumber = 0;
        u8 channel = 0;
        u8 submodeMask = 0;
        u8 submodeValue = 0;
        u8 codingMask = 0;
        u8 codingValue = 0;
    };

    // A buffer partition: pool slots in arrival order (position 0 oldest).
    class Buffer : public Component {
    public:
        Buffer(CDB& cdb, u32 n);
        bool put(u32 mode, const u8* raw);
        void remove(u32 position, u32 count);
        void clear();
        u8* sectorAt(u32 position) const;
        u32 number() const { return id() & 0x3F; }
        u32 count() const { return m_count; }

        Connector input{this, true};
        Connector output{this, false};

    private:
        CDB& m_cdb;
        std::array<u8, kPoolSectors> m_slots{};
        u32 m_count = 0;
    };

    // The MPEG card's units (mpeg_card.h).
    class MPEGDecoder;
    class MPEGDecoderA;
    class MPEGDecoderV;

    class CDROM : public Component {
    public:
        CDROM() : Component("CDB.CDROM", 0x80) {}
        Connector output{this, false};
    };

    // The data transfer unit between the data port and the partitions.
    class DTR : public Component {
    public:
        explicit DTR(CDB& cdb) : Component("CDB.DATATRNS", 0x81), m_cdb(cdb) {}
        void reset();
        void beginGet(s32 position, u32 count, bool remove);
        void beginPut(u32 count);
        u32 read();
        void write(u32 value);
        // The 16-bit transfer register: each 32-bit word of the same
        // transfer in two halves, the high one first.
        u16 readHalf();
        void writeHalf(u16 value);
        // The low half of a word whose high half was read is still to come.
        bool halfPending() const { return m_lowHalfNext; }

        Connector input{this, false};
        Connector output{this, false};

    private:
        void start(s32 length, s32 index, u32 count);
        bool loadSector(u32 position);
        // The next word of a get; false (w 0) with no transfer running.
        bool fetch(u32& w);

        CDB& m_cdb;
        s32 m_length = 0;
        s32 m_index = 0;
        u32 m_count = 0;
        u32 m_done = 0;
        const u8* m_data = nullptr;
        s32 m_first = -1;
        bool m_delete = false;
        // The word the halves come from or go to; set while its low half waits.
        u32 m_halfWord = 0;
        bool m_lowHalfNext = false;
        bool m_halfFetched = false;
        SectorBuffer m_sector;
    };

    // One entry of the directory table.
    struct File {
        u32 fad = 0;
        u32 size = 0;
        u8 unitSize = 0;
        u8 gapSize = 0;
        u8 fileNumber = 0;
        u8 attribute = 0;
        char name[16] = {};
    };

    struct PlayPosition {
        u32 mode = 0;  // 0 FAD, 1 track/index
        u32 fad = 0;
        void set(u32 m, u32 f) { mode = m; fad = f & 0x7FFFFF; }
    };

    struct Track {
        u8 controlAdr = 0;
        u32 number = 0;
        u32 start = 0;
        u32 end = 0;
        u32 userSize = 0;
    };

    CDB(SCU* scu, CDDrive* drive);
    ~CDB() override;

    bool setup(u32) override { return true; }
    void powerOn() override;
    void powerOff() override;
    void reset() override;
    bool readExternalInput(void* out, int kind) override;
    AccessHandlers getAccessHandlers(int area) override;

    void onVBlankIn() { ++m_frames; }
    void setHirq(u16 bits);
    void setHirqReq(u16 value) { m_hirqReq.set(value & 0x3FFF); }
    // The console's BIOS proves the disc before it boots it; the built-in
    // BIOS leaves the block as if it had.
    void authenticateAtBoot() { m_discAuth = authenticateDisc(); }
    u16 hirqReq() const { return m_hirqReq.bits(); }
    void setHirqMask(u16 value) { m_hirqMask = value & 0x3FFF; }
    void setMpegCard(u8 present) { m_mpegCard = present; }
    u8 mpegCard() const { return m_mpegCard; }
    u32 frames() const { return m_frames; }

    // The register window as a processor sees it (cpu may be null).
    u16 readRegister(CPU* cpu, u32 address);
    // A register read that a waiting processor may count as memory; HIRQREQ
    // answers with what also tells each change apart.
    bool steadyRegister(u32 address, u32 width, u32& value) const;
    void writeRegister(CPU* cpu, u32 address, u16 value);
    u32 readDataPort(u32 address);
    void writeDataPort(u32 address, u32 value);

    // Inspection for the debugger and the tests.
    u16 cr(int n) const { return m_cr[n & 3]; }
    u8 status() const { return m_status; }
    u32 driveState() const { return m_driveState; }
    u32 freeSectors() const { return m_freeCount; }
    const Buffer& buffer(u32 n) const { return *m_buffers[n % kBuffers]; }
    const Filter& filter(u32 n) const { return *m_filters[n % kFilters]; }
    const File& file(u32 n) const { return m_files[n % kFileEntries]; }
    u32 filesStored() const { return m_infnum; }
    bool eventsScheduled() const { return m_eventsScheduled; }
    bool copyEventPending() const;
    void runDriveEvent() { onDriveEvent(this, 0); }

    // Parses one ISO 9660 directory record into an entry. The record must
    // lie inside the bytes given; false (with the entry as far as read)
    // when its lengths do not fit.
    bool parseDirectoryRecord(File& entry, const u8* record, u32 available) const;
    // Walks the records of one directory sector of blockSize bytes into
    // the table, storing records from the scope start on.
    void walkDirectorySector(const u8* data, u32 blockSize);
    void clearFiles(u32 scopeStart);

private:
    friend class Buffer;
    friend class DTR;
    struct MpegCard;

    bool peekRegister(u32 address, u16& value) const;
    bool readTraced(u32 address) const;

    using Handler = void (CDB::*)();
    struct Command {
        u16 cr[4];
    };
    // One row per command code: everything else about a command comes from it.
    struct CommandInfo {
        u8 code;
        const char* name;
        Handler handler;
        u32 delayNs;  // from the CR4 write to the answer
    };
    // Flags ORed into CR1's high byte; a REJECT fills the whole answer.
    enum AnswerFlag : u8 { kPeriodic = 0x20, kWait = 0x80, kReject = 0xFF };

    // The row of a code; one without a handler for a code the block does not know.
    static const CommandInfo& commandInfo(u8 code);
    // The name of the command being executed, as its logs give it.
    const char* commandName() const { return commandInfo(hi(0)).name; }
    static void onCommandEvent(void* owner, u32);
    static void onDriveEvent(void* owner, u32);
    static void onStandbyTimer(void* owner, u32);
    static void onSeekDone(void* owner, u32);
    static void onReadToc(void* owner, u32);
    static void onCopyEvent(void* owner, u32);
    static void onAuthDone(void* owner, u32 device);

    void queueCommand(CPU* cpu);
    void dispatchCommand();
    void updateStatus();
    void reportStatus(u8 flags);
    // With data marked, CR1's low byte flags a data track.
    void positionReport(u32 fad, bool markData);
    void emptyReport();
    void answer(u16 cr1, u16 cr2, u16 cr3, u16 cr4);
    // REJECT (kReject), WAIT (kWait) or ERROR (kError) with its logged detail.
    void specialAnswer(u8 kind, const char* name, const char* format, va_list args);
    // Answers for the command being executed.
    void reject(const char* format, ...) KEST_PRINTF(2, 3);
    void wait(const char* format, ...) KEST_PRINTF(2, 3);
    void error(const char* name, const char* format, ...) KEST_PRINTF(3, 4);
    u32 trackAt(u32 fad) const;
    const Track* track(u32 number) const;
    void setDrivePeriod(u32 ns);
    void ecbUpdate();
    void advanceDrive();
    void endCdPlay();
    void clearAudio();
    // Appends bytes of little-endian stereo pairs to the CD-audio ring.
    void storeAudio(const u8* data, u32 bytes);

    // Drive control used by the commands.
    void pauseDrive(bool flush);
    void playDrive(u32 kind, u32 count);
    void resumeDrive();
    void openTray();
    void seekTo(u32 target);
    void readToc();
    void softReset();
    // The drive settings, the directory table and the routing (filters,
    // partitions, connections, transfer unit) as CdInit's reset sets them.
    void clearSettingsAndRouting();
    void cancelOwnEvents();

    // Command parameters of the current command.
    u8 hi(int n) const { return static_cast<u8>(m_command.cr[n] >> 8); }
    u8 lo(int n) const { return static_cast<u8>(m_command.cr[n]); }
    u32 cr1Cr2() const { return u32{lo(0)} << 16 | m_command.cr[1]; }
    u32 cr3Cr4() const { return u32{lo(2)} << 16 | m_command.cr[3]; }
    u16 word(int n) const { return m_command.cr[n]; }
    u16 statusWord() const { return static_cast<u16>(m_status << 8); }

    // Drive, status and information commands.
    void GetCurStat();
    void GetHwInfo();
    void TgetToc();
    void GetSes();
    u16 readInfoWord();
    void CdInit();
    void CdOpen();
    void DataEnd();
    void CdPlay();
    void CdSeek();
    void CdScan();
    void TgetScd();
    void undocumentedCommand();
    void AuthDevice();
    void GetAuthStatus();
    bool discInDrive() const;
    // What the disc in the drive proves to be.
    AuthResult authenticateDisc();
    // The MPEG card's commands and its share of the drive step.
    void mpegCommand();
    template <void (MpegCard::*Handler)()>
    void mpegHandler() { (*m_mpeg.*Handler)(); }
    void mpegIntake();
    void CdSetCon();
    void CdGetCon();
    void CdGetLastBuf();
    // pastEnd: the first FAD asked for past the disc's last sector, or 0.
    bool resolvePlay(u32 p1, u32 p2, char* text, std::size_t textSize, u32& pastEnd);
    u32 resolveStartTrack(u32 value, u32& trackOut, u32& indexOut) const;

    // Selectors and buffers.
    void SetFiltRange();
    void GetFiltRange();
    void SetFiltSubh();
    void GetFiltSubh();
    void SetFiltMode();
    void GetFiltMode();
    void SetFiltCon();
    void GetFiltCon();
    void ResetSelector();
    void GetBufSiz();
    void GetSctNum();
    void CalActSiz();
    void GetActSiz();
    void GetSctInfo();
    void ExeFadSearch();
    void GetFadSearch();
    void DelSctData();
    void GetCopyErr();
    bool routeSector(Connector* start, const SectorBuffer& sector);
    static u32 rawFad(const u8* raw);
    bool routeRaw(Connector* start, u32 mode, u32 fad, const u8* raw);
    // Resolves spos and snum of a partition; false when the range is not accepted.
    bool resolveRange(const Buffer& b, u32& spos, u32& snum) const;
    Buffer* sectorRange(u32& spos, u32& snum);
    void resetSelectors(u8 flags);
    // CopySctData and MoveSctData.
    template <bool move>
    void copySectorData();
    s32 copyMoveSectors(u32 most);
    void endCopyMove();
    Filter* filterAt(u32 n) { return n < kFilters ? m_filters[n].get() : nullptr; }
    Buffer* bufferAt(u32 n) { return n < kBuffers ? m_buffers[n].get() : nullptr; }
    static void join(Connector& a, Connector& b);

    // Sector data.
    void SetSctLen();
    void PutSctData();
    // GetSctData, and with remove GetdelSctData.
    template <bool remove>
    void getSectorData();
    u32 getLength(const u8* raw) const;
    u32 getOffset(const u8* raw) const;
    u32 putLength() const;
    u32 putOffset() const;

    // File system.
    void ChgDir();
    void ReadDir();
    void GetFileScope();
    void TgetFileInfo();
    void ReadFile();
    void AbortFile();
    void resetFilter(u32 n);
    bool onDisc(u32 fad) const;
    void setFileFilter(u32 n, u32 count, u8 fileNumber);
    void readVolumeDescriptors(const u8* data);
    void finishDirectory(u32 kind);
    void failDirectory(const char* name, const char* detail);
    bool inScope(u32 id) const { return id >= m_scopeStart && id < m_scopeStart + m_infnum; }
    File& entryOf(u32 id) { return m_files[(id - m_scopeStart + 2) % kFileEntries]; }
    void fileInfoWords(const File& f, u16* out) const;
    const u8* newestDirectorySector() const;

    // Pool. Relinking puts every slot back, free, in slot order.
    void relinkPool();
    s32 takeSlot();
    void returnSlot(u8 slot);
    u8* slotData(u32 slot) const { return m_pool.get() + std::size_t{slot} * kRawBytes; }

    SCU* m_scu;
    CDDrive* m_drive;
    u16 m_cr[4] = {};
    // HIRQREQ. Its one setter counts every change, also one that leaves the
    // bits as they were, and the steady read answers the count with the
    // bits: a processor waiting on the register sees every change the block
    // made, even one undone before it looks again, so the waiting-loop skip
    // never depends on which changes a program could tell apart.
    class HirqRequest {
    public:
        u16 bits() const { return m_bits; }
        u32 steadyValue() const { return m_changes << 16 | m_bits; }
        void set(u16 bits)
        {
            m_bits = bits;
            ++m_changes;
        }

    private:
        u16 m_bits = 0;
        u32 m_changes = 0;
    };
    HirqRequest m_hirqReq;
    u16 m_hirqMask = 0;
    u16 m_scratch = 0;
    std::deque<Command> m_queue;
    Command m_command{};
    u8 m_status = kStandby;
    u32 m_driveState = kStandby;
    u32 m_seekTarget = 0;
    u32 m_fileOp = kPlainPlay;
    bool m_report = true;
    u32 m_targetFad = 0;
    PlayPosition m_start;
    PlayPosition m_end;
    PlayPosition m_current;
    u32 m_repeatMax = 0;
    u32 m_repeatCount = 0;
    bool m_rw = false;
    bool m_m2sb = true;
    bool m_f2 = false;
    bool m_doubleSpeed = true;
    u32 m_standbyTime = 180;
    u32 m_eccFrequency = 1;
    u32 m_retryFrequency = 0;
    u32 m_pauseSeconds = 0;
    u32 m_scanDirection = 0;
    u32 m_toc[kTocWords] = {};
    std::vector<Track> m_tracks;
    u32 m_leadOut = 0;
    // The session's first value as the disc reports it (0 for an image).
    u32 m_sessionFirst = 0;
    u8 m_tocRead = 0;
    // Authentication results; kept until the disc may have changed.
    u8 m_discAuth = kAuthNone;
    u8 m_mpegAuth = kAuthNone;
    u16 m_info[kInfoWords] = {};
    u32 m_infoIndex = 0;
    u32 m_infoCount = 0;
    struct {
        u32 relative = 0, absolute = 0, track = 0, index = 0, controlAdr = 0;
    } m_subcodeQ;

    u8 m_mpegCard = 1;
    u8 m_mpegActionStatus = 0;
    u32 m_frames = 0;
    std::unique_ptr<u32[]> m_mpegFrame;
    std::unique_ptr<MpegCard> m_mpeg;

    EventHandle m_driveEvent;
    EventHandle m_standbyEvent;
    EventHandle m_copyEvent;
    EventHandle m_tocEvent;
    EventHandle m_seekEvent;
    EventHandle m_commandEvent;
    EventHandle m_discAuthEvent;
    EventHandle m_mpegAuthEvent;
    u32 m_drivePeriod = 0;
    bool m_eventsScheduled = false;

    // CD audio: sectors in arrival order; a reader that catches up with
    // the drive hears silence.
    std::unique_ptr<u8[]> m_audio;
    u32 m_audioWrite = 0;
    u32 m_audioFill = 0;
    u32 m_audioRead = 0;

    // Routing.
    CDROM m_cdrom;
    DTR m_dtr;
    std::array<std::unique_ptr<Filter>, kFilters> m_filters;
    std::array<std::unique_ptr<Buffer>, kBuffers> m_buffers;
    std::unique_ptr<u8[]> m_pool;
    std::array<u8, kPoolSectors> m_next{};
    s32 m_freeHead = 0;
    u32 m_freeCount = kPoolSectors;
    u32 m_lastBuffer = kNone;
    u32 m_actualSize = 0;
    struct {
        u32 buffer = 0, position = 0, fad = 0;
    } m_fadSearch;
    struct {
        u32 state = 0, source = 0, destination = 0, start = 0, count = 0, done = 0;
        bool move = false;
    } m_copy;
    u8 m_routeRaw[kRawBytes] = {};
    u32 m_getSetting = 0;
    u32 m_putSetting = 3;

    // File system.
    std::array<File, kFileEntries> m_files{};
    u32 m_scopeStart = 2;
    u32 m_recordsSeen = 0;
    u32 m_infnum = 0;
    u8 m_dirEnd = 0;
    u32 m_blockSize = 2048;
    s32 m_dirFilter = -1;
    u32 m_sectorsDone = 0;
    u32 m_fileTotal = 0;
};
