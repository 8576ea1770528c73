// Opening a file: the console road (BIOS, backup memory, disc, cartridge,
// controllers), the arcade road (BIOS, EEPROM, ROM set) and the machine's
// mode, which both share.
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
#include "core/base/ini.h"
#include "core/emulator/kest.h"
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
    // A game that runs is closed first, so nothing of it survives the open.
    if (opened())
        stop();
    // The cartridge belongs to the game that chose it.
    insertCartridge(nullptr);
    m_cartridgeFile.forget();
    m_discPath.clear();
    m_discFailed = false;
    m_bootRefusal.clear();
    m_arcadeFault.clear();
    m_openStopped = false;
    m_openError.clear();
    m_biosPath.clear();
    m_romSetPath.clear();
    INI settings("", true);
    readSettings(settings);
    std::string target = path;
    FileKind kind;
    if (!path.empty()) {
        kind = classifyTarget(path);
        m_system.machineKind = machineKindOf(kind);
    } else {
        m_system.machineKind = mode;
        target = mode == 0 ? setting(settings, "Path", "sat_cd") : mode == 1 ? setting(settings, "Path", "stv_game1")
                                                                             : std::string();
        kind = classifyTarget(target);
    }

    bool startable = true;
    if (m_system.machineKind == kConsole) {
        loadSaturnBios(settings);
        // A drive that is missing, empty or failing starts nothing, nor does
        // a disc that cannot be read from its start.
        {
            FirstErrorCatch reason(m_openError);
            if (!openDisc(target, kind) || !readableSystemArea()) {
                // Nor is it kept for the next Boot.
                m_disc.reset();
                m_system.setMedia(nullptr);
                return false;
            }
        }
        if (!startSaturnGame(target, settings))
            return false;
    } else if (m_system.machineKind == kArcade) {
        // There is no built-in arcade BIOS to fall back on.
        {
            FirstErrorCatch reason(m_openError);
            startable = loadTitanBios(settings);
        }
        loadTitanGame(target);
        // Asked to stop: the program is ending, nothing starts.
        if (m_openStopped)
            return false;
        startTitanGame();
    } else {
        // Said with the kinds that do open: the extension alone decides.
        FirstErrorCatch reason(m_openError);
        logError(1, "Not a disc image or ROM set [path: %s]: Kest opens disc images (cue, bin, mdf, img, iso, mds, "
                    "ccd), arcade ROM sets (zip) and CD drives", path.c_str());
        return false;
    }
    setupMode(settings);
    if (startable)
        m_openError.clear();
    return startable;
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

