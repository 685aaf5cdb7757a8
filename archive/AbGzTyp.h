// gzip files (RFC 1952): the member header, the item, the stream helper and
// the archive. A gzip file that holds a tar archive is presented as that tar
// archive when asked (IsGzippedTar and TarAutoHandle): the members are
// decoded into a swap-backed stream and the tar reader works on it.
//
// Files of several members (cat a.gz b.gz) decode to the members' data one
// after the other, as gzip -d gives them; each member's CRC-32 and size are
// checked, when extracting as well as when testing, and a failed check
// leaves no file behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/AbArcTyp.h"
#include "archive/AbTarTyp.h"
#include "runtime/Classes.h"

namespace kivo {

constexpr uint8_t AbGzipID1 = 31, AbGzipID2 = 139, AbGzipDeflated = 8;
constexpr uint8_t AbGzFlagText = 0x01, AbGzFlagHeaderCRC = 0x02, AbGzFlagExtra = 0x04,
                  AbGzFlagName = 0x08, AbGzFlagComment = 0x10, AbGzFlagEncrypted = 0x20;
// Names and comments longer than this are refused (EAbGzipInvalid).
constexpr int64_t AbGzMaxTextField = 1024 * 1024;

enum TAbGzFileSystem : uint8_t {
    osFat,
    osAmiga,
    osVMS,
    osUnix,
    osVM_CMS,
    osAtariTOS,
    osHPFS,
    osMacintosh,
    osZSystem,
    osCP_M,
    osTOPS20,
    osNTFS,
    osQDOS,
    osAcornRISCOS,
    osVFAT,
    osMVS,
    osBeOS,
    osTandem,
    osTHEOS,
    osUnknown,
    osUndefined
};

struct TAbGzHeader {
    uint8_t ID1 = 0;
    uint8_t ID2 = 0;
    uint8_t CompMethod = 0;
    uint8_t Flags = 0;
    uint32_t ModTime = 0; // Unix time, 0 when not recorded
    uint8_t XtraFlags = 0;
    uint8_t OS = 0;
};

struct TAbGzTailRec {
    uint32_t CRC32 = 0;
    uint32_t ISize = 0; // the member's size modulo 2^32
};

class TAbGzipExtraField : public TAbExtraField {};

class TAbGzipItem : public TAbArchiveItem {
public:
    TAbGzipItem();

    // Reads the member header at Stream's position and leaves the stream at
    // the compressed data. False (nothing else read) when the magic or the
    // method is not gzip's; EReadError when the header is cut short,
    // EAbGzipInvalid for a name or comment above AbGzMaxTextField.
    bool LoadFromStream(TStream* Stream);

    const TAbGzHeader& Header() const { return FHeader; }
    const std::string& RawFileName() const { return FRawFileName; }
    const TAbGzipExtraField& ExtraField() const { return FExtraField; }
    const std::string& FileComment() const { return FFileComment; }
    TAbGzFileSystem FileSystem() const;
    int64_t DataOffset() const { return FDataOffset; }
    bool IsEncrypted() const override { return (FHeader.Flags & AbGzFlagEncrypted) != 0; }
    TDateTime LastModTimeAsDateTime() const override;
    uint16_t LastModFileDate() const override;
    uint16_t LastModFileTime() const override;

private:
    TAbGzHeader FHeader;
    std::string FRawFileName;
    TAbGzipExtraField FExtraField;
    std::string FFileComment;
    int64_t FDataOffset = 0;
};

// Decoding of the members of a gzip stream.
class TAbGzipStreamHelper : public TAbArchiveStreamHelper {
public:
    explicit TAbGzipStreamHelper(TStream* AStream) : TAbArchiveStreamHelper(AStream) {}

    // The first member's header, from position 0.
    bool FindFirstItem() override;
    bool FindNextItem() override { return false; }
    void ReadHeader() override;
    // Decodes every member into AStream, checking each against its tail.
    void ExtractItemData(TStream* AStream) override;
    // The tail (last 8 bytes) of the stream.
    void ReadTail() override;
    int32_t GetItemCount() override { return 1; }
    bool SeekItem(int32_t) override { return false; }
    void WriteArchiveHeader() override;
    void WriteArchiveItem(TStream*) override;
    void WriteArchiveTail() override;

    // With TestOnly nothing is written (the data is decoded and checked).
    void SetTestOnly(bool Value) { FTestOnly = Value; }
    TAbGzipItem& Item() { return FItem; }
    const TAbGzTailRec& Tail() const { return FTail; }
    // Bytes produced by the last ExtractItemData.
    int64_t Produced() const { return FProduced; }

private:
    TAbGzipItem FItem;
    TAbGzTailRec FTail;
    bool FTestOnly = false;
    int64_t FProduced = 0;
};

// atGzip for a gzip stream, atGzippedTar when the start of its data is a tar
// header; atUnknown otherwise. Damaged compressed data raises the decoder's
// error. The position is kept.
TAbArchiveType IdentifyGzipStream(TStream* Stream);

enum TAbGzipArchiveState : uint8_t { gsGzip, gsTar };

class TAbGzipArchive : public TAbTarArchive {
public:
    TAbGzipArchive(const std::string& FileName, uint16_t Mode);
    TAbGzipArchive(TStream* aStream, const std::string& aArchiveName);
    ~TAbGzipArchive() override;

    bool TarAutoHandle() const { return FTarAutoHandle; }
    void SetTarAutoHandle(bool Value) { FTarAutoHandle = Value; }
    bool IsGzippedTar() const { return FIsGzippedTar; }
    void SetIsGzippedTar(bool Value) { FIsGzippedTar = Value; }
    TAbGzipArchiveState State() const { return FState; }
    // The gzip item (gzip state only).
    TAbGzipItem* GzipItem() const;

    void ExtractItemToFile(int32_t Index, const std::string& TargetName) override;
    void ExtractItemToStream(int32_t Index, TStream* Stream) override;
    // In the tar state the tar archive decoded from the members; otherwise
    // one item (none for an empty stream or one without a gzip header).
    void ReadArchive() override;
    void VerifyItem(int32_t Index) override;

private:
    void LoadGzippedTar();

    bool FTarAutoHandle = false;
    bool FIsGzippedTar = false;
    TAbGzipArchiveState FState = gsGzip;
};

} // namespace kivo
