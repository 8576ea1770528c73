#pragma once

#include <array>

#include "cd/cdb/cdb.h"
#include "cd/drive/mp2_decoder.h"

// The optional Video CD card. Its commands keep a small status model; the
// real work is decoding the MPEG audio packets of a playing disc into the
// CD-audio ring and turning video sectors into a grey picture for VDP2.
// There is no video decoding.

// The decoder chip's LSI registers and work area.
class CDB::MPEGDecoder : public CDB::Component {
public:
    static constexpr u32 kStatusRegister = 6;
    static constexpr u32 kControlRegister = 26;

    MPEGDecoder();
    void reset();

    std::array<u16, 256> registers{};
    u8 initSwitch = 0;
    std::array<u8, 256> work{};
    u8 workByte = 0;
};

class CDB::MPEGDecoderA : public CDB::Component {
public:
    MPEGDecoderA();

    Connector input{this, false};
    // Layer II bytes not yet decoded: the packets' payloads in order, from
    // a frame sync on. A frame that straddles two packets waits here for
    // its second part.
    std::array<u8, 4096> data{};
    Mp2Decoder decoder;
};

class CDB::MPEGDecoderV : public CDB::Component {
public:
    MPEGDecoderV() : Component("CDB.MPDECV", 0x83) {}

    Connector input{this, false};
    std::array<u8, kRawBytes> data{};
};

// The card as the CD block holds it: its units and the CD block's MPEG
// connection and status bytes.
struct CDB::MpegCard {
    struct Connection {
        u8 cmod;
        u8 lay;
        u8 bn;
    };

    explicit MpegCard(CDB& owner) : cdb(owner) {}
    void reset();
    // The commands without a handler of their own: a report and a log line.
    void command(u8 code);
    // After each plain-play data sector: the partitions connected to the
    // decoders give up their oldest sector.
    void intake();

    // Commands with a handler of their own; the CD block's table names them.
    void MpGetCurStat();
    void MpInit();
    void MpSetMode();
    void MpPlay();
    void MpSetCon();
    void MpGetCon();
    void MpSetWin();
    void MpSetVeff();
    void MpGetLsi();
    void MpSetLsi();
    void ReadMpRom();

    void mpegReport();
    // Joins a partition's output to a decoder input; 0xFF, or a number that
    // is not a partition, leaves the input unconnected.
    void connectInput(Connector& input, u8 partition);
    // The first sector of the partition feeding input, and its data as a
    // get reads it; buffer is null while none waits there.
    struct Waiting {
        Buffer* buffer = nullptr;
        const u8* raw = nullptr;
        const u8* data = nullptr;
        s32 length = 0;
    };
    Waiting waitingSector(const Connector& input) const;
    bool takeVideoSector();
    void fillFrame();
    bool extractMpegAudio();
    void decodeAudio();
    void appendAudio(const u8* payload, s32 bytes);

    CDB& cdb;
    MPEGDecoder decoder;
    MPEGDecoderA audio;
    MPEGDecoderV video;
    Connection a{3, 0, kNone};
    Connection v{3, 0, kNone};
    u8 pict = 0;
    u8 statA = 0;
    u16 statV = 0;
    u16 vcnt = 0;
    // Bytes held in the audio decoder's buffer.
    s32 audioLength = 0;
};
