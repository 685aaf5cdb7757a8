// ZIP archive structures: the header records, the end-of-central-directory
// search, reading a ZIP archive (Zip64, executable stubs, split and spanned
// sets) into the archive model with decoded names, and writing it back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/AbSpanSt.h"

namespace kivo {

// Signatures and identifiers.
constexpr uint32_t Ab_ZipLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t Ab_ZipDataDescriptorSignature = 0x08074B50;
constexpr uint32_t Ab_ZipCentralDirectoryFileHeaderSignature = 0x02014B50;
constexpr uint32_t Ab_Zip64EndCentralDirectorySignature = 0x06064B50;
constexpr uint32_t Ab_Zip64EndCentralDirectoryLocatorSignature = 0x07064B50;
constexpr uint32_t Ab_ZipEndCentralDirectorySignature = 0x06054B50;
constexpr uint32_t Ab_ZipSpannedSetSignature = 0x08074B50;
constexpr uint32_t Ab_ZipPossiblySpannedSignature = 0x30304B50;
constexpr uint16_t Ab_WindowsExeSignature = 0x5A4D;
constexpr uint32_t Ab_LinuxExeSignature = 0x464C457F;
constexpr uint16_t Ab_Zip64SubfieldID = 0x0001;
constexpr uint16_t Ab_InfoZipUnicodePathSubfieldID = 0x7075;
constexpr uint16_t Ab_XceedUnicodePathSubfieldID = 0x554E;
constexpr uint32_t Ab_XceedUnicodePathSignature = 0x5843554E;

// Host systems (high byte of "version made by").
constexpr uint8_t Ab_HostMsDos = 0;
constexpr uint8_t Ab_HostUnix = 3;
constexpr uint8_t Ab_HostNtfs = 11;

// Fixed parts of the records, in bytes (names, extra fields and comments follow).
constexpr int Ab_ZipLocalFileHeaderSize = 30;
constexpr int Ab_ZipCentralDirectoryFileHeaderSize = 46;
constexpr int Ab_ZipEndCentralDirectorySize = 22;
constexpr int Ab_Zip64EndCentralDirectorySize = 56;
constexpr int Ab_Zip64EndCentralDirectoryLocatorSize = 20;
constexpr int Ab_ZipMaxCommentSize = 0xFFFF;

// General-purpose flag bits.
constexpr uint16_t Ab_ZipFlagEncrypted = 0x0001;
constexpr uint16_t Ab_ZipFlagDeflateOptions = 0x0006;      // method 8: the compression option
constexpr uint16_t Ab_ZipFlagImplode8KDictionary = 0x0002; // method 6
constexpr uint16_t Ab_ZipFlagImplode3Trees = 0x0004;       // method 6
constexpr uint16_t Ab_ZipFlagDataDescriptor = 0x0008;      // CRC and sizes follow the data
constexpr uint16_t Ab_ZipFlagUtf8 = 0x0800;                // name and comment are UTF-8

// "Version needed to extract" (major * 10 + minor, in the low byte).
constexpr uint16_t Ab_ZipVersionStored = 10;
constexpr uint16_t Ab_ZipVersionDeflate = 20; // also folders and traditional encryption
constexpr uint16_t Ab_ZipVersionZip64 = 45;
constexpr uint16_t Ab_ZipVersionUnsupported = 64; // and above: features this engine cannot read

enum TAbZipSupportedMethod : uint8_t { smStored, smDeflated, smBestMethod };
enum TAbZipDictionarySize : uint8_t { dsInvalid, ds4K, ds8K };
enum TAbZipDeflationOption : uint8_t { doInvalid, doNormal, doMaximum, doFast, doSuperFast };
enum NameCharset : uint8_t { ncAscii, ncAnsi, ncUtf8 };

// Whether stored name bytes are plain ASCII, well-formed UTF-8 with bytes
// above 0x7F, or something else (taken as the ANSI code page).
NameCharset DetectNameCharset(std::string_view Bytes);
// Whether bytes above 0x7F are all letters of the OEM code page but not all
// letters of the matching ANSI code page (false for an OEM code page without
// a table, and for plain ASCII).
bool LooksLikeOemText(std::string_view Bytes, uint16_t OemCodePage);
bool LooksLikeOemText(std::string_view Bytes); // with the system OEM code page
// First decoding of a stored name: ASCII, ANSI or UTF-8 after DetectNameCharset.
std::string DecodeStoredName(std::string_view Bytes);

// Position of the end-of-central-directory record, with the stream left
// there; -1 (the stream put back) when there is none.
int64_t FindEndOfCentralDirectory(TStream* Stream);

// ---------------------------------------------------------------------------
// Header records

class TAbZipFileHeader {
public:
    uint32_t Signature() const { return FSignature; }
    void SetSignature(uint32_t Value) { FSignature = Value; }
    uint16_t VersionNeededToExtract() const { return FVersionNeededToExtract; }
    void SetVersionNeededToExtract(uint16_t Value) { FVersionNeededToExtract = Value; }
    uint16_t GeneralPurposeBitFlag() const { return FGeneralPurposeBitFlag; }
    void SetGeneralPurposeBitFlag(uint16_t Value) { FGeneralPurposeBitFlag = Value; }
    uint16_t CompressionMethod() const { return FCompressionMethod; }
    // Stores the method with bit 7 cleared.
    void SetCompressionMethod(uint16_t Value) {
        FCompressionMethod = static_cast<uint16_t>(Value & ~0x80u);
    }
    uint16_t LastModFileTime() const { return FLastModFileTime; }
    void SetLastModFileTime(uint16_t Value) { FLastModFileTime = Value; }
    uint16_t LastModFileDate() const { return FLastModFileDate; }
    void SetLastModFileDate(uint16_t Value) { FLastModFileDate = Value; }
    uint32_t CRC32() const { return FCRC32; }
    void SetCRC32(uint32_t Value) { FCRC32 = Value; }
    uint32_t CompressedSize() const { return FCompressedSize; }
    void SetCompressedSize(uint32_t Value) { FCompressedSize = Value; }
    uint32_t UncompressedSize() const { return FUncompressedSize; }
    void SetUncompressedSize(uint32_t Value) { FUncompressedSize = Value; }
    std::string FileName() const { return FFileName.Str(); }
    const TAbSharedString& FileNameShared() const { return FFileName; }
    // A central record's stored name bytes keep their value.
    void SetFileName(const TAbSharedString& Value);
    TAbExtraField& ExtraField() { return Rare().ExtraField; }
    // An empty field when the record has none (reading allocates nothing).
    const TAbExtraField& ExtraField() const;