bool Kest::loadSaturnBios(INI& settings)
{
    m_builtinBios = settingInt(settings, "General", "kest_bios") == 1;
    if (!m_builtinBios) {
        const std::string& bios = setting(settings, "Path", "sat_bios");
        const std::string file = dataPath(bios);
        const char* why = "";
        if (!loadBiosFile(file, &why)) {
            logWarning(1, "Failed to load BIOS file, use Kest BIOS instead [path: %s, reason: %s]", bios.c_str(),
                       bios.empty() ? "none named" : why);
            m_builtinBios = true;
        }
    }
    if (m_builtinBios)
        m_system.biosHook().install();
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

bool Kest::openDisc(const std::string& path, FileKind kind)
{
    switch (kind) {
    case FileKind::kCue: m_disc = std::make_shared<CCue>(path); break;
    case FileKind::kImage: m_disc = std::make_shared<CBin>(path); break;
    case FileKind::kMds: m_disc = std::make_shared<CMds>(path); break;
    case FileKind::kCcd: m_disc = std::make_shared<CCcd>(path); break;
    case FileKind::kDrive:
        if (!m_realDrive || !m_realDrive->open(path)) {
            logError(1, "No disc from the drive [path: %s]", path.c_str());
            m_disc.reset();
            m_system.setMedia(nullptr);
            return false;
        }
        m_disc = m_realDrive;
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
        break;
    }
    if (!path.empty())
        m_heldDiscPath = path;
    m_system.setMedia(m_disc);
    const bool image = kind == FileKind::kCue || kind == FileKind::kImage || kind == FileKind::kMds ||
                       kind == FileKind::kCcd;
    if (image) {
        m_discPath = path;
        m_discFailed = m_disc->sessions().empty();
    }
    return !m_discFailed;
}

bool Kest::readableSystemArea()
{
    if (!m_disc)
        return true;
    const auto inTrack = [&](u32 fad) {
        for (const SessionInfo& session : m_disc->sessions()) {
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
            m_disc->readSector(fad, sector);
            read = sector.size > 0;
        }
        if (!read) {
            logError(1, "Disc system area cannot be read [path: %s, FAD: %u]: a disc unreadable from its start cannot "
                        "boot (an image cut short, or a damaged disc)", m_heldDiscPath.c_str(), fad);
            return false;
        }
    }
    return true;
}

bool Kest::startSaturnGame(const std::string& path, INI&)
{
    // Without a disc, or when its first sector cannot be read, the header is
    // empty and the disc is not a console disc.
    m_header = DiscHeader{};
    if (m_disc) {
        SectorBuffer sector;
        m_disc->readSector(kHeaderFad, sector);
        if (sector.size > 0 && sector.userData() &&
            SectorBuffer::userDataSize(sector.mode) >= DiscHeader::kSize)
            m_header = readDiscHeader(sector.userData());
    }
    // A BIOS image shows its own menu without a disc; the built-in one has
    // nothing to show.
    if (m_builtinBios && !m_disc) {
        FirstErrorCatch reason(m_openError);
        logError(1, "No disc to boot: the built-in BIOS starts a disc named as sat_cd in [Path] of kest.ini (for "
                    "example sat_cd = games/game.cue, in the folder of kest.ini)");
        return false;
    }
    bool booted = true;
    if (m_builtinBios) {
        FirstErrorCatch reason(m_openError);
        booted = m_system.biosHook().bootDisc(m_header);
    }

    if (m_header.hardwareId != "SEGA SEGASATURN") {
        logWarning(1, "Load game [path: %s]", path.c_str());
        if (m_builtinBios) {
            // A BIOS image plays audio CDs and says what it makes of other
            // discs; the built-in one would only stand still.
            m_openError.clear();
            FirstErrorCatch reason(m_openError);
            logError(1, "Not a Saturn disc [path: %s]: the built-in BIOS starts Saturn discs only; a console BIOS "
                        "image, named as sat_bios in [Path] of kest.ini, also plays audio CDs",
                     m_heldDiscPath.c_str());
            return false;
        }
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
    INI settings("", true);
    readSettings(settings);
    createCartridge(settings);
    return true;
}

bool Kest::loadCartridgeFile(u8* data, u32 size, const std::string& path)
{
    u64 found = 0;
    return readRegularFile(dataPath(path), data, size, false, found) == FileCheck::kRead;
}

bool Kest::loadBiosFile(const std::string& path, const char** why)
{
    u64 found = 0;
    const FileCheck check = readRegularFile(path, m_system.memory().bios.get(), SystemMemory::kBiosSize, true, found);
    if (check == FileCheck::kRead)
        m_biosPath = path;
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

bool Kest::loadTitanBios(INI& settings)
{
    u8* bios = m_system.memory().bios.get();
    const std::string& name = setting(settings, "Path", "stv_bios");
    const char* why = "";
    if (name.empty()) {
        logFirstError(m_arcadeFault, "No arcade BIOS: name its 512 KB image as stv_bios in [Path] of kest.ini (for example "
                    "stv_bios = bios/stv_bios.bin, in the folder of kest.ini)");
        return false;
    }
    if (!loadBiosFile(dataPath(name), &why)) {
        logFirstError(m_arcadeFault, "Arcade BIOS not loaded [path: %s, reason: %s]: stv_bios in [Path] of kest.ini names a 512 KB "
                    "image", dataPath(name).c_str(), why);
        return false;
    }
    swapWords16(bios, SystemMemory::kBiosSize);
    loadEeprom();
    loadBackupMemory(setting(settings, "Path", "stv_bup"), "saves/stv_primary_01.bup", kArcadeBackupSize, 0x3FFF);
    m_areaLetter = static_cast<char>(bios[kArcadeAreaOffset]);
    // An image in the other byte order puts the letter in the next byte.
    if (!std::isalpha(static_cast<unsigned char>(m_areaLetter))) {
        logFirstError(m_arcadeFault, "Arcade BIOS area byte is not a letter [path: %s, offset: %03X, byte: %02X]: the image may be "
                    "in the other byte order", dataPath(name).c_str(), kArcadeAreaOffset,
                    static_cast<u8>(m_areaLetter));
        m_areaLetter = '?';
    }
    for (const MemoryMapWindow& window : m_system.arcadeWindows())
        m_system.applyMemoryMap({window});
    return true;
}

bool Kest::loadTitanGame(const std::string& path)
{
    loadTitanRomSet(path);
    return true;
}

void Kest::loadTitanRomSet(const std::string& path)
{
    const PathParts parts(path);
    const std::string setName = parts.name + "." + parts.extension;
    m_romSetPath = path;
    logDebug(2, "Load game (%s)", parts.name.c_str());
    const std::string dbPath = dataPath("data.json");
    const GameDatabase db = GameDatabase::load(dbPath, GameDatabase::Wanted::game(parts.name));
    zipfile archive(path);
    if (!archive.isOpen()) {
        logFirstError(m_arcadeFault, "Failed to open %s [path: %s, reason: %s]", setName.c_str(), path.c_str(),
                      isRegularFile(path) ? "not a readable zip archive" : whyNotOpened(path).c_str());
        return;
    }
    archive.setStopCheck(m_stopCheck);
    switch (db.titanEntry(parts.name)) {
    case GameDatabase::Entry::kListed: break;
    case GameDatabase::Entry::kAbsent:
        // The set is found by its zip file's name alone.
        logFirstError(m_arcadeFault, "Data for %s not found [database: %s, %s]", parts.name.c_str(), dbPath.c_str(),
                      db.error().empty() ? "no such entry; a set is the entry of \"TITAN\" named as its zip file "
                                           "without .zip"
                                         : db.error().c_str());
        return;
    case GameDatabase::Entry::kNotAnObject:
        logFirstError(m_arcadeFault, "Data for %s not found [database: %s, its entry is not an object]",
                      parts.name.c_str(), dbPath.c_str());
        return;
    }
    const std::vector<GameDatabase::RomFile> files = db.titanFiles(parts.name);
    if (files.empty()) {
        logFirstError(m_arcadeFault, "Data for %s lists no ROM files [database: %s]", parts.name.c_str(),
                      dbPath.c_str());
        return;
    }
    auto cart = std::make_shared<CartTitan>();
    for (const GameDatabase::RomFile& file : files) {
        if (stopRequested())
            break;
        if (!file.fault.empty()) {
            logFirstError(m_arcadeFault, "Bad data.json entry [F: %s]: %s", file.name.c_str(), file.fault.c_str());
            continue;
        }
        // The offset and the bytes its pattern writes come from the database:
        // they must stay inside the cartridge's data.
        if (u64{file.offset} + extentOfPattern(file.pattern, file.size) > CartTitan::kSize) {
            logFirstError(m_arcadeFault, "ROM file outside the cartridge data [F: %s, O: %08X, S: %08X]",
                          file.name.c_str(), file.offset, file.size);
            continue;
        }
        cart->addRomWindow(file.offset, file.size);
        std::string why;
        extractRom(*this, archive, file.name, file.pattern, cart->data() + file.offset, file.size, file.crc, &why);
        if (!why.empty() && m_arcadeFault.empty())
            m_arcadeFault = file.name + " of " + setName + ": " + why;
    }
    if (stopRequested()) {
        logError(1, "Opening %s stopped", setName.c_str());
        m_openStopped = true;
        return;
    }
    insertCartridge(cart);
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
