#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/base/types.h"

// A fresh folder under the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir()
    {
        auto base = std::filesystem::temp_directory_path();
        for (int i = 0;; ++i) {
            m_path = base / ("kest-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_counter++));
            if (std::filesystem::create_directory(m_path))
                break;
        }
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    static inline int s_counter = 0;
    std::filesystem::path m_path;
};

inline std::vector<u8> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string readText(const std::string& path)
{
    const std::vector<u8> bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

// An assembled test program from tests/programs/<arch>/<name>.s.
inline std::vector<u8> loadProgram(const std::string& arch, const std::string& name)
{
    return readBytes(std::string(KEST_PROGRAMS_DIR) + "/" + arch + "/" + name + ".bin");
}
