#include "core/emulator/kest.h"

#include <algorithm>
#include <filesystem>

#include "board/cart/cartridge.h"
#include "board/cart/eeprom.h"
#include "core/base/helpers.h"
#include "core/base/shared_state.h"
#include "video/color_tables.h"

namespace {

constexpr const char* kEepromFile = "saves/stv_eeprom.sav";

std::string executableFolder()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && exe.has_parent_path())
        return exe.parent_path().string();
    return std::filesystem::current_path(error).string();
}

}  // namespace

Kest::Kest() : m_dataFolder(executableFolder())
{
    setName("KEST");
    m_machine = &m_system;
    m_system.attachHook(this);
    for (SaveFile* file : {&m_system.backupFile(), &m_eepromFile, &m_cartridgeFile, &m_system.smpc().batteryFile()})
        file->join(m_saves);
    buildVideoTables();
}

Kest::~Kest()
{
    m_realDrive.reset();
    m_disc.reset();
    m_cartridge.reset();
}

std::string Kest::dataPath(const std::string& name) const
{
    if (name.empty())
        return name;
    const std::filesystem::path path(name);
    if (path.is_absolute())
        return name;
    return (std::filesystem::path(m_dataFolder) / path).string();
}

bool Kest::init(void*)
{
    return true;
}

bool Kest::prepare(std::shared_ptr<CDD> realDrive)
{
    m_realDrive = std::move(realDrive);
    m_softReset = 0;
    std::error_code ignored;
    std::filesystem::create_directories(dataPath("bios"), ignored);
    std::filesystem::create_directories(dataPath("saves"), ignored);
    m_system.setup(0);
    m_system.smpc().setSaveFolder(dataPath("saves"));
    // Built now, before a host registers an exit handler that writes the
    // saves: what is built after it is gone by the time it runs.
    boardEeprom();
    return true;
}

void Kest::start()
{
    CEmuX::start();
    m_system.powerOn();
}

void Kest::stop()
{
    m_system.powerOff();
    writeSaves();
    insertCartridge(nullptr);
    releaseSaves();
    CEmuX::stop();
}

void Kest::releaseSaves()
{
    m_system.backupFile().forget();
    m_eepromFile.forget();
    m_cartridgeFile.forget();
    m_system.smpc().closeBattery();
    m_saves.clear();
}

void Kest::writeSaves()
{
    // Saves another program held, or stood in the way of, may be free now.
    m_saves.lookAgain();
    // A save the game finished in the last field or two has not settled
    // yet, and one written in every field never does: both are written now,
    // as is one whose write failed. The rest are on disk already.
    m_system.flushBackupRam();
    AK93C45AF& eeprom = boardEeprom();
    if (m_eepromFile.state() != SaveFile::State::kNone && (eeprom.unsaved() || m_eepromFile.failing())) {
        eeprom.settle();
        saveEeprom();
    }
    auto* backup = dynamic_cast<CartBUP*>(m_cartridge.get());
    if (backup && (backup->unsaved() || m_cartridgeFile.failing())) {
        backup->settle();
        saveBackupCartridge();
    }
    // The clock and SMEM are written as they change; only a failure is left.
    if (m_system.smpc().batteryFailing())
        m_system.smpc().saveBattery();
}

bool Kest::resume()
{
    CEmuX::resume();
    return true;
}

bool Kest::pause()
{
    CEmuX::pause();
    return true;
}

std::string Kest::getInfo(int index)
{
    switch (index) {
    case 0: return "v0.5";
    case 1: return "Kest: a Sega Saturn and ST-V emulator";
    case 2: return "Kest 0.5";
    default: return "getInfo: null";
    }
}

void Kest::reset()
{
    // Buttons the soft reset pressed are let go, or they would stay held
    // with nothing left to release them.
    if (m_softReset >= kSoftResetRelease && m_softReset < kSoftResetFields)
        hostPadState[0] |= kSoftResetButtons;
    m_softReset = 0;
    m_system.reset();
}

