// The built-in BIOS's backup-memory services. Arguments arrive in R4 to R7,
// the status leaves in R0, and every service returns through PR.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "board/bios/bios.h"
#include "board/bios/bios_bup.h"

namespace {

constexpr u32 kLibraryTable = 0x06000760;
constexpr u32 kLibraryEntries = 11;
constexpr u32 kWorkBufferCopy = 0x06000354;
constexpr u32 kInitClocks = 100;
constexpr int kDeviceCount = 3;
constexpr u32 kDirEntryBytes = 36;
constexpr u32 kStatFields = 6;
constexpr u32 kDateRecordBytes = 6;
constexpr int kDosEpochYear = 1980;

// Directory entry offsets, in the program's memory.
constexpr u32 kEntryComment = 12;
constexpr u32 kEntryLanguage = 23;
constexpr u32 kEntryDate = 24;
constexpr u32 kEntrySize = 28;
constexpr u32 kEntryBlocks = 32;

const char* onOff(bool on) { return on ? "ON" : "OFF"; }

time_t dosEpoch()
{
    std::tm t{};
    t.tm_year = kDosEpochYear - 1900;
    t.tm_mday = 1;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// The asctime text without its newline; a year past four digits is shown
// as 9999 so the text keeps its 24 characters.
struct DateText {
    char text[32];
    explicit DateText(const std::tm& t)
    {
        static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const int year = std::clamp(t.tm_year + 1900, 0, 9999);
        std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[(t.tm_wday % 7 + 7) % 7],
                      kMonths[(t.tm_mon % 12 + 12) % 12],
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, year);
    }
};

}  // namespace

const char* BIOS::statusName(u32 status)
{
    static constexpr const char* kNames[] = {"SUCCESS",   "NON",       "UNFORMAT", "WRITE_PROTECT", "NOT_ENOUGH_MEMORY",
                                             "NOT_FOUND", "FOUND",     "NO_MATCH", "BROKEN",        "FRAGMENT"};
    return status < std::size(kNames) ? kNames[status] : "FAILURE";
}

u32 BIOS::readLongBytes(u32 address)
{
    u32 value = 0;
    for (u32 k = 0; k < 4; ++k)
        value = value << 8 | read8(address + k);
    return value;
}

void BIOS::readName(u32 address, u32 limit, u8* out, u32& length)
{
    length = 0;
    while (length < limit) {
        const u8 c = read8(address + length);
        if (c == 0)
            break;
        out[length++] = c;
    }
    std::fill(out + length, out + limit, u8{0});
}

BIOS::BUP* BIOS::checkDevice(u32 number, bool writing, u32& status)
{
    const s32 n = static_cast<s32>(number);
    if (n < 0 || n >= kDeviceCount) {
        logWarning(1, "Device number is invalid [device: %d]", n);
        status = kBupNon;
        return nullptr;
    }
    BUP& device = *m_bup[static_cast<std::size_t>(n)];
    if (!device.connected)
        status = kBupNon;
    else if (!device.formatted())
        status = kBupUnformat;
    else if (writing && device.writeProtect)
        status = kBupWriteProtect;
    else
        return &device;
    return nullptr;
}

u32 BIOS::findNamedSave(SH2& cpu, bool writing, BupName& name, BUP*& device, u32& status)
{
    readName(cpu.r(5), BupName::kBytes, name.bytes, name.length);
    status = kBupSuccess;
    device = checkDevice(cpu.r(4), writing, status);
    const u32 first = device ? device->findRecord(name, 0, false) : 0;
    if (device && !first)
        status = kBupNotFound;
    return first;
}

void BIOS::bupInit(SH2& cpu)
{
    const u32 library = cpu.r(4);
    const u32 work = cpu.r(5);
    const u32 config = cpu.r(6);
    for (u32 k = 0; k < kLibraryEntries; ++k)
        write32(work + 4 * k, kLibraryTable + 4 * k);
    write32(kWorkBufferCopy, work);
    // Unit id and partition count per device; the cartridge unit only
    // when a backup cartridge is there.
    const bool cartridge = m_bup[1]->connected != 0;
    const u16 pairs[] = {1, 1, static_cast<u16>(cartridge ? 2 : 0), static_cast<u16>(cartridge ? 1 : 0), 0, 0};
    for (u32 k = 0; k < std::size(pairs); ++k)
        write16(config + 2 * k, pairs[k]);
    charge(cpu, kInitClocks);
    logDebug(1, "%s: BUP_Init [CA: %08X, libaddr: %08X(%08X), workbuff: %08X, conf: %08X]", cpu.name().c_str(),
             cpu.pr() - 4, kLibraryTable, library, work, config);
    returnToCaller(cpu);
}

