// Small helpers shared by the tests: a temporary folder removed at the end of a test, and
// whole-file reads and writes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder in the platform's own form (backslashes on Windows).
    const std::string& path() const { return path_; }
    // path() + separator + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// A file of the source tree by its relative path, reachable from the native tests and, through
// Wine's drive for the Linux root, from the Windows ones.
std::string SourceFile(const std::string& relative);
