// Opening a file: the console road (BIOS, backup memory, disc, cartridge,
// controllers), the arcade road (BIOS, EEPROM, ROM set) and the machine's
// mode, which both share.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "board/cart/cart_titan.h"
#include "board/cart/cartridge.h"
#include "cd/media/bin.h"
#include "cd/media/ccd.h"
#include "cd/media/cdd.h"
#include "cd/media/cue.h"
#include "cd/media/mds.h"
#include "core/emulator/default_settings.h"
#include "core/emulator/game_database.h"
#include "core/base/helpers.h"
#include "core/base/object.h"
#include "core/base/ini.h"
#include "core/emulator/kest.h"
#include "core/base/file_io.h"
#include "core/base/save_file.h"
#include "core/emulator/zipfile.h"

namespace {

constexpr u32 kConsoleBackupSize = 0x8000;
constexpr u32 kArcadeBackupSize = 0x2000;
constexpr u32 kArcadeAreaOffset = 0x808;
constexpr u32 kArcadeHeaderOffset = 0x200000;
constexpr u32 kHeaderFad = 150;
// The header and initial program every console disc starts with.
constexpr u32 kSystemAreaSectors = 16;
constexpr u8 kNoCartridge = 0xFF;
constexpr u8 kRomCartridge = 0xC0;

const std::string& setting(INI& settings, const char* section, const char* key)
{
    return settings.findSection(section).findKey(key).value;
}

s32 settingInt(INI& settings, const char* section, const char* key)
{
    return settings.findSection(section).findKey(key).getInt();
}

// A host CD drive is named by its device (/dev/sr0), where Windows names
// it by a drive letter.
FileKind classifyTarget(const std::string& path)
{
    std::error_code error;
    if (path.starts_with("/dev/") || std::filesystem::is_block_file(path, error))
        return FileKind::kDrive;
    return classifyPath(path);
}

}  // namespace

bool Kest::open(const std::string& path, int mode)
{
    return prepareOpen(path, mode) && finishOpen();
}

bool Kest::prepareOpen(const std::string& path, int mode)
{
    m_plan.reset();
    m_discPath.clear();
    m_discFailed = false;
    m_bootRefusal.clear();
    m_arcadeFault.clear();
    m_openStopped = false;
    m_openError.clear();
    auto plan = std::make_unique<OpenPlan>();
    plan->settings = std::make_shared<INI>("", true);
    readSettings(*plan->settings);
    plan->target = path;
    if (!path.empty()) {
        plan->kind = classifyTarget(path);
        plan->machineKind = machineKindOf(plan->kind);
    } else {
        plan->machineKind = mode;
        INI& settings = *plan->settings;
        plan->target = mode == 0   ? setting(settings, "Path", "sat_cd")
                       : mode == 1 ? setting(settings, "Path", "stv_game1")
                                   : std::string();
        plan->kind = classifyTarget(plan->target);
    }

    bool startable = false;
    if (plan->machineKind == kConsole) {
        startable = planConsole(*plan);
    } else if (plan->machineKind == kArcade) {
        {
            FirstErrorCatch reason(m_openError);
            startable = planArcade(*plan);
        }
        // The same words the driver ends with.
        if (!m_arcadeFault.empty())
            m_openError = m_arcadeFault;
    } else {
        // Said with the kinds that do open: the extension alone decides.
        FirstErrorCatch reason(m_openError);
        logError(1, "Not a disc image or ROM set [path: %s]: Kest opens disc images (cue, bin, mdf, img, iso, mds, "
                    "ccd), arcade ROM sets (zip) and CD drives", path.c_str());
    }
    if (!startable)
        return false;
    m_openError.clear();
    m_plan = std::move(plan);
    return true;
}