void BIOS::bupSelPart(SH2& cpu)
{
    const s32 device = static_cast<s32>(cpu.r(4));
    const int partition = static_cast<s8>(cpu.r(5));
    cpu.setR(0, device == 2 ? 1 : 0);
    logDebug(1, "%s: BUP_SelPart [CA: %08X, device: %d, num: %d, res: %d]", cpu.name().c_str(), cpu.pr() - 4, device,
             partition, cpu.r(0));
    returnToCaller(cpu);
}

void BIOS::bupFormat(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    u32 status = kBupSuccess;
    BUP* device = checkDevice(cpu.r(4), true, status);
    if (!device && status == kBupUnformat) {
        device = m_bup[static_cast<std::size_t>(number)].get();
        status = device->writeProtect ? kBupWriteProtect : kBupSuccess;
    }
    if (status == kBupSuccess)
        device->format();
    cpu.setR(0, status);
    if (status == kBupSuccess)
        logDebug(1, "%s: BUP_Format [CA: %08X, device: %d, status: %s]", cpu.name().c_str(), cpu.pr() - 4, number,
                 statusName(status));
    else
        logWarning(1, "%s: BUP_Format [CA: %08X, device: %d, status: %s]", cpu.name().c_str(), cpu.pr() - 4, number,
                   statusName(status));
    returnToCaller(cpu);
}

void BIOS::bupStat(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    const u32 dataSize = cpu.r(5);
    const u32 address = cpu.r(6);
    u32 status = kBupSuccess;
    const BUP* device = checkDevice(cpu.r(4), false, status);
    if (!device) {
        cpu.setR(0, status);
        logWarning(1, "%s: BUP_Stat [CA: %08X, device: %d, datasize: %08X, statAddr: %08X, status: %s]",
                   cpu.name().c_str(), cpu.pr() - 4, number, dataSize, address, statusName(status));
        returnToCaller(cpu);
        return;
    }
    const u32 freeBlocks = device->freeBlocks();
    const u32 freeSize = static_cast<u32>(std::min<u64>(device->freeSize(), device->size));
    // A layout always takes at least its first block.
    const u32 fitting = static_cast<u32>(freeBlocks / device->blocksFor(dataSize).total);
    const u32 fields[kStatFields] = {device->size, device->blockCount, device->blockSize, freeSize, freeBlocks, fitting};
    for (u32 k = 0; k < kStatFields; ++k)
        write32(address + 4 * k, fields[k]);
    cpu.setR(0, kBupSuccess);
    logDebug(1,
             "%s: BUP_Stat [CA: %08X, device: %d, datasize: %08X, statAddr: %08X, totalsize: %08X, totalblock: %04X, "
             "blocksize: %04X, freesize: %08X, freeblock: %04X, datanum: %04X, status: %s]",
             cpu.name().c_str(), cpu.pr() - 4, number, dataSize, address, device->size, device->blockCount,
             device->blockSize, freeSize, freeBlocks, fitting, statusName(kBupSuccess));
    returnToCaller(cpu);
}

void BIOS::bupWrite(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    const u32 entry = cpu.r(5);
    const bool keep = (cpu.r(7) & 0xFF) != 0;
    BUP::NewFile file;
    readName(entry, BupName::kBytes, file.name.bytes, file.name.length);
    u32 commentLength = 0;
    readName(entry + kEntryComment, BUP::kCommentBytes, file.comment, commentLength);
    file.language = read8(entry + kEntryLanguage);
    file.date = readLongBytes(entry + kEntryDate);
    file.size = readLongBytes(entry + kEntrySize);
    file.dataAddress = cpu.r(6);
    const std::string name = file.name.text();

    u32 status = kBupSuccess;
    BUP* device = checkDevice(cpu.r(4), true, status);
    BUP::Layout layout;
    if (device) {
        layout = device->blocksFor(file.size);
        const u32 old = device->findRecord(file.name, 0, false);
        if (old && keep) {
            status = kBupFound;
        } else {
            // A save being replaced counts as free, but it is only dropped
            // once the new one is known to fit.
            std::vector<u8> used;
            device->buildUsedMap(used, old);
            u32 first = 0;
            if (layout.total > BUP::countFree(used)) {
                status = kBupNotEnoughMemory;
            } else {
                const bool oldRunFree = old && old + layout.b < device->blockCount &&
                                        std::none_of(used.begin() + old, used.begin() + old + layout.b + 1,
                                                     [](u8 u) { return u != 0; });
                first = oldRunFree ? old : device->findFreeRun(used, layout.b + 1);
                if (!first)
                    status = kBupFragment;
            }
            if (status == kBupSuccess) {
                if (old)
                    device->setLong(old * device->blockSize, 0);
                device->writeRecord(first, layout, file, used);
            }
        }
    }
    cpu.setR(0, status);
    if (status == kBupSuccess)
        logInfo(1,
                "%s: BUP_Write [CA: %08X, device: %d, dirAddr: %08X(%s), dataAddr: %08X, datasize: %08X, "
                "blocksize: %04X, owsw: %s, status: %s]",
                cpu.name().c_str(), cpu.pr() - 4, number, entry, name.c_str(), file.dataAddress, file.size,
                static_cast<u32>(layout.total), onOff(keep), statusName(status));
    else
        logWarning(1,
                   "%s: BUP_Write [CA: %08X, device: %d, dirAddr: %08X(%s), dataAddr: %08X, datasize: %08X, "
                   "owsw: %s, status: %s]",
                   cpu.name().c_str(), cpu.pr() - 4, number, entry, name.c_str(), file.dataAddress, file.size,
                   onOff(keep), statusName(status));
    returnToCaller(cpu);
}