    // 100 x (1 - compressed / uncompressed), the compressed size of an
    // encrypted entry less its 12-byte header; 0 for an empty entry.
    double CompressionRatio() const;
    TAbZipDeflationOption DeflationOption() const;
    TAbZipDictionarySize DictionarySize() const;
    bool HasDataDescriptor() const {
        return (FCompressionMethod & 0xFF) == 8 &&
               (FGeneralPurposeBitFlag & Ab_ZipFlagDataDescriptor) != 0;
    }
    bool IsEncrypted() const { return (FGeneralPurposeBitFlag & Ab_ZipFlagEncrypted) != 0; }
    bool IsUTF8() const { return (FGeneralPurposeBitFlag & Ab_ZipFlagUtf8) != 0; }
    void SetIsUTF8(bool Value);
    int32_t ShannonFanoTreeCount() const;

protected:
    TAbZipFileHeader() = default;

    // Memory layout: every item of an archive holds a central-directory
    // record, so a record keeps in itself only its fixed fields and the name
    // (56 bytes for a central one). The parts many records lack share one
    // block, allocated when one of them is first stored: the extra field, and
    // for central records the stored name bytes when they differ from the
    // first decoding (plain ASCII and UTF-8 names do not) and the comment.
    // The signature a kind expects is a constant of the kind, not a field.
    struct TRareParts {
        // The flag goes into the extra field's tail padding: a 40-byte block
        // (48 with the allocator's header) instead of 48 (64).
        [[no_unique_address]] TAbExtraField ExtraField;
        bool HasRawFileName = false;
        TAbSharedString RawFileName;
        TAbSharedString FileComment;
    };
    TRareParts& Rare();
    // Drops the rarely-used parts (a record is read again).
    void ResetRareParts() { FRare.reset(); }