bool Kest::finishOpen()
{
    if (!m_plan)
        return false;
    const std::unique_ptr<OpenPlan> plan = std::move(m_plan);
    // A game that runs is closed first, so nothing of it survives the open.
    if (opened())
        stop();
    // The cartridge belongs to the game that chose it, and the saves are
    // the next game's to take.
    insertCartridge(nullptr);
    releaseSaves();
    m_system.machineKind = plan->machineKind;
    m_biosPath = plan->biosPath;
    m_romSetPath.clear();
    if (plan->machineKind == kConsole) {
        if (plan->discLater && !planDisc(*plan)) {
            // Nor is the disc kept for the next Boot.
            m_disc.reset();
            m_system.setMedia(nullptr);
            return false;
        }
        loadSaturnBios(*plan);
        // Held for the next Boot.
        m_disc = plan->disc;
        if (!plan->target.empty())
            m_heldDiscPath = plan->target;
        m_system.setMedia(m_disc);
        if (!startSaturnGame(*plan)) {
            // Nothing runs: the saves it loaded are free for another program.
            insertCartridge(nullptr);
            releaseSaves();
            return false;
        }
    } else {
        loadTitanBios(*plan);
        m_romSetPath = plan->target;
        insertCartridge(plan->cartridge);
        startTitanGame();
    }
    // The clock and SMEM, read anew with the game's other saves.
    m_system.smpc().openBattery();
    setupMode(*plan->settings);
    return true;
}

bool Kest::planConsole(OpenPlan& plan)
{
    INI& settings = *plan.settings;
    plan.builtinBios = settingInt(settings, "General", "kest_bios") == 1;
    if (!plan.builtinBios) {
        const std::string& bios = setting(settings, "Path", "sat_bios");
        const char* why = "";
        if (!readBiosFile(dataPath(bios), plan, &why)) {
            logWarning(1, "Failed to load BIOS file, use Kest BIOS instead [path: %s, reason: %s]", bios.c_str(),
                       bios.empty() ? "none named" : why);
            plan.builtinBios = true;
        }
    }
    // The disc the running game reads (the held one, or the real drive
    // opened again) is read by its drive's thread: it is tried once that
    // game has stopped.
    plan.discLater =
        opened() && m_disc && (plan.target.empty() || (plan.kind == FileKind::kDrive && m_disc == m_realDrive));
    return plan.discLater || planDisc(plan);
}

bool Kest::planDisc(OpenPlan& plan)
{
    // A drive that is missing, empty or failing starts nothing, nor does
    // a disc that cannot be read from its start.
    FirstErrorCatch reason(m_openError);
    if (!openDisc(plan) || !readableSystemArea(plan))
        return false;
    // Without a disc, or when its first sector cannot be read, the header is
    // empty and the disc is not a console disc.
    if (plan.disc) {
        SectorBuffer sector;
        plan.disc->readSector(kHeaderFad, sector);
        if (sector.size > 0 && sector.userData() && SectorBuffer::userDataSize(sector.mode) >= DiscHeader::kSize)
            plan.header = readDiscHeader(sector.userData());
    }
    if (!plan.builtinBios)
        return true;
    // A BIOS image shows its own menu without a disc, plays audio CDs and
    // says what it makes of other discs; the built-in one would only stand
    // still.
    if (!plan.disc) {
        logError(1, "No disc to boot: the built-in BIOS starts a disc named as sat_cd in [Path] of kest.ini (for "
                    "example sat_cd = games/game.cue, in the folder of kest.ini)");
        return false;
    }
    if (plan.header.hardwareId != "SEGA SEGASATURN") {
        logError(1, "Not a Saturn disc [path: %s]: the built-in BIOS starts Saturn discs only; a console BIOS "
                    "image, named as sat_bios in [Path] of kest.ini, also plays audio CDs",
                 plan.discName.c_str());
        return false;
    }
    if (!m_system.biosHook().canBoot(plan.disc, plan.header)) {
        m_bootRefusal = m_system.biosHook().refusal();
        return false;
    }
    return true;
}

void Kest::readSettings(INI& settings) const
{
    const std::string path = dataPath("kest.ini");
    std::error_code error;
    // Without the file, the run is the one the window's first start makes.
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found)
        settings.parse(kDefaultSettings);
    else
        settings.load(path);
}

std::vector<std::string> Kest::filesInUse() const
{
    std::vector<std::string> files = {dataPath("kest.ini"), dataPath("data.json")};
    for (const std::string* path : {&m_biosPath, &m_discPath, &m_romSetPath, &m_system.backupFile().path(),
                                    &m_cartridgeFile.path(), &m_eepromFile.path(),
                                    &m_system.smpc().batteryPath()}) {
        if (!path->empty())
            files.push_back(*path);
    }
    return files;
}