template <class F>
u32 BIOS::visitNamedSave(SH2& cpu, BupName& name, u32& first, F&& visit)
{
    BUP* device = nullptr;
    u32 status = kBupSuccess;
    first = findNamedSave(cpu, false, name, device, status);
    if (!first)
        return status;
    const Record record(*device, first);
    return record.broken ? static_cast<u32>(kBupBroken) : static_cast<u32>(visit(record));
}

void BIOS::bupRead(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    const u32 nameAddress = cpu.r(5);
    const u32 destination = cpu.r(6);
    BupName name;
    u32 first = 0;
    u32 size = 0;
    const u32 status = visitNamedSave(cpu, name, first, [&](const Record& record) {
        u32 to = destination;
        record.forEachDataByte([&](u8 byte) { write8(to++, byte); });
        size = record.size;
        return kBupSuccess;
    });
    cpu.setR(0, status);
    if (status == kBupSuccess) {
        logDebug(1,
                 "%s: BUP_Read [CA: %08X, device: %d, nameAddr: %08X(%s), dataAddr: %08X, BN: %04X, datasize: "
                 "%08X, status: %s]",
                 cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, name.text().c_str(), destination, first, size,
                 statusName(kBupSuccess));
        returnToCaller(cpu);
        return;
    }
    logWarning(1, "%s: BUP_Read [CA: %08X, device: %d, nameAddr: %08X(%s), dataAddr: %08X, status: %s]",
               cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, name.text().c_str(), destination,
               statusName(status));
    returnToCaller(cpu);
}

void BIOS::bupDelete(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    const u32 nameAddress = cpu.r(5);
    BupName name;
    BUP* device = nullptr;
    u32 status = kBupSuccess;
    const u32 first = findNamedSave(cpu, true, name, device, status);
    if (first) {
        // A broken save is freed all the same.
        const Record record(*device, first);
        device->setLong(first * device->blockSize, 0);
        status = record.broken ? kBupBroken : kBupSuccess;
        logDebug(1, "%s: BUP_Delete [CA: %08X, device: %d, nameAddr: %08X(%s), BN: %04X, datasize: %08X, status: %s]",
                 cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, name.text().c_str(), first, record.size,
                 statusName(status));
    }
    cpu.setR(0, status);
    if (status != kBupSuccess)
        logWarning(1, "%s: BUP_Delete [CA: %08X, device: %d, nameAddr: %08X(%s), status: %s]", cpu.name().c_str(),
                   cpu.pr() - 4, number, nameAddress, name.text().c_str(), statusName(status));
    returnToCaller(cpu);
}