    TAbSharedString FFileName;
    std::unique_ptr<TRareParts> FRare;
    uint32_t FSignature = 0;
    uint32_t FCRC32 = 0;
    uint32_t FCompressedSize = 0;
    uint32_t FUncompressedSize = 0;
    uint16_t FVersionNeededToExtract = 0;
    uint16_t FGeneralPurposeBitFlag = 0;
    uint16_t FCompressionMethod = 0;
    uint16_t FLastModFileTime = 0;
    uint16_t FLastModFileDate = 0;
};

class TAbZipLocalFileHeader : public TAbZipFileHeader {
public:
    static constexpr uint32_t ValidSignature() { return Ab_ZipLocalFileHeaderSignature; }
    bool IsValid() const { return FSignature == ValidSignature(); }
    // Reads one local header at the stream's position (EAbZipInvalid for
    // another signature); leaves the stream at the item's data.
    void LoadFromStream(TStream* Stream);
    // The bytes the header takes in the archive as read: 30, the name and
    // the extra field as their lengths declare them.
    int64_t RecordSize() const { return FRecordSize; }
    // Writes the header with the name in UTF-8 (bit 11) or the ANSI code page.
    void SaveToStream(TStream* Stream);
    // Writes the header with the given name bytes.
    void SaveToStream(TStream* Stream, std::string_view RawName);

private:
    int64_t FRecordSize = Ab_ZipLocalFileHeaderSize;
};

class TAbZipDirectoryFileHeader : public TAbZipFileHeader {
public:
    static constexpr uint32_t ValidSignature() { return Ab_ZipCentralDirectoryFileHeaderSignature; }
    bool IsValid() const { return FSignature == ValidSignature(); }
    // Reads one central-directory entry at the stream's position
    // (EAbZipInvalid for another signature).
    void LoadFromStream(TStream* Stream);
    // Writes the entry with RawFileName as its name bytes; returns the
    // number of bytes written.
    int64_t SaveToStream(TStream* Stream);

    // The name bytes as stored.
    std::string_view RawFileName() const;
    void SetRawFileName(const TAbSharedString& Value);
    uint16_t VersionMadeBy() const { return FVersionMadeBy; }
    void SetVersionMadeBy(uint16_t Value) { FVersionMadeBy = Value; }
    uint16_t DiskNumberStart() const { return FDiskNumberStart; }
    void SetDiskNumberStart(uint16_t Value) { FDiskNumberStart = Value; }
    uint16_t InternalFileAttributes() const { return FInternalFileAttributes; }
    void SetInternalFileAttributes(uint16_t Value) { FInternalFileAttributes = Value; }
    uint32_t ExternalFileAttributes() const { return FExternalFileAttributes; }
    void SetExternalFileAttributes(uint32_t Value) { FExternalFileAttributes = Value; }
    uint32_t RelativeOffset() const { return FRelativeOffset; }
    void SetRelativeOffset(uint32_t Value) { FRelativeOffset = Value; }
    std::string FileComment() const { return FRare ? FRare->FileComment.Str() : std::string(); }
    void SetFileComment(const std::string& Value);

protected:
    uint16_t FVersionMadeBy = 0;
    uint16_t FDiskNumberStart = 0;
    uint16_t FInternalFileAttributes = 0;
    uint32_t FExternalFileAttributes = 0;
    uint32_t FRelativeOffset = 0;
};

class TAbZipDirectoryFileFooter {
public:
    uint32_t DiskNumber() const { return FDiskNumber; }
    void SetDiskNumber(uint32_t Value) { FDiskNumber = Value; }
    uint32_t StartDiskNumber() const { return FStartDiskNumber; }
    void SetStartDiskNumber(uint32_t Value) { FStartDiskNumber = Value; }
    int64_t EntriesOnDisk() const { return FEntriesOnDisk; }
    void SetEntriesOnDisk(int64_t Value) { FEntriesOnDisk = Value; }
    int64_t TotalEntries() const { return FTotalEntries; }
    void SetTotalEntries(int64_t Value) { FTotalEntries = Value; }
    int64_t DirectorySize() const { return FDirectorySize; }
    void SetDirectorySize(int64_t Value) { FDirectorySize = Value; }
    int64_t DirectoryOffset() const { return FDirectoryOffset; }
    void SetDirectoryOffset(int64_t Value) { FDirectoryOffset = Value; }
    const std::string& ZipfileComment() const { return FZipfileComment; }
    void SetZipfileComment(const std::string& Value) { FZipfileComment = Value; }
    // True when any value needs the Zip64 records.
    bool IsZip64() const;