bool Kest::loadSaturnBios(OpenPlan& plan)
{
    INI& settings = *plan.settings;
    m_builtinBios = plan.builtinBios;
    if (m_builtinBios)
        m_system.biosHook().install();
    else
        std::copy(plan.bios.begin(), plan.bios.end(), m_system.memory().bios.get());
    loadBackupMemory(setting(settings, "Path", "sat_bup"), "saves/sat_primary_01.bup", kConsoleBackupSize, 0xFFFF);
    readRegion(settings);
    readCartridge(settings);
    readControllers(settings);
    m_system.applyMemoryMap({m_system.cartridgeIdWindow()});
    return true;
}

void Kest::readRegion(INI& settings)
{
    static constexpr char kLetters[] = "JTUBKAEL";
    const s32 region = settingInt(settings, "General", "region");
    m_areaLetter = 'J';
    m_autoRegion = region < 1 || region > 8;
    if (!m_autoRegion)
        m_areaLetter = kLetters[region - 1];
}

void Kest::readCartridge(INI& settings)
{
    static constexpr u8 kIds[] = {0xFF, 0x5A, 0x5C, 0x21, 0x22, 0x23, 0x24, 0xC0};
    const s32 choice = settingInt(settings, "General", "cartridge");
    m_autoCartridge = choice < 1 || choice > 8;
    if (!m_autoCartridge)
        m_system.cartridgeId = kIds[choice - 1];
}

void Kest::readControllers(INI& settings)
{
    using Factory = std::shared_ptr<Peripheral> (Kest::*)();
    static constexpr Factory kFactories[] = {&Kest::createPad,   &Kest::createJoystick, &Kest::createKeyboard,
                                             &Kest::createMouse, &Kest::createStunner,  &Kest::createMDPad6B,
                                             &Kest::createMDPad3B};
    const s32 device = settingInt(settings, "General", "direct_1");
    if (device >= 1 && device <= 7)
        attach(0, kFactories[device - 1]);
    else
        detachController(0);
    detachController(1);
}

void Kest::attach(int port, std::shared_ptr<Peripheral> (Kest::*factory)())
{
    // A connected port keeps its device, whatever kind the settings name.
    SMPC::Port& p = m_system.smpc().getPort(port);
    if (!p.isConnected())
        p.attach((this->*factory)());
}

void Kest::detachController(int port)
{
    m_system.smpc().getPort(port).detach();
}

bool Kest::openDisc(OpenPlan& plan)
{
    const std::string& path = plan.target;
    plan.discName = path.empty() ? m_heldDiscPath : path;
    switch (plan.kind) {
    case FileKind::kCue: plan.disc = std::make_shared<CCue>(path); break;
    case FileKind::kImage: plan.disc = std::make_shared<CBin>(path); break;
    case FileKind::kMds: plan.disc = std::make_shared<CMds>(path); break;
    case FileKind::kCcd: plan.disc = std::make_shared<CCcd>(path); break;
    case FileKind::kDrive:
        if (!m_realDrive || !m_realDrive->open(path)) {
            logError(1, "No disc from the drive [path: %s]", path.c_str());
            return false;
        }
        plan.disc = m_realDrive;
        break;
    default:
        // Only an empty name keeps the held disc: a file kest.ini names that
        // is no disc image (a folder, another kind, a path cut short by a
        // comment sign) fails as a missing image does.
        if (!path.empty()) {
            logError(1, "Not a disc image [path: %s]", path.c_str());
            m_discPath = path;
            m_discFailed = true;
            return false;
        }
        plan.disc = m_disc;
        break;
    }
    const FileKind kind = plan.kind;
    const bool image = kind == FileKind::kCue || kind == FileKind::kImage || kind == FileKind::kMds ||
                       kind == FileKind::kCcd;
    if (image) {
        m_discPath = path;
        m_discFailed = plan.disc->sessions().empty();
    }
    return !m_discFailed;
}

bool Kest::readableSystemArea(const OpenPlan& plan)
{
    const std::shared_ptr<CCd>& disc = plan.disc;
    if (!disc)
        return true;
    const auto inTrack = [&](u32 fad) {
        for (const SessionInfo& session : disc->sessions()) {
            for (const TrackInfo& track : session.tracks) {
                if (fad >= track.startFad && fad <= track.endFad)
                    return true;
            }
        }
        return false;
    };
    SectorBuffer sector;
    for (u32 fad = kHeaderFad; fad < kHeaderFad + kSystemAreaSectors; ++fad) {
        // Outside every track an image answers silence, which is no data.
        bool read = inTrack(fad);
        if (read) {
            disc->readSector(fad, sector);
            read = sector.size > 0;
        }
        if (!read) {
            logError(1, "Disc system area cannot be read [path: %s, FAD: %u]: a disc unreadable from its start cannot "
                        "boot (an image cut short, or a damaged disc)", plan.discName.c_str(), fad);
            return false;
        }
    }
    return true;
}