void BIOS::bupDir(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    const u32 nameAddress = cpu.r(5);
    const s32 capacity = static_cast<s32>(cpu.r(6));
    const u32 table = cpu.r(7);
    BupName prefix;
    readName(nameAddress, BupName::kBytes, prefix.bytes, prefix.length);
    u32 status = kBupSuccess;
    const BUP* device = checkDevice(cpu.r(4), false, status);
    s32 hits = 0;
    // The name is a prefix, so an empty one lists every save: the console
    // libraries' own samples list a device that way.
    for (u32 at = device ? device->findRecord(prefix, BUP::kFirstFileBlock, true) : 0; at;
         at = device->findRecord(prefix, at + 1, true)) {
        if (hits < capacity) {
            const Record record(*device, at);
            const u32 entry = table + kDirEntryBytes * static_cast<u32>(hits);
            for (u32 k = 0; k < kDirEntryBytes; ++k)
                write8(entry + k, 0);
            for (u32 k = 0; k < BupName::kBytes; ++k)
                write8(entry + k, record.name.bytes[k]);
            for (u32 k = 0; k < BUP::kCommentBytes; ++k)
                write8(entry + kEntryComment + k, record.comment[k]);
            write8(entry + kEntryLanguage, record.language);
            for (u32 k = 0; k < 4; ++k) {
                write8(entry + kEntryDate + k, static_cast<u8>(record.date >> (24 - 8 * k)));
                write8(entry + kEntrySize + k, static_cast<u8>(record.size >> (24 - 8 * k)));
            }
            const u16 blocks = static_cast<u16>(record.layout.total);
            write8(entry + kEntryBlocks, static_cast<u8>(blocks >> 8));
            write8(entry + kEntryBlocks + 1, static_cast<u8>(blocks));
        }
        ++hits;
    }
    if (device && hits == 0)
        status = kBupNotFound;
    cpu.setR(0, static_cast<u32>(hits > capacity ? -hits : hits));
    if (status == kBupSuccess)
        logDebug(1,
                 "%s: BUP_Dir [CA: %08X, device: %d, nameAddr: %08X(%s), dirsize: %d, dirAddr: %08X, hits: %d, "
                 "status: %s]",
                 cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, prefix.text().c_str(), capacity, table, hits,
                 statusName(status));
    else
        logWarning(1, "%s: BUP_Dir [CA: %08X, device: %d, nameAddr: %08X(%s), dirsize: %d, dirAddr: %08X, status: %s]",
                   cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, prefix.text().c_str(), capacity, table,
                   statusName(status));
    returnToCaller(cpu);
}

void BIOS::bupVerify(SH2& cpu)
{
    const s32 number = static_cast<s32>(cpu.r(4));
    const u32 nameAddress = cpu.r(5);
    const u32 data = cpu.r(6);
    BupName name;
    u32 first = 0;
    const u32 status = visitNamedSave(cpu, name, first, [&](const Record& record) {
        u32 from = data;
        bool same = true;
        record.forEachDataByte([&](u8 byte) { same = same && read8(from++) == byte; });
        return same ? kBupSuccess : kBupNoMatch;
    });
    cpu.setR(0, status);
    if (status == kBupSuccess)
        logDebug(1, "%s: BUP_Verify [CA: %08X, device: %d, nameAddr: %08X(%s), dataAddr: %08X, status: %s]",
                 cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, name.text().c_str(), data, statusName(status));
    else
        logWarning(1, "%s: BUP_Verify [CA: %08X, device: %d, nameAddr: %08X(%s), dataAddr: %08X, status: %s]",
                   cpu.name().c_str(), cpu.pr() - 4, number, nameAddress, name.text().c_str(), data,
                   statusName(status));
    returnToCaller(cpu);
}

void BIOS::bupGetDate(SH2& cpu)
{
    const u32 minutes = cpu.r(4);
    const u32 address = cpu.r(5);
    const time_t t = dosEpoch() + static_cast<time_t>(minutes) * 60;
    std::tm local{};
    localtime_r(&t, &local);
    const u8 record[kDateRecordBytes] = {
        static_cast<u8>(local.tm_year + 1900 - kDosEpochYear), static_cast<u8>(local.tm_mon + 1),
        static_cast<u8>(local.tm_mday), static_cast<u8>(local.tm_hour), static_cast<u8>(local.tm_min),
        static_cast<u8>(local.tm_wday),
    };
    for (u32 k = 0; k < kDateRecordBytes; ++k)
        write8(address + k, record[k]);
    logDebug(1, "%s: BUP_GetDate [CA: %08X, M: %08X(%s)]", cpu.name().c_str(), cpu.pr() - 4, minutes,
             DateText(local).text);
    returnToCaller(cpu);
}

void BIOS::bupSetDate(SH2& cpu)
{
    const u32 address = cpu.r(4);
    std::tm local{};
    local.tm_year = read8(address) + kDosEpochYear - 1900;
    local.tm_mon = read8(address + 1) - 1;
    local.tm_mday = read8(address + 2);
    local.tm_hour = read8(address + 3);
    local.tm_min = read8(address + 4);
    local.tm_isdst = -1;
    const time_t t = std::mktime(&local);
    cpu.setR(0, static_cast<u32>((t - dosEpoch()) / 60));
    logDebug(1, "%s: BUP_SetDate [CA: %08X, M: %08X(%s)]", cpu.name().c_str(), cpu.pr() - 4, cpu.r(0),
             DateText(local).text);
    returnToCaller(cpu);
}