    // The end record at the stream's position (EAbZipInvalid for another
    // signature; the comment is decoded with the ANSI code page).
    void LoadFromStream(TStream* Stream);
    // The Zip64 record at the stream's position; each value that the end
    // record holds at its maximum is replaced.
    void LoadZip64FromStream(TStream* Stream);
    // The Zip64 record and locator when IsZip64, then the end record.
    void SaveToStream(TStream* Stream);

private:
    uint32_t FDiskNumber = 0;
    uint32_t FStartDiskNumber = 0;
    int64_t FEntriesOnDisk = 0;
    int64_t FTotalEntries = 0;
    int64_t FDirectorySize = 0;
    int64_t FDirectoryOffset = 0;
    std::string FZipfileComment;
};

class TAbZipDataDescriptor {
public:
    TAbZipDataDescriptor(uint32_t ACRC32, int64_t ACompressedSize, int64_t AUncompressedSize)
        : FCRC32(ACRC32), FCompressedSize(ACompressedSize), FUncompressedSize(AUncompressedSize) {}
    // Signature, CRC and both sizes (8 bytes each when either needs it).
    void SaveToStream(TStream* Stream);

private:
    uint32_t FCRC32;
    int64_t FCompressedSize;
    int64_t FUncompressedSize;
};

// ---------------------------------------------------------------------------
// TAbZipItem

class TAbZipItem : public TAbArchiveItem {
public:
    TAbZipItem() = default;

    // Reads one central-directory entry and decodes its name.
    void LoadFromStream(TStream* Stream);

    int64_t CompressedSize() const override {
        return FRare ? FRare->CompressedSize : FItemInfo.CompressedSize();
    }
    uint32_t CRC32() const override { return FItemInfo.CRC32(); }
    uint32_t ExternalFileAttributes() const override { return FItemInfo.ExternalFileAttributes(); }
    bool IsDirectory() const override;
    bool IsEncrypted() const override { return FItemInfo.IsEncrypted(); }
    uint16_t LastModFileDate() const override { return FItemInfo.LastModFileDate(); }
    uint16_t LastModFileTime() const override { return FItemInfo.LastModFileTime(); }
    uint32_t NativeFileAttributes() const override;
    int64_t UncompressedSize() const override {
        return FRare ? FRare->UncompressedSize : FItemInfo.UncompressedSize();
    }
    void SetCompressedSize(int64_t Value) override;
    void SetCRC32(uint32_t Value) override { FItemInfo.SetCRC32(Value); }
    void SetExternalFileAttributes(uint32_t Value) override {
        FItemInfo.SetExternalFileAttributes(Value);
    }
    void SetFileName(const std::string& Value) override;
    void SetIsEncrypted(bool Value) override;
    void SetLastModFileDate(uint16_t Value) override { FItemInfo.SetLastModFileDate(Value); }
    void SetLastModFileTime(uint16_t Value) override { FItemInfo.SetLastModFileTime(Value); }
    void SetUncompressedSize(int64_t Value) override;