bool Kest::startSaturnGame(OpenPlan& plan)
{
    m_header = plan.header;
    bool booted = true;
    if (m_builtinBios) {
        FirstErrorCatch reason(m_openError);
        booted = m_system.biosHook().bootDisc(m_header);
    }

    if (m_header.hardwareId != "SEGA SEGASATURN") {
        logWarning(1, "Load game [path: %s]", plan.target.c_str());
        if (m_autoCartridge)
            m_system.cartridgeId = 0x24;
    } else {
        // The built-in BIOS holds the machine still instead of starting it.
        if (!booted)
            m_bootRefusal = m_system.biosHook().refusal();
        logDebug(1, "Start (%s) [ID: %s, D: %s, A: %s, P: %s, IPS: %08X, RA: %08X]", m_header.title.c_str(),
                 m_header.productNumber.c_str(), m_header.releaseDate.c_str(), m_header.areaSymbols.c_str(),
                 m_header.peripherals.c_str(), m_header.ipSize, m_header.firstReadAddress);
        if (!booted)
            return false;
        if (m_autoRegion && !m_header.areaSymbols.empty())
            m_areaLetter = m_header.areaSymbols[0];
        if (m_autoCartridge) {
            // Only arcade sets need the database: without it a console disc
            // gets what an empty one gives, said in a plain line.
            const std::string database = dataPath("data.json");
            std::error_code error;
            const bool absent =
                std::filesystem::symlink_status(database, error).type() == std::filesystem::file_type::not_found;
            if (absent)
                logInfo(1, "No game database [path: %s]: the automatic cartridge is the 4 MB backup memory",
                        database.c_str());
            const auto wanted = GameDatabase::Wanted::disc(m_header.productNumber);
            m_system.cartridgeId =
                (absent ? GameDatabase{} : GameDatabase::load(database, wanted)).chooseCartridge(m_header);
        }
    }
    createCartridge(*plan.settings);
    return true;
}

bool Kest::loadCartridgeFile(u8* data, u32 size, const std::string& path)
{
    u64 found = 0;
    return readRegularFile(dataPath(path), data, size, false, found) == FileCheck::kRead;
}

bool Kest::readBiosFile(const std::string& path, OpenPlan& plan, const char** why)
{
    u64 found = 0;
    plan.bios.assign(SystemMemory::kBiosSize, 0);
    const FileCheck check = readRegularFile(path, plan.bios.data(), SystemMemory::kBiosSize, true, found);
    if (check == FileCheck::kRead)
        plan.biosPath = path;
    else
        plan.bios.clear();
    if (check != FileCheck::kRead && check != FileCheck::kAbsent)
        logError(1, "BIOS file %s not used: %s [size: %llu, need: %u]", path.c_str(), describe(check),
                 static_cast<unsigned long long>(found), SystemMemory::kBiosSize);
    if (why)
        *why = describe(check);
    return check == FileCheck::kRead;
}

void Kest::createCartridge(INI& settings)
{
    std::shared_ptr<CartSaturn> cart;
    switch (m_system.cartridgeId) {
    case 0x21: cart = std::make_shared<CartBUP512K>(); break;
    case 0x22: cart = std::make_shared<CartBUP1M>(); break;
    case 0x23: cart = std::make_shared<CartBUP2M>(); break;
    case 0x24: cart = std::make_shared<CartBUP4M>(); break;
    case 0x5A: cart = std::make_shared<CartRAM1M>(); break;
    case 0x5C: cart = std::make_shared<CartRAM4M>(); break;
    case kRomCartridge: cart = std::make_shared<CartROM>(); break;
    default:
        m_system.cartridgeId = kNoCartridge;
        return;
    }
    const u8 id = m_system.cartridgeId;
    if (id >= 0x21 && id <= 0x24) {
        // The backup cartridge's file is never created here: no file, no
        // cartridge. A refused file leaves the cartridge blank and unsaved.
        const std::string file = dataPath(setting(settings, "Path", "sat_memcard"));
        using State = SaveFile::State;
        const State state = m_cartridgeFile.load(name().c_str(), file, cart->data(), cart->size());
        if (state == State::kAbsent || state == State::kNone) {
            m_cartridgeFile.forget();
            m_system.cartridgeId = kNoCartridge;
            return;
        }
    } else if (id == kRomCartridge) {
        if (!loadCartridgeFile(cart->data(), cart->size(), setting(settings, "Path", "sat_rom"))) {
            m_system.cartridgeId = kNoCartridge;
            return;
        }
        m_system.cartridgeId = cart->getId();
    }
    insertCartridge(cart);
}

