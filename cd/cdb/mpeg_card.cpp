// The MPEG card: its units, its commands and its media intake.
#include "cd/cdb/mpeg_card.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/base/bus.h"

namespace {

// An MPEG-1 pack header, then the audio packet's start code and length.
constexpr s32 kPacketHeader = 18;
constexpr u32 kFramePixels = CDB::kMpegWidth * CDB::kMpegHeight;

// Where the layer II bytes of the audio packet in data start, past its
// stuffing, buffer size and time stamps; -1 when the header does not fit.
s32 payloadStart(const u8* data, s32 end)
{
    s32 i = kPacketHeader;
    while (i < end && data[i] == 0xFF)
        ++i;
    if (i < end && (data[i] & 0xC0) == 0x40)
        i += 2;
    if (i >= end)
        return -1;
    if ((data[i] & 0xF0) == 0x20)
        i += 5;
    else if ((data[i] & 0xF0) == 0x30)
        i += 10;
    else if (data[i] == 0x0F)
        i += 1;
    else
        return -1;
    return i <= end ? i : -1;
}

const char* onOff(bool on)
{
    return on ? "ON" : "OFF";
}

const char* trueFalse(bool on)
{
    return on ? "TRUE" : "FALSE";
}

const char* streamName(u8 value)
{
    return value ? "NEXT" : "CUR";
}

// The commands that take no parameters: what they answer and how they log.
struct PlainCommand {
    u8 code;
    bool zeroAnswer;  // CR1 the status alone and CR2-CR4 0; else the MPEG report
    bool end;         // raises the MPEG end bit
    bool error;       // logged as an error rather than a warning
    int level;
};

constexpr PlainCommand kPlainCommands[] = {
    {0x91, true, false, false, 1}, {0x98, true, false, true, 2}, {0x99, true, false, true, 1},
    {0x9C, false, false, true, 1}, {0x9D, false, false, true, 1}, {0x9E, true, false, true, 2},
    {0x9F, true, false, true, 1}, {0xA5, true, false, true, 1}, {0xA6, false, false, true, 1},
    {0xA7, false, true, true, 1}, {0xA8, false, true, true, 1}, {0xA9, false, true, true, 1},
    {0xAA, false, true, true, 1},
};

}  // namespace

CDB::MPEGDecoder::MPEGDecoder() : Component("CDB.MPEGDEC", 0x82)
{
    registers[kControlRegister] = 0xFFFF;
    reset();
}

void CDB::MPEGDecoder::reset()
{
    work.fill(0);
    workByte = 0;
    registers[kStatusRegister] |= 0x4000;
}

CDB::MPEGDecoderA::MPEGDecoderA() : Component("CDB.MPDECA", 0x82)
{
    mp2Init(decoder);
}

void CDB::MpegCard::reset()
{
    a = {3, 0, kNone};
    v = {3, 0, kNone};
    cdb.m_mpegActionStatus = 0;
    pict = statA = 0;
    statV = vcnt = 0;
    audioLength = 0;
}

void CDB::mpegCommand()
{
    m_mpeg->command(hi(0));
}

void CDB::MpegCard::mpegReport()
{
    vcnt = static_cast<u16>(cdb.m_frames);
    cdb.answer(cdb.statusWord() | cdb.m_mpegActionStatus, vcnt, static_cast<u16>(pict << 8 | statA), statV);
}

void CDB::MpegCard::command(u8 code)
{
    CDB& c = cdb;
    switch (code) {
    case 0x92:
        mpegReport();
        c.logWarning(1, "%s [intmsk: %08X]", c.commandName(), c.cr1Cr2());
        return;
    case 0x96:
        mpegReport();
        c.logError(1, "%s [mute: %02X, pautim: %d, frztim: %d]", c.commandName(), c.lo(0), c.word(1), c.word(3));
        return;
    case 0x97:
        mpegReport();
        c.logError(1, "%s [fbn: %d]", c.commandName(), c.lo(1));
        return;
    case 0xA0:
        mpegReport();
        c.logWarning(1, "%s [dspsw: %s, fbn: %d]", c.commandName(), onOff(c.hi(1)), c.lo(1));
        return;
    case 0xA2: {
        const u16 colour = c.word(1);
        mpegReport();
        c.logWarning(1, "%s [bcolor: %04X(R: %02X, G: %02X, B: %02X)]", c.commandName(), colour, colour & 0x1F,
                     (colour >> 5) & 0x1F, (colour >> 10) & 0x1F);
        return;
    }
    case 0xA3:
        mpegReport();
        c.logWarning(1, "%s [gain_y: %d, gain_c: %d]", c.commandName(), c.hi(1), c.lo(1));
        return;
    default: break;
    }
    for (const PlainCommand& p : kPlainCommands) {
        if (p.code != code)
            continue;
        if (p.zeroAnswer)
            c.answer(c.statusWord(), 0, 0, 0);
        else
            mpegReport();
        if (p.end)
            c.setHirq(kMpend);
        if (p.error)
            c.logError(p.level, "%s", c.commandName());
        else
            c.logWarning(p.level, "%s", c.commandName());
        return;
    }
}