    uint8_t CompressionMethod() const {
        return static_cast<uint8_t>(FItemInfo.CompressionMethod() & 0xFF);
    }
    void SetCompressionMethod(uint16_t Value) { FItemInfo.SetCompressionMethod(Value); }
    double CompressionRatio() const { return FItemInfo.CompressionRatio(); }
    TAbZipDeflationOption DeflationOption() const { return FItemInfo.DeflationOption(); }
    TAbZipDictionarySize DictionarySize() const { return FItemInfo.DictionarySize(); }
    int32_t ShannonFanoTreeCount() const { return FItemInfo.ShannonFanoTreeCount(); }
    uint16_t GeneralPurposeBitFlag() const { return FItemInfo.GeneralPurposeBitFlag(); }
    void SetGeneralPurposeBitFlag(uint16_t Value) { FItemInfo.SetGeneralPurposeBitFlag(Value); }
    uint16_t VersionMadeBy() const { return FItemInfo.VersionMadeBy(); }
    void SetVersionMadeBy(uint16_t Value) { FItemInfo.SetVersionMadeBy(Value); }
    uint16_t VersionNeededToExtract() const { return FItemInfo.VersionNeededToExtract(); }
    void SetVersionNeededToExtract(uint16_t Value) { FItemInfo.SetVersionNeededToExtract(Value); }
    uint16_t InternalFileAttributes() const { return FItemInfo.InternalFileAttributes(); }
    void SetInternalFileAttributes(uint16_t Value) { FItemInfo.SetInternalFileAttributes(Value); }
    std::string FileComment() const { return FItemInfo.FileComment(); }
    void SetFileComment(const std::string& Value) { FItemInfo.SetFileComment(Value); }
    uint8_t HostSystem() const { return static_cast<uint8_t>(FItemInfo.VersionMadeBy() >> 8); }
    // The central directory's extra field, and the one for the local header.
    TAbExtraField& ExtraField() { return FItemInfo.ExtraField(); }
    const TAbExtraField& ExtraField() const { return FItemInfo.ExtraField(); }
    TAbExtraField& LFHExtraField();
    // The name as first decoded from the stored bytes (before the Unicode
    // extra fields and the OEM rule).
    std::string RawFileName() const { return FItemInfo.FileName(); }
    uint32_t DiskNumberStart() const {
        return FRare ? FRare->DiskNumberStart : FItemInfo.DiskNumberStart();
    }
    void SetDiskNumberStart(uint32_t Value);
    int64_t RelativeOffset() const {
        return FRare ? FRare->RelativeOffset : FItemInfo.RelativeOffset();
    }
    void SetRelativeOffset(int64_t Value);
    TAbZipDirectoryFileHeader& ItemInfo() { return FItemInfo; }
    const TAbZipDirectoryFileHeader& ItemInfo() const { return FItemInfo; }

    // Before writing: the name bytes, bit 11 and the 0x7075 subfield (in
    // both extra fields) for the current FileName (kept as read when the
    // name was not changed).
    void PrepareNameForWriting();
    // Rewrites the Zip64 subfield of the central extra field from the values
    // that do not fit their header fields.
    void UpdateZip64ExtraField();

private:
    // Memory layout: the sizes, offset and disk as Zip64 widens them equal
    // the header record's 32- and 16-bit fields unless a field holds its
    // maximum, and the local header's extra field is needed only while
    // writing. Both live in one block, allocated for Zip64 entries and by
    // the writer; without it the record's fields are the values. That keeps
    // a ZIP item at 104 bytes: 34 of the base item, the flag below in the
    // base's last word, the record (56) and one pointer.
    struct TRareData {
        int64_t UncompressedSize = 0;
        int64_t CompressedSize = 0;
        int64_t RelativeOffset = 0;
        uint32_t DiskNumberStart = 0;
        TAbExtraField LFHExtraField;
    };
    // The block, made with the record's values when missing.
    TRareData& Rare();

