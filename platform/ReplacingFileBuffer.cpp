// The parts of the replacing file that make no system call, shared by the
// POSIX and the Windows implementation: the names of the new file, the
// constructors, and the buffer writes are gathered in to go to the file in
// large blocks; the file is write-only.
#include <cstdint>
#include <random>

#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

// The target's name cut to at most 64 bytes on a character boundary: the
// temporary name stays short however long the target's is.
std::string ShortStem(const std::string& Name) {
    std::string Stem = Name.substr(0, 64);
    while (!Stem.empty() && (static_cast<unsigned char>(Stem.back()) & 0xC0) == 0x80)
        Stem.pop_back();
    if (!Stem.empty() && (static_cast<unsigned char>(Stem.back()) & 0x80) != 0) Stem.pop_back();
    return Stem;
}

std::string RandomTag() {
    static const char Chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 Gen{std::random_device{}()};
    std::string Tag(8, ' ');
    for (char& C : Tag)
        C = Chars[Gen() % 36];
    return Tag;
}

// The folder part of a name.
std::string FolderOf(const std::string& TargetName) {
    return ExcludeTrailingPathDelimiter(ExtractFilePath(TargetName));
}

} // namespace

int ReplaceRefusal(const std::string& TargetName) {
    return ReplaceRefusal(TFolderHandle::Open(FolderOf(TargetName)), ExtractFileName(TargetName));
}

TReplacingFile::TReplacingFile(const std::string& TargetName, TReplacingFileAccess Access,
                               size_t BufferSize)
    : FTargetName(TargetName), FName(ExtractFileName(TargetName)) {
    const TFolderHandle Folder = TFolderHandle::Open(FolderOf(TargetName));
    if (!Folder.Valid()) throw EFCreateError(TargetName, Folder.Error());
    Create(Folder, Access, BufferSize, rcNone);
}

TReplacingFile::TReplacingFile(const TFolderHandle& Folder, const std::string& Name,
                               TReplacingFileAccess Access, size_t BufferSize, TReplaceCheck Check)
    : FTargetName(JoinPath(Folder.Path(), Name)), FName(Name) {
    if (!Folder.Valid()) throw EFCreateError(FTargetName, Folder.Error());
    Create(Folder, Access, BufferSize, Check);
}

TReplacingFile::~TReplacingFile() {
    Discard();
}

void TReplacingFile::PickTempName() {
    std::string Dir = ExtractFilePath(FTargetName);
    if (Dir.empty()) Dir = "./";
    // Appended piece by piece: GCC 12 at -O3 takes "." + std::string for an
    // overlapping copy (-Wrestrict) and fails the release build.
    FTempLeaf.assign(1, '.');
    FTempLeaf += ShortStem(FName);
    FTempLeaf += '.';
    FTempLeaf += RandomTag();
    FTempLeaf += ".part";
    FTempName = Dir + FTempLeaf;
}

int64_t TReplacingFile::Read(void*, int64_t) {
    return 0;
}

int64_t TReplacingFile::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const auto* P = static_cast<const uint8_t*>(Buffer);
    const auto N = static_cast<size_t>(Count);
    if (FBuffer.size() + N > FBuffer.capacity()) Flush();
    if (N >= FBuffer.capacity())
        WriteThrough(P, N);
    else
        FBuffer.insert(FBuffer.end(), P, P + N);
    FPosition += Count;
    return Count;
}

void TReplacingFile::Flush() {
    if (FBuffer.empty()) return;
    WriteThrough(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
}

} // namespace kivo