void CDB::MpegCard::MpGetCurStat()
{
    mpegReport();
    cdb.logWarning(2, "%s [actst: %02X, pict: %02X, stat_a: %02X, stat_v: %04X, vcnt: %04X]", cdb.commandName(),
                   cdb.m_mpegActionStatus, pict, statA, statV, vcnt);
}

void CDB::MpegCard::MpInit()
{
    decoder.initSwitch = cdb.lo(1);
    if (decoder.initSwitch) {
        mpegReport();
        cdb.setHirq(kMpcm);
    } else {
        cdb.answer(cdb.statusWord() | 0xFF, 0xFFFF, 0xFFFF, 0xFFFF);
    }
    cdb.setHirq(kMpend);
    cdb.logWarning(1, "%s [sw: %s]", cdb.commandName(), onOff(decoder.initSwitch));
}

void CDB::MpegCard::MpSetMode()
{
    auto actionMode = [](u8 m) -> const char* {
        static constexpr const char* kNames[] = {"NMOV", "NSTL", "HMOV", "HSTL", "SBUF"};
        return m < 5 ? kNames[m] : m == 0xFF ? "NOCHG" : nullptr;
    };
    auto scanMode = [](u8 m) -> const char* {
        static constexpr const char* kNames[] = {"NITL", "ITL", "PLNITL", "PLITL"};
        return m < 4 ? kNames[m] : m == 0xFF ? "NOCHG" : nullptr;
    };
    char actText[8];
    char scnText[8];
    const u8 act = cdb.lo(0);
    const u8 scn = cdb.hi(2);
    std::snprintf(actText, sizeof actText, "%02X", act);
    std::snprintf(scnText, sizeof scnText, "%02X", scn);
    mpegReport();
    cdb.logWarning(1, "%s [actmod: %s,  dectim: %d, out: %02X, scnmod: %s]", cdb.commandName(),
                   actionMode(act) ? actionMode(act) : actText, cdb.hi(1), cdb.lo(1),
                   scanMode(scn) ? scanMode(scn) : scnText);
}

void CDB::MpegCard::MpPlay()
{
    cdb.m_mpegActionStatus = 0x33;
    audioLength = 0;
    statA = 0xC0;
    statV = 0x0102;
    mpegReport();
    const u16 cr2 = cdb.word(1);
    cdb.logWarning(1, "%s [plymod: %s, tmod_a: %s, tmod_v: %s, dec_v: %02X]", cdb.commandName(),
                   (cdb.lo(0) & 1) ? "INDP" : "SYNC", (cr2 & 0x100) ? "FORCE" : "AUTO", (cr2 & 1) ? "FORCE" : "AUTO",
                   cdb.lo(3));
}

CDB::MpegCard::Waiting CDB::MpegCard::waitingSector(const Connector& input) const
{
    const Connector* peer = input.peer();
    if (!peer || (peer->owner()->id() & 0xC0) != 0x40)
        return {};
    Buffer* b = cdb.m_buffers[peer->owner()->id() & 0x3F].get();
    if (!b->count())
        return {};
    const u8* raw = b->sectorAt(0);
    const u8* data = raw + cdb.getOffset(raw);
    return {b, raw, data, static_cast<s32>(cdb.getLength(raw))};
}

void CDB::MpegCard::connectInput(Connector& input, u8 partition)
{
    if (partition < kBuffers)
        join(cdb.m_buffers[partition]->output, input);
    else
        input.disconnect();
}

void CDB::MpegCard::MpSetCon()
{
    a = {cdb.lo(0), cdb.hi(1), cdb.lo(1)};
    v = {cdb.lo(2), cdb.hi(3), cdb.lo(3)};
    connectInput(audio.input, a.bn);
    connectInput(video.input, v.bn);
    mpegReport();
    cdb.logError(1,
                 "MpSetCon [stream: %s, a.cmod: %02X, a.lay: %02X, a.bn: %02X, v.cmod: %02X, v.lay: %02X, "
                 "v.bn: %02X]",
                 streamName(cdb.hi(2)), a.cmod, a.lay, a.bn, v.cmod, v.lay, v.bn);
}

