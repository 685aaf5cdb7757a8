// Shared utilities of the archive engine: mask matching, stored-path handling,
// directory chains, CRC-32, DOS date and time, file times and attributes,
// error classification and a few file-system queries.
//
// Stored names and masks use '\' as their separator (names read from an
// archive are normalised to it before matching); drive letters and UNC
// prefixes are recognised because archives made on Windows carry them.
// Local paths use the platform delimiter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "runtime/DateTime.h"

namespace kivo {

enum TAbErrorClass : uint8_t {
    ecMorvanta,
    ecInOutError,
    ecFilerError,
    ecFileCreateError,
    ecFileOpenError,
    ecCabError,
    ecOther
};

enum PathKind : uint8_t { pkNone, pkRelative, pkAbsolute };

// ---------------------------------------------------------------------------
// Masks

// Whether FileName matches Mask, ASCII letters compared case-insensitively.
// A mask with a directory part ("dir\*.txt") also matches the file name's
// directory part; a name without one then fails.
bool NameMatchesMask(std::string_view FileName, std::string_view Mask);

// Wildcard match of Source from SourceIndex against Pattern from
// PatternIndex (0-based UTF-16 indexes). '*' matches any run of characters,
// '?' exactly one. An empty Source matches only an empty Pattern; the
// patterns "*" and "*.*" match every non-empty Source.
bool WildcardMatch(std::u16string_view Source, size_t SourceIndex, std::u16string_view Pattern,
                   size_t PatternIndex);
// The same from the start of two UTF-8 texts.
bool WildcardMatch(std::string_view Source, std::string_view Pattern);

// ---------------------------------------------------------------------------
// Stored paths

// pkAbsolute for a UNC name ("\\"), a drive (':') or a local path starting
// with '/'; pkRelative for any other name with a '\' or '/'; else pkNone.
PathKind ClassifyPath(std::string_view Value);

// Splits a full file name into drive ("C:" or "\\server\share"), path
// and name, after turning every '/' into '\'.
void SplitFileSpec(std::string_view FileSpec, std::string& Drive, std::string& Path,
                   std::string& Name);
// Name without its drive or UNC part (path and name of SplitFileSpec).
void StripDrive(std::string& Name);
// Removes "..\" while Name starts with it.
void StripLeadingParentRefs(std::string& Name);
void ToBackslashes(std::string& Name);
void ToForwardSlashes(std::string& Name);
// The number of characters before the N-th '\' of Path (N counts from 1), or
// the length of Path when it has fewer.
size_t NthBackslashEnd(std::string_view Path, size_t N);

// Creates Path and every missing directory above it. Both '/' and '\'
// separate components. A drive ("C:") and the server and share of a UNC name
// are never created. Raises EInOutError with the errno value on failure.
void CreateDirectoryChain(const std::string& Path);

// ---------------------------------------------------------------------------
// CRC-32 (ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320)

// Advances the CRC register over Count bytes: a whole CRC starts at
// 0xFFFFFFFF and is complemented at the end.
void CrcUpdate(uint32_t& Crc, const void* Buffer, size_t Count);
// The finished CRC-32 of a buffer.
uint32_t AbCrc32(const void* Buffer, size_t Count);

// The implementations behind CrcUpdate, for tests and benchmarks; each takes
// and returns the raw register.
namespace CrcImpl {
uint32_t Bytewise(uint32_t Crc, const uint8_t* Data, size_t Count);
uint32_t Sliced(uint32_t Crc, const uint8_t* Data, size_t Count); // 16 bytes per step
bool HaveClmul();     // 128-bit carry-less multiply usable on this CPU
bool HaveVClmul256(); // 256-bit carry-less multiply (AVX2) usable
bool HaveVClmul512(); // 512-bit carry-less multiply (AVX-512) usable
uint32_t Clmul(uint32_t Crc, const uint8_t* Data, size_t Count);     // needs HaveClmul()
uint32_t VClmul256(uint32_t Crc, const uint8_t* Data, size_t Count); // needs HaveVClmul256()
uint32_t VClmul512(uint32_t Crc, const uint8_t* Data, size_t Count); // needs HaveVClmul512()
} // namespace CrcImpl

// ---------------------------------------------------------------------------
// Numbers, dates and times

// Done as a percentage of Total, 0..100: 0 when Total <= 0, 100 when Done >= Total.
int32_t Percentage(int64_t Total, int64_t Done);

// DOS date and time words to a local date-time; the zero date-time
// (1899-12-30 00:00) when they do not form a valid date and time.
TDateTime DosToDateTime(uint16_t Date, uint16_t Time);
// Local date-time to the packed DOS value (date in the high word, time with
// seconds halved in the low word); 0 outside the years 1980..2107.
uint32_t DateTimeToDos(TDateTime Value);

// Sets only the file's last-write time to Value, cut to DOS precision (two
// seconds). False, with the time unchanged, when the file cannot be reached
// or Value has no DOS form.
bool SetFileModifiedTime(const std::string& FileName, TDateTime Value);

// Time-zone bias in seconds (UTC minus local time) in force now, and at the
// given moment.
int64_t LocalTimeBiasSeconds();
int64_t LocalTimeBiasSeconds(int64_t UnixTime);
// Unix time <-> local date-time, with the bias in force at that moment.
TDateTime UnixTimeToLocalDateTime(int64_t UnixTime);
int64_t LocalDateTimeToUnixTime(TDateTime Value);

// ---------------------------------------------------------------------------
// Attributes (DOS bits: 0x01 read-only, 0x02 hidden, 0x04 system,
// 0x10 directory, 0x20 archive)

// Applies the read-only bit as the owner-write permission (following
// links); the other bits have no counterpart here. False on failure.
bool ApplyFileAttributes(const std::string& FileName, uint32_t Attributes);
uint32_t DosToUnixAttributes(uint32_t Attr);
uint32_t UnixToDosAttributes(uint32_t Mode);

// ---------------------------------------------------------------------------
// Errors

// The error class and code reported for a failed item.
void ClassifyException(const std::exception& E, TAbErrorClass& ErrorClass, int32_t& ErrorCode);
// The same for any captured exception, including ones not derived from
// std::exception (ecOther).
void ClassifyException(const std::exception_ptr& E, TAbErrorClass& ErrorClass, int32_t& ErrorCode);

// ---------------------------------------------------------------------------
// File-system queries

// Size of the file, 0 for a directory, -1 when it cannot be queried.
int64_t FileSizeOf(const std::string& FileName);
// A unique file name "VMSxxxxxx" in Dir, or in the system's temporary
// directory when Dir does not exist. With CreateIt the empty file is created
// exclusively, readable and writable by the owner only; without it no file
// has the name at the time of the call. Raises EInOutError on failure.
std::string MakeTempFileName(const std::string& Dir, bool CreateIt);
// Whether the file lies on a removable drive.
bool IsRemovableDrive(const std::string& FileName);

} // namespace kivo