bool Kest::planArcade(OpenPlan& plan)
{
    const PathParts parts(plan.target);
    const std::string setName = parts.name + "." + parts.extension;
    logDebug(2, "Load game (%s)", parts.name.c_str());
    const std::string dbPath = dataPath("data.json");
    const GameDatabase db = GameDatabase::load(dbPath, GameDatabase::Wanted::game(parts.name));
    // What the zip is comes first: one that is no set needs no BIOS.
    zipfile archive(plan.target);
    if (!archive.isOpen()) {
        logFirstError(m_arcadeFault, "Failed to open %s [path: %s, reason: %s]", setName.c_str(), plan.target.c_str(),
                      isRegularFile(plan.target) ? "not a readable zip archive" : whyNotOpened(plan.target).c_str());
        return false;
    }
    switch (db.titanEntry(parts.name)) {
    case GameDatabase::Entry::kListed: break;
    case GameDatabase::Entry::kAbsent: {
        // The set is found by its zip file's name alone. A database that
        // cannot be read says nothing of the zip.
        const bool unread = !db.error().empty() && db.error() != "missing";
        logFirstError(m_arcadeFault, "Data for %s not found [database: %s, %s]%s", parts.name.c_str(), dbPath.c_str(),
                      db.error().empty() ? "no such entry; a set is the entry of \"TITAN\" named as its zip file "
                                           "without .zip"
                                         : db.error().c_str(),
                      unread ? "" : ": not a known arcade set; a disc image opens unzipped");
        return false;
    }
    case GameDatabase::Entry::kNotAnObject:
        logFirstError(m_arcadeFault, "Data for %s not found [database: %s, its entry is not an object]",
                      parts.name.c_str(), dbPath.c_str());
        return false;
    case GameDatabase::Entry::kOverfull:
        logFirstError(m_arcadeFault, "Data for %s lists more than %u ROM files [database: %s]: a set has a few dozen",
                      parts.name.c_str(), GameDatabase::kMaxMembers, dbPath.c_str());
        return false;
    }
    if (!readTitanBios(plan))
        return false;
    archive.setStopCheck(m_stopCheck);
    return readTitanRomSet(plan, archive, db.titanFiles(parts.name), parts.name, setName);
}

bool Kest::readTitanBios(OpenPlan& plan)
{
    const std::string& name = setting(*plan.settings, "Path", "stv_bios");
    const char* why = "";
    if (name.empty()) {
        logFirstError(m_arcadeFault, "No arcade BIOS: name its 512 KB image as stv_bios in [Path] of kest.ini (for "
                                     "example stv_bios = bios/stv_bios.bin, in the folder of kest.ini)");
        return false;
    }
    if (!readBiosFile(dataPath(name), plan, &why)) {
        logFirstError(m_arcadeFault, "Arcade BIOS not loaded [path: %s, reason: %s]: stv_bios in [Path] of kest.ini "
                                     "names a 512 KB image", dataPath(name).c_str(), why);
        return false;
    }
    swapWords16(plan.bios.data(), SystemMemory::kBiosSize);
    plan.areaLetter = static_cast<char>(plan.bios[kArcadeAreaOffset]);
    // An image in the other byte order puts the letter in the next byte.
    if (!std::isalpha(static_cast<unsigned char>(plan.areaLetter))) {
        logFirstError(m_arcadeFault, "Arcade BIOS area byte is not a letter [path: %s, offset: %03X, byte: %02X]: the "
                                     "image may be in the other byte order", dataPath(name).c_str(),
                      kArcadeAreaOffset, static_cast<u8>(plan.areaLetter));
        return false;
    }
    return true;
}

