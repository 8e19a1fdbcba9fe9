#pragma once
// A fresh folder per test under the system's temporary folder, removed afterwards, and the few
// whole-file helpers the file tests share.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace vandry::testing {

class ScratchFolder {
public:
    ScratchFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() / ("vandry_" + std::string(info->test_suite_name()) + "_" +
                                                          info->name() + "_" + std::to_string(::getpid()));
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        std::filesystem::create_directories(path_, ec);
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Byte i of a test file; varies with the block so misplaced blocks show.
inline std::uint8_t patternByte(std::uint64_t i)
{
    return static_cast<std::uint8_t>((i * 131 + i / 1024 + 7) % 251);
}

inline std::vector<std::uint8_t> pattern(std::uint64_t from, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = patternByte(from + i);
    return bytes;
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint64_t fileLength(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

} // namespace vandry::testing