void CDB::MpegCard::MpGetCon()
{
    cdb.answer(cdb.statusWord() | a.cmod, static_cast<u16>(a.lay << 8 | a.bn), v.cmod,
               static_cast<u16>(v.lay << 8 | v.bn));
    cdb.logError(2,
                 "MpGetCon [stream: %s, a.cmod: %02X, a.lay: %02X, a.bn: %02X, v.cmod: %02X, v.lay: %02X, "
                 "v.bn: %02X]",
                 streamName(cdb.hi(2)), a.cmod, a.lay, a.bn, v.cmod, v.lay, v.bn);
}

void CDB::MpegCard::MpSetWin()
{
    static constexpr const char* kKinds[] = {"FPOS", "FRAT", "DPOS", "DSIZ", "DOFS"};
    const u8 kind = cdb.lo(0);
    mpegReport();
    cdb.logWarning(1, "%s<%s> [x: %d, y: %d, chgflg: %s]", cdb.commandName(), kind < 5 ? kKinds[kind] : "INVALID",
                   cdb.word(2), cdb.word(3), trueFalse(cdb.lo(1)));
}

void CDB::MpegCard::MpSetVeff()
{
    // Interpolation and transparency flags in CR2, mosaic in CR3, soft
    // filters in CR4.
    const u8 itp = cdb.hi(1);
    const u8 trp = cdb.lo(1);
    mpegReport();
    cdb.logDebug(1,
                 "MpSetVeff [itp: %02X(YH: %s, CH: %s, YV: %s, CV: %s), trp: %02X(YLVL: %d, BDR: %s), moz_h: %d, "
                 "moz_v: %d, soft_h: %s, soft_v: %s]",
                 itp, onOff(itp & 1), onOff(itp & 2), onOff(itp & 4), onOff(itp & 8), trp, trp & 0x0F,
                 onOff(trp & 0x80), cdb.hi(2), cdb.lo(2), onOff(cdb.hi(3)), onOff(cdb.lo(3)));
}

void CDB::MpegCard::MpGetLsi()
{
    const u8 sw = cdb.lo(0);
    const u8 r = cdb.lo(1);
    const u16 rdata = (sw & 1) ? 0 : decoder.registers[r];
    cdb.answer(cdb.statusWord(), 0, 0, rdata);
    cdb.logWarning(1, "%s [r_sw: %02X, reg_no: %02X, rdata: %04X]", cdb.commandName(), sw, r, rdata);
}

void CDB::MpegCard::MpSetLsi()
{
    const u8 sw = cdb.lo(0);
    const u8 r = cdb.lo(1);
    const u16 d = cdb.word(3);
    const u16 rdata = (sw & 2) ? 0 : decoder.registers[r];
    const char* note = r == MPEGDecoder::kStatusRegister ? "<STATUS>" : "";
    if (!(sw & 1)) {
        decoder.registers[r] = d;
        if (r == MPEGDecoder::kControlRegister) {
            note = "";
            if (!(d & 0x1000)) {
                decoder.reset();
                note = (d & 0x2000) ? "<RESET_VBV>" : "<RESET_VLDVBV>";
            } else if (!(d & 0x2000)) {
                note = "<RESET_VLD>";
            }
        }
    }
    cdb.answer(cdb.statusWord(), 0, 0, rdata);
    cdb.logWarning(1, "%s%s [rwsw: %02X, reg_no: %02X, wdata: %04X, rdata: %04X]", cdb.commandName(), note, sw, r, d,
                   rdata);
}

void CDB::MpegCard::ReadMpRom()
{
    const u8 f = cdb.hi(2);
    const u32 offset = cdb.cr1Cr2();
    const u16 count = cdb.word(3);
    if (f >= kFilters) {
        cdb.reject("[filtno: %d, offset: %d, snum: %d]", f, offset, count);
        return;
    }
    cdb.reportStatus(0);
    cdb.setHirq(kMpend);
    cdb.setHirq(kCsct);
    cdb.logDebug(1, "%s [filtno: %d, offset: %d, snum: %d]", cdb.commandName(), f, offset, count);
}

// ---------------------------------------------------------------------------
// Media intake

void CDB::mpegIntake()
{
    m_mpeg->intake();
}