    bool FNameChanged = false;
    TAbZipDirectoryFileHeader FItemInfo;
    std::unique_ptr<TRareData> FRare;
};

// Whether this engine reads items that need VersionNeeded to extract.
inline bool IsVersionSupported(uint16_t VersionNeeded) {
    return (VersionNeeded & 0xFF) < Ab_ZipVersionUnsupported;
}
// The version needed to extract an item as this engine writes it: 4.5 with a
// Zip64 subfield, 2.0 for a folder, an encrypted item or a method above
// implode, 1.0 otherwise.
uint16_t VersionNeededFor(const TAbZipItem& Item);

// ---------------------------------------------------------------------------
// TAbZipArchive

class TAbZipArchive : public TAbArchive {
public:
    // Opens FileName itself (32 KiB buffered, Mode) and owns the stream.
    TAbZipArchive(const std::string& FileName, uint16_t Mode);
    // Works on a caller's stream; a spanned set cannot be read this way.
    TAbZipArchive(TStream* aStream, const std::string& aArchiveName);
    // A view of Source for another thread: Source's file opened again for
    // reading (its own buffer and position, its own streams over the parts
    // of a split set), the end record's values copied, and the item list
    // and the table of entry starts shared with Source instead of read
    // again. Settings, events, the password, the base folder and the folder
    // kept during extraction are the view's own. Source must have been read
    // from a file by name. The shared list is read-only while views exist:
    // neither Source nor a view may load, save, add, delete, rename or tag
    // items, or look items up by name (which builds an index on first use),
    // while another thread extracts or tests through a view; extracting and
    // testing by index is what views are for. Make views on Source's thread
    // and hand them over; Load and Save of a view do nothing.
    struct TViewOf {};
    TAbZipArchive(TAbZipArchive& Source, TViewOf);

    std::unique_ptr<TAbArchiveItem> CreateItem(const std::string& FileName) override;
    // Hand over to ExtractHelper / ExtractToStreamHelper / TestHelper;
    // EAbZipNoExtraction when it is not assigned.
    void ExtractItemToFile(int32_t Index, const std::string& TargetName) override;
    void ExtractItemToStream(int32_t Index, TStream* Stream) override;
    void VerifyItem(int32_t Index) override;
    void ReadArchive() override;
    // A view has nothing to read or write: the list is its source's.
    void Load() override;
    void Save() override;
    bool IsView() const { return FIsView; }
    // Rebuilds the archive: unchanged and moved items are copied, new ones
    // come from the insert helpers, deleted ones are dropped. An insert
    // helper writes the item's local header (with the prepared name bytes of
    // ItemInfo().RawFileName() and LFHExtraField()) and its data at the
    // stream's position, and sets the item's CRC, sizes, method and time;
    // VersionNeededToExtract and VersionMadeBy are set after it returns.
    void WriteArchive() override;
    std::string NormalizeStoredName(const std::string& Value) override;
    bool SupportsEmptyFolders() const override { return true; }

    // Disk requests: the event when assigned, else a message box when a GUI
    // is installed; without either the request counts as cancelled.
    virtual void RequestLastDisk(bool& Abort);
    virtual void RequestNthDisk(uint8_t DiskNumber, bool& Abort);
    virtual void RequestBlankDisk(bool& Abort);
    // Forwards to OnRequestImage.
    void DoRequestImage(int32_t ImageNumber, std::string& ImageName, bool& Abort);

    TAbZipSupportedMethod CompressionMethodToUse() const { return FCompressionMethodToUse; }
    void SetCompressionMethodToUse(TAbZipSupportedMethod Value) { FCompressionMethodToUse = Value; }
    TAbZipDeflationOption DeflationOption() const { return FDeflationOption; }
    void SetDeflationOption(TAbZipDeflationOption Value) { FDeflationOption = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }
    uint8_t PasswordRetries() const { return FPasswordRetries; }
    void SetPasswordRetries(uint8_t Value) { FPasswordRetries = Value; }
    // Offset of the first local header of an executable archive.
    uint32_t StubSize() const { return FStubSize; }
    bool IsExecutable() const { return FIsExecutable; }
    // Whether reading looks for a central directory whose offsets were not
    // adjusted when data was put in front of the archive (a program stub
    // prepended with cat): when the end record's directory offset does not
    // lead to the directory but the directory lies right before the end
    // record, every offset is read shifted by the difference. Off by default:
    // such an archive is then refused as invalid. Set before reading.
    bool FindsShiftedOffsets() const { return FFindsShiftedOffsets; }
    void SetFindsShiftedOffsets(bool Value) { FFindsShiftedOffsets = Value; }
    // The shift found (0 when the offsets were right).
    int64_t OffsetShift() const { return FOffsetShift; }
    const std::string& ZipfileComment() const { return FInfo.ZipfileComment(); }
    void SetZipfileComment(const std::string& Value);
    const TAbZipDirectoryFileFooter& Info() const { return FInfo; }
    TAbZipItem* ZipItems(int32_t Index) const;
    void PutZipItem(int32_t Index, std::unique_ptr<TAbZipItem> Item);
    // Where the local header and data of Item must end: where the next entry
    // of its disk starts, or the central directory; -1 when nothing after it
    // is known (the last entry of a segment of a split set that does not hold
    // the directory: its data may go on in the next segment). EAbZipOverlap
    // when Item has no place of its own: it starts where an entry earlier in
    // the directory starts, or in or after the central directory.
    int64_t ItemRoomEnd(const TAbZipItem* Item);

