#pragma once

#include <filesystem>
#include <string>

namespace morvane::test {

// A fresh folder under the system's temporary folder, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

// Writes bytes to path, replacing what it held.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

} // namespace morvane::test