void CDB::MpegCard::intake()
{
    const u8 videoState = cdb.m_mpegActionStatus & 0x0F;
    if (videoState >= 2 && videoState <= 4 && takeVideoSector())
        fillFrame();
    const u8 audioState = cdb.m_mpegActionStatus & 0xF0;
    if (audioState >= 0x20 && audioState <= 0x40 && extractMpegAudio())
        decodeAudio();
}

bool CDB::MpegCard::takeVideoSector()
{
    const Waiting sector = waitingSector(video.input);
    if (!sector.buffer)
        return false;
    cdb.m_mpegActionStatus = static_cast<u8>((cdb.m_mpegActionStatus & 0xF4) | 4);
    std::memcpy(video.data.data(), sector.data, static_cast<u32>(sector.length));
    sector.buffer->remove(0, 1);
    return true;
}

// Stands in for the picture: the sector's bytes as grey levels, repeated
// over the whole frame.
void CDB::MpegCard::fillFrame()
{
    statV |= 1;
    u32* pixels = cdb.m_mpegFrame.get();
    for (u32 k = 0; k < kRawBytes; ++k) {
        const u32 g = video.data[k] >> 1;
        storeBe32(reinterpret_cast<u8*>(&pixels[k]), 0x80000000 | g << 16 | g << 8 | g);
    }
    for (u32 k = kRawBytes; k < kFramePixels; k += kRawBytes)
        std::memcpy(&pixels[k], pixels, std::min(kRawBytes, kFramePixels - k) * sizeof(u32));
}

bool CDB::MpegCard::extractMpegAudio()
{
    const Waiting sector = waitingSector(audio.input);
    if (!sector.buffer)
        return false;
    cdb.m_mpegActionStatus = static_cast<u8>((cdb.m_mpegActionStatus & 0x0F) | 0x40);
    const u8* data = sector.data;
    const s32 length = sector.length;
    static constexpr u8 kAudioPacket[] = {0x00, 0x00, 0x01, 0xC0};
    s32 i = 0;
    if (length >= kPacketHeader && std::memcmp(data + 12, kAudioPacket, 4) == 0) {
        const s32 end = std::min(length, kPacketHeader + loadBe16(data + 16));
        i = payloadStart(data, end);
        if (i > 0)
            appendAudio(data + i, end - i);
    }
    cdb.logWarning(2, "MP2 audio length [i: %d, len: %d, fad: %d]", i, audioLength, rawFad(sector.raw));
    sector.buffer->remove(0, 1);
    return true;
}

void CDB::MpegCard::appendAudio(const u8* payload, s32 bytes)
{
    // Out of step with the frames (at the start, or after a damaged frame):
    // the stream is taken up again at the packet's first frame sync.
    if (audioLength == 0) {
        s32 sync = 0;
        while (sync + 1 < bytes && !(payload[sync] == 0xFF && (payload[sync + 1] >> 4) == 0xF))
            ++sync;
        if (sync + 1 >= bytes)
            return;
        payload += sync;
        bytes -= sync;
    }
    const s32 room = static_cast<s32>(audio.data.size()) - audioLength;
    if (bytes > room) {
        // Only a stream that never decodes fills the buffer: start afresh.
        audioLength = 0;
        return;
    }
    std::memcpy(audio.data.data() + audioLength, payload, static_cast<std::size_t>(bytes));
    audioLength += bytes;
}

// Whole frames go to the CD-audio ring in order; a frame the decoder
// refuses as running past the bytes in hand waits for the next packet.
void CDB::MpegCard::decodeAudio()
{
    statA |= 1;
    std::array<s16, 2 * kMp2FrameSamples> pcm;
    std::array<u8, 4 * kMp2FrameSamples> bytes;
    s32 position = 0;
    while (position < audioLength) {
        const s32 size = mp2DecodeFrame(&audio.decoder, audio.data.data() + position,
                                        static_cast<std::size_t>(audioLength - position), pcm.data());
        cdb.logWarning(2, "i: %d, frame_size: %d, audioLen: %d", position, size, audioLength);
        if (size == kMp2Truncated)
            break;
        if (size < 1) {
            position = audioLength;
            break;
        }
        // The ring holds the disc's little-endian audio.
        for (u32 k = 0; k < pcm.size(); ++k) {
            bytes[2 * k] = static_cast<u8>(pcm[k]);
            bytes[2 * k + 1] = static_cast<u8>(static_cast<u16>(pcm[k]) >> 8);
        }
        cdb.storeAudio(bytes.data(), static_cast<u32>(bytes.size()));
        position += size;
    }
    audioLength -= position;
    std::memmove(audio.data.data(), audio.data.data() + position, static_cast<std::size_t>(audioLength));
}
