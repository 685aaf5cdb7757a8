// Temporary folders and whole-file reading and writing for tests.
#pragma once

#include <string>
#include <vector>

namespace kivo::test {

// Makes a new private folder below $TMPDIR (or /tmp) whose name starts with Prefix.
std::string MakeTempDir(const std::string& Prefix = "kivo-test-");
// Removes Path and everything below it, write-protected folders included;
// symbolic links are removed, never followed.
void RemoveTree(const std::string& Path);

// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::string& Path);
// Writes Data as the whole file; false when it cannot be written.
bool WriteFile(const std::string& Path, const std::string& Data);

// Names in a folder (not recursive, "." and ".." left out), sorted; empty
// when it cannot be read.
std::vector<std::string> ListFolder(const std::string& Path);

// A fresh temporary folder, removed with everything in it when the object goes.
class TTempDir {
public:
    TTempDir() : FPath(MakeTempDir()) {}
    ~TTempDir() { RemoveTree(FPath); }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }
    std::string File(const std::string& Name) const { return *this / Name; }
    // Names in the folder (not recursive, "." and ".." left out), sorted.
    std::vector<std::string> List() const;

private:
    std::string FPath;
};

} // namespace kivo::test