    TAbArchiveItemExtractEvent ExtractHelper;
    TAbArchiveItemExtractToStreamEvent ExtractToStreamHelper;
    TAbArchiveItemTestEvent TestHelper;
    TAbArchiveItemInsertEvent InsertHelper;
    TAbArchiveItemInsertFromStreamEvent InsertFromStreamHelper;

    TAbNeedPasswordEvent OnNeedPassword;
    TAbRequestDiskEvent OnRequestLastDisk;
    TAbRequestNthDiskEvent OnRequestNthDisk;
    TAbRequestDiskEvent OnRequestBlankDisk;

private:
    void InitZip();
    void AttachSpanReadStream(std::unique_ptr<TStream> LastImage, uint32_t LastDisk);

    // Steps of ReadArchive: the end record's position (the exe check, the
    // request for the last disk of a spanned set), the end records with their
    // Zip64 form (leaving the stream at the directory), the entries.
    int64_t LocateEndRecord();
    int64_t ReadLastDisk();
    void ReadEndRecords(int64_t Tail);
    // With FindsShiftedOffsets: the shift of an archive whose offsets count
    // from after data put in front of it; 0 when they are right.
    int64_t FindOffsetShift(int64_t DirectoryEnd);
    void ReadDirectoryEntries(int64_t Tail);

    // Steps of WriteArchive: the stream written to, the items (those kept),
    // the central directory with its end records, and taking over a written
    // spanned set.
    std::unique_ptr<TStream> CreateOutput(TAbSpanWriteStream*& Span);
    std::vector<TAbZipItem*> WriteItems(TStream* Out);
    void InsertItem(TAbZipItem* Item, TStream* Out);
    void WriteCentralDirectory(const std::vector<TAbZipItem*>& Kept, TStream* Out);
    void AdoptWrittenSet(TAbSpanWriteStream* Span, std::unique_ptr<TStream>& Output);
    void CopyItem(TAbZipItem* Item, TStream* Out);
    void ReplaceArchiveContents(TStream* NewContents);
    // Opens the archive's file again after it was replaced.
    void Reopen();
    // Fills FEntryStarts from the item list and the directory.
    void IndexEntryStarts();
    // A view of another archive's list (Load and Save leave it alone).
    bool FIsView = false;
    // The disk an item's offset counts on: its own in a spanned set, else 0
    // whatever the entry says.
    uint32_t DiskOf(const TAbZipItem* Item) const { return FSpanned ? Item->DiskNumberStart() : 0; }

    // Where each entry of the archive starts, with the central directory
    // (Item null) among them, sorted by disk and offset with ties in
    // directory order and the directory first. Built on the first
    // extraction or test (or when a view is made), dropped whenever the list
    // is read or written; shared with the views, which only read it.
    struct TEntryStart {
        uint32_t Disk;
        int64_t Offset;
        const TAbZipItem* Item;
    };
    static bool EntryStartBefore(const TEntryStart& A, const TEntryStart& B) {
        return A.Disk != B.Disk ? A.Disk < B.Disk : A.Offset < B.Offset;
    }
    std::shared_ptr<const std::vector<TEntryStart>> FEntryStarts;

    TAbZipSupportedMethod FCompressionMethodToUse = smBestMethod;
    TAbZipDeflationOption FDeflationOption = doNormal;
    TAbZipDirectoryFileFooter FInfo;
    bool FIsExecutable = false;
    std::string FPassword;
    uint8_t FPasswordRetries = 3;
    uint32_t FStubSize = 0;
    bool FFindsShiftedOffsets = false;
    int64_t FOffsetShift = 0;
};

} // namespace kivo
