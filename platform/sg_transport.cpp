#include "platform/sg_transport.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

constexpr u32 kSenseBytes = 32;

}  // namespace

bool SgTransport::open(const std::string& device)
{
    close();
    // Without O_NONBLOCK an empty drive refuses to open at all.
    m_fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    int version = 0;
    if (ioctl(m_fd, SG_GET_VERSION_NUM, &version) < 0) {
        m_error = "not a SCSI generic device";
        close();
        return false;
    }
    return true;
}

void SgTransport::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool SgTransport::execute(const u8* cdb, u32 cdbLength, u8* data, u32 length, u32 timeoutSeconds, u32& transferred)
{
    transferred = 0;
    if (m_fd < 0) {
        m_error = "drive not open";
        return false;
    }
    u8 command[16] = {};
    std::memcpy(command, cdb, std::min<u32>(cdbLength, sizeof command));
    u8 sense[kSenseBytes] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = static_cast<unsigned char>(std::min<u32>(cdbLength, sizeof command));
    io.cmdp = command;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    // The buffer is the caller's, sized by the request: the drive cannot
    // write past it whatever it answers.
    io.dxfer_len = length;
    io.dxferp = data;
    io.timeout = timeoutSeconds * 1000;
    if (ioctl(m_fd, SG_IO, &io) < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
        char text[96];
        std::snprintf(text, sizeof text, "SCSI status %02X, host %04X, driver %04X, sense %X/%02X/%02X", io.status,
                      io.host_status, io.driver_status, sense[2] & 0x0F, sense[12], sense[13]);
        m_error = text;
        return false;
    }
    const s32 resid = std::clamp<s32>(io.resid, 0, static_cast<s32>(length));
    transferred = length - static_cast<u32>(resid);
    return true;
}

std::vector<std::string> listCdDrives(const std::string& folder)
{
    std::vector<std::string> drives;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = item.path().filename().string();
        if (name.size() > 2 && name.compare(0, 2, "sr") == 0 &&
            std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            drives.push_back(item.path().string());
    }
    std::sort(drives.begin(), drives.end());
    return drives;
}