bool Kest::readTitanRomSet(OpenPlan& plan, zipfile& archive, const std::vector<GameDatabase::RomFile>& files,
                           const std::string& game, const std::string& setName)
{
    const std::string dbPath = dataPath("data.json");
    if (files.empty()) {
        logFirstError(m_arcadeFault, "Data for %s lists no ROM files [database: %s]", game.c_str(), dbPath.c_str());
        return false;
    }
    u64 total = 0;
    for (const GameDatabase::RomFile& file : files) {
        // One wrong entry is enough to refuse the set.
        if (!file.fault.empty()) {
            logFirstError(m_arcadeFault, "Bad data.json entry [F: %s]: %s", printable(file.name).c_str(),
                          file.fault.c_str());
            return false;
        }
        total += file.size;
    }
    // Each member lands in the cartridge's data, so a real set's sizes add
    // up to no more than it holds; two members interleaved byte by byte add
    // up to the one range they share. Checked before a byte is inflated: a
    // small archive can name one large member many times.
    if (total > CartTitan::kSize) {
        logFirstError(m_arcadeFault, "Data for %s asks for more than the cartridge holds [database: %s, total: %llX, "
                                     "cartridge: %X]", game.c_str(), dbPath.c_str(),
                      static_cast<unsigned long long>(total), CartTitan::kSize);
        return false;
    }
    auto cart = std::make_shared<CartTitan>();
    bool stopped = false;
    for (const GameDatabase::RomFile& file : files) {
        if ((stopped = stopRequested()))
            break;
        // The offset and the bytes its pattern writes come from the database:
        // they must stay inside the cartridge's data.
        if (u64{file.offset} + extentOfPattern(file.pattern, file.size) > CartTitan::kSize) {
            logFirstError(m_arcadeFault, "ROM file outside the cartridge data [F: %s, O: %08X, S: %08X]",
                          printable(file.name).c_str(), file.offset, file.size);
            continue;
        }
        cart->addRomWindow(file.offset, file.size);
        std::string why;
        extractRom(*this, archive, file.name, file.pattern, cart->data() + file.offset, file.size, file.crc, &why);
        if ((stopped = archive.stopped()))
            break;
        // The others are still read: the log names every member to mend.
        if (!why.empty() && m_arcadeFault.empty())
            m_arcadeFault = printable(file.name) + " of " + setName + ": " + why;
    }
    if (stopped) {
        logError(1, "Opening %s stopped", setName.c_str());
        m_openStopped = true;
        return false;
    }
    plan.cartridge = std::move(cart);
    return m_arcadeFault.empty();
}

void Kest::loadTitanBios(OpenPlan& plan)
{
    INI& settings = *plan.settings;
    std::copy(plan.bios.begin(), plan.bios.end(), m_system.memory().bios.get());
    loadEeprom();
    loadBackupMemory(setting(settings, "Path", "stv_bup"), "saves/stv_primary_01.bup", kArcadeBackupSize, 0x3FFF);
    m_areaLetter = plan.areaLetter;
    for (const MemoryMapWindow& window : m_system.arcadeWindows())
        m_system.applyMemoryMap({window});
}

void Kest::startTitanGame()
{
    auto* cart = dynamic_cast<CartTitan*>(cartridge());
    if (!cart)
        return;
    const DiscHeader header = readDiscHeader(cart->data() + kArcadeHeaderOffset);
    const std::string title = header.title.substr(0, 16);
    const std::string trimmed = trimField(reinterpret_cast<const u8*>(title.data()), 0, static_cast<u32>(title.size()));
    logDebug(1, "Start (%s) [D: %s, A: %s]", trimmed.c_str(), header.releaseDate.c_str(), header.areaSymbols.c_str());
}

void Kest::setupMode(INI& settings)
{
    m_system.cdb().setMpegCard(settingInt(settings, "General", "vcd_card") != 0);
    const bool pal = isPalArea(m_areaLetter);
    m_system.pal = pal;
    m_system.vdp2().setVideoStandard(pal);
    m_system.setVideoMode(pal ? CRaster::kPal : CRaster::kNtsc);
    m_system.smpc().setAreaCode(areaCodeToRegion(m_areaLetter));
    logInfo(1, "Mode: <%s> [A: %c, V: %s]", m_system.machineKind == kConsole ? "SATURN" : "TITAN", m_areaLetter,
            pal ? "PAL" : "NTSC");
    if (m_system.cartridgeId == kRomCartridge && m_system.drive().getSession(0))
        m_system.cartridgeId = kNoCartridge;
}