void* Kest::getPart(int index)
{
    return m_system.getCpu(index);
}

std::shared_ptr<Peripheral> Kest::createKeyboard() { return {}; }
std::shared_ptr<Peripheral> Kest::createMouse() { return {}; }
std::shared_ptr<Peripheral> Kest::createMDPad3B() { return {}; }
std::shared_ptr<Peripheral> Kest::createMDPad6B() { return {}; }
std::shared_ptr<Peripheral> Kest::createPad() { return {}; }
std::shared_ptr<Peripheral> Kest::createJoystick() { return {}; }
std::shared_ptr<Peripheral> Kest::createStunner() { return {}; }

void Kest::softReset()
{
    if (m_softReset == 0)
        m_softReset = kSoftResetFields;
}

bool Kest::onHook(Device*)
{
    if (m_softReset > 0) {
        if (m_softReset == kSoftResetFields) {
            hostPadState[0] &= static_cast<u8>(~kSoftResetButtons);
            logDebug(1, "Software Reset");
        } else if (m_softReset == kSoftResetRelease) {
            hostPadState[0] |= kSoftResetButtons;
        }
        --m_softReset;
    }

    // As the backup memory is: a run cut short keeps what the game wrote.
    if (boardEeprom().pollWriteBack() && saveEeprom())
        logDebug(1, "Save %s to disk", boardEeprom().name().c_str());

    const u8 id = m_system.cartridgeId;
    if (id >= 0x21 && id <= 0x24) {
        auto* backup = dynamic_cast<CartBUP*>(m_cartridge.get());
        if (backup && backup->pollWriteBack()) {
            saveBackupCartridge();
            logDebug(1, "Save %s to disk", backup->name().c_str());
        }
    }
    return true;
}

void Kest::insertCartridge(std::shared_ptr<Cartridge> cartridge)
{
    m_cartridge = cartridge;
    if (cartridge)
        m_system.insertCartridge(std::move(cartridge));
    else
        m_system.ejectCartridge();
}

bool Kest::loadBackupMemory(const std::string& path, const std::string& fallback, u32 size, u32 mask)
{
    // A default file created below must hold an empty memory, not the image
    // of the game that ran before.
    u8* memory = m_system.memory().backup.get();
    zeroFill(memory, static_cast<s32>(SystemMemory::kBackupSize));
    size = std::min(size, SystemMemory::kBackupSize);
    m_system.setBackupSize(size, mask);
    SaveFile& file = m_system.backupFile();
    using State = SaveFile::State;
    State state = file.load(name().c_str(), dataPath(path), memory, size);
    if (state == State::kAbsent || state == State::kNone)
        state = file.load(name().c_str(), dataPath(fallback), memory, size, SaveFile::Absent::kCreate);
    return state == State::kLoaded;
}

bool Kest::loadEeprom()
{
    AK93C45AF& eeprom = boardEeprom();
    // What the chip held before the file was read is not the game's to save.
    eeprom.settle();
    const SaveFile::State state = m_eepromFile.load(name().c_str(), dataPath(kEepromFile), eeprom.data(), eeprom.size(),
                                                    SaveFile::Absent::kCreate);
    if (state == SaveFile::State::kRefused)
        std::fill_n(eeprom.data(), eeprom.size(), 0xFF);  // erased
    return m_eepromFile.state() == SaveFile::State::kLoaded;
}

bool Kest::saveEeprom()
{
    // The file belongs to the arcade board: a run that never loaded it must
    // not overwrite it with the chip's blank contents.
    AK93C45AF& eeprom = boardEeprom();
    return m_eepromFile.save(eeprom.data(), eeprom.size());
}

bool Kest::saveBackupCartridge()
{
    auto* backup = dynamic_cast<CartBUP*>(m_cartridge.get());
    return backup && m_cartridgeFile.save(backup->data(), backup->size());
}
