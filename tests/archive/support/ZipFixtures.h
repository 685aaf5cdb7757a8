// Test helpers for the archive model and the ZIP reader: temporary folders,
// files, external commands, and a small ZIP writer for archives no tool
// writes on request (odd names, extra fields, damaged records).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/common/TestFiles.h"

namespace kivo::ziptest {

using test::TTempDir;

void WriteBytes(const std::string& FileName, const std::string& Data);
std::string ReadBytes(const std::string& FileName);
bool Exists(const std::string& Name);

// Runs a shell command; returns its exit status and, when Output is given,
// what it wrote to standard output.
int Shell(const std::string& Command, std::string* Output = nullptr);
// Single-quoted for the shell.
std::string Quote(const std::string& Text);
// The first of Programs that is not on the PATH; empty when all are there.
std::string MissingTool(std::initializer_list<const char*> Programs);

// What a run of the built kivo-unzip returned and printed.
struct TToolResult {
    int Status;
    std::string Out;
    std::string Err;
};
// The tab-separated fields of one line (an empty line is one empty field).
std::vector<std::string> SplitTabs(const std::string& Line);

// The built kivo-unzip.
std::string KivoUnzipTool();
// Runs kivo-unzip with Args (quoted for the shell) under the locale Lang,
// standard input read from Input, in the folder Folder (empty: the current
// one).
TToolResult RunKivoUnzip(const std::string& Args, const std::string& Lang,
                         const std::string& Input = "/dev/null", const std::string& Folder = "");

uint32_t Crc32Of(const std::string& Data);

// One entry of a hand-built ZIP archive. Sizes and CRC follow the data
// unless overridden; the data is always stored as given.
struct TZipEntryDef {
    std::string RawName;
    std::string Data;
    uint16_t Method = 0;
    uint16_t Flags = 0;
    uint16_t VersionMadeBy = 20; // host 0 (MS-DOS)
    uint16_t VersionNeeded = 20;
    uint16_t Time = 0x6458; // 12:34:48
    uint16_t Date = 0x52CF; // 2021-06-15
    uint32_t ExternalAttributes = 0;
    std::string CentralExtra;
    std::string LocalExtra;
    std::string Comment;
    // Overrides of the central directory's values (-1: from the data).
    int64_t CentralCrc = -1;
    int64_t CentralCompressedSize = -1;
    int64_t CentralUncompressedSize = -1;
    int64_t CentralOffset = -1;
    // The local header carries the central CRC and sizes too (for data given
    // already compressed, or sizes that lie consistently).
    bool LocalLikeCentral = false;
    // No local header and data of its own: a central entry that points with
    // CentralOffset at another entry's.
    bool CentralOnly = false;
};

// An entry holding Data stored, and one holding Data deflated at Level, its
// central CRC and size those of Data.
TZipEntryDef Stored(const std::string& Name, const std::string& Data);
TZipEntryDef Deflated(const std::string& Name, const std::string& Data, int Level = 6);
// An entry whose data Packed is Data already compressed with Method; its
// central and local CRC and uncompressed size are those of Data.
TZipEntryDef Packed(const std::string& Name, uint16_t Method, const std::string& PackedData,
                    const std::string& Data);

// A subfield: 16-bit ID, 16-bit size, data.
std::string ExtraSubfield(uint16_t ID, const std::string& Data);
std::string Le16(uint16_t V);
std::string Le32(uint32_t V);
std::string Le64(uint64_t V);

struct TZipBuildOptions {
    std::string Prefix;         // bytes before the first local header (a stub)
    std::string ArchiveComment; // end record comment
    bool Zip64Records = false;  // write the Zip64 record and locator
    int64_t TotalEntriesOverride = -1;
    int64_t DirectoryOffsetOverride = -1;
};

std::string BuildZip(const std::vector<TZipEntryDef>& Entries,
                     const TZipBuildOptions& Options = {});

// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t Size, uint32_t Seed);

// The path of one of the shared test archives.
std::string TestData(const std::string& Name);

// One line of the shared archives' manifest.
struct TManifestLine {
    std::string Archive;
    std::string Entry;
    std::string Kind;
    std::string Size;
    std::string Sha256; // lower-case hex
    std::string Method; // "8 deflated", ...
    std::string Notes;
};
std::vector<TManifestLine> ReadManifest();

} // namespace kivo::ziptest
