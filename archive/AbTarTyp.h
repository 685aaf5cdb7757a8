// Tar archives (read-only): POSIX ustar with the old GNU long-name headers
// ('L', 'K') and PAX extended headers, and V7 archives. The item walk, the
// item and the archive; the gzip and bzip2 containers present a tar archive
// they hold through the same class.
//
// Safety: a header whose size field is not a number, is negative or reaches
// past the end of the archive, or whose meta data is absurdly long, ends the
// load with EAbTarBadOp; link items (symbolic and hard) carry no data and
// extract as empty files, never as links.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/AbArcTyp.h"
#include "archive/AbVMStrm.h"
#include "runtime/Classes.h"

namespace kivo {

constexpr int64_t AbTarBlockSize = 512;
// Meta data (a long name, PAX records) longer than this is refused.
constexpr int64_t AbTarMaxMetaData = 1024 * 1024;

enum TAbTarHeaderFormat : uint8_t {
    UNKNOWN_FORMAT,
    V7_FORMAT,
    OLDGNU_FORMAT,
    GNU_FORMAT,
    USTAR_FORMAT,
    STAR_FORMAT,
    POSIX_FORMAT
};
enum TAbTarItemType : uint8_t { SUPPORTED_ITEM, UNSUPPORTED_ITEM, UNKNOWN_ITEM };

// n rounded up to a multiple of the block size.
constexpr int64_t AlignToTarBlock(int64_t n) {
    return (n + AbTarBlockSize - 1) / AbTarBlockSize * AbTarBlockSize;
}

// What the headers of one item say.
struct TAbTarItemRec {
    std::string Name; // decoded (UTF-8)
    std::string LinkName;
    uint32_t Mode = 0;
    uint32_t UserID = 0;
    uint32_t GroupID = 0;
    int64_t Size = 0;    // bytes of data (0 for the link and device types)
    int64_t ModTime = 0; // Unix time
    bool ChkSumPass = false;
    char LinkFlag = '0';
    TAbTarItemType ItemType = UNKNOWN_ITEM;
    std::string Magic;
    std::string Version;
    std::string UsrName;
    std::string GrpName;
    uint32_t DevMajor = 0;
    uint32_t DevMinor = 0;
    TAbTarHeaderFormat ArchiveFormat = UNKNOWN_FORMAT;
    int64_t StreamPosition = 0;  // the item's first block
    bool ItemReadOnly = false;   // written with PAX headers: not to be rewritten
    int32_t FileHeaderCount = 0; // blocks before the data
};

// Reads the item whose first block is at Stream's position and leaves the
// stream at the next item. False at the end of the archive (a block whose
// name starts with NUL, or a stream that ends). With Limit >= 0 an item
// whose data reaches past Limit raises EAbTarBadOp, as do size fields that
// are no number or negative and meta data above AbTarMaxMetaData; a
// stream that ends inside the headers raises EReadError.
bool ReadTarItem(TStream* Stream, int64_t Limit, TAbTarItemRec& Rec);

// atTar when the block at the stream's position is a tar header: a name, a
// checksum that matches and a type flag tar knows. The position is kept.
TAbArchiveType IdentifyTarStream(TStream* Stream);

class TAbTarItem : public TAbArchiveItem {
public:
    explicit TAbTarItem(TAbTarItemRec Rec);

    const TAbTarItemRec& TarItem() const { return FTarItem; }
    std::string LinkName() const { return FTarItem.LinkName; }
    bool IsLink() const { return FTarItem.LinkFlag == '1' || FTarItem.LinkFlag == '2'; }

    int64_t CompressedSize() const override { return FTarItem.Size; }
    int64_t UncompressedSize() const override { return FTarItem.Size; }
    uint32_t CRC32() const override { return 0; }
    bool IsDirectory() const override;
    uint32_t ExternalFileAttributes() const override { return FTarItem.Mode << 16; }
    uint32_t NativeFileAttributes() const override;
    uint16_t LastModFileDate() const override;
    uint16_t LastModFileTime() const override;
    TDateTime LastModTimeAsDateTime() const override;

private:
    TAbTarItemRec FTarItem;
};

// The item walk over a tar stream.
class TAbTarStreamHelper : public TAbArchiveStreamHelper {
public:
    explicit TAbTarStreamHelper(TStream* AStream) : TAbArchiveStreamHelper(AStream) {}

    // The first item (from position 0) / the one after the last found; false
    // at the end. Item() is what was found; the stream stands at the next item.
    bool FindFirstItem() override;
    bool FindNextItem() override;
    const TAbTarItemRec& Item() const { return FItem; }
    int32_t GetItemCount() override;
    // Copies the data of the item found last to AStream.
    void ExtractItemData(TStream* AStream) override;

    void ReadHeader() override {}
    void ReadTail() override {}
    bool SeekItem(int32_t) override { return false; }
    void WriteArchiveHeader() override;
    void WriteArchiveItem(TStream*) override;
    void WriteArchiveTail() override;

private:
    TAbTarItemRec FItem;
};

class TAbTarArchive : public TAbArchive {
public:
    TAbTarArchive(const std::string& FileName, uint16_t Mode);
    TAbTarArchive(TStream* aStream, const std::string& aArchiveName);
    ~TAbTarArchive() override;

    TAbTarItem* TarItems(int32_t Index) const {
        return static_cast<TAbTarItem*>(FItemList->Get(Index));
    }
    TAbTarHeaderFormat ArchiveFormat() const { return FArchiveFormat; }
    bool ArchiveReadOnly() const { return FArchiveReadOnly; }

    std::unique_ptr<TAbArchiveItem> CreateItem(const std::string& FileName) override;
    void ExtractItemToFile(int32_t Index, const std::string& TargetName) override;
    void ExtractItemToStream(int32_t Index, TStream* Stream) override;
    void ReadArchive() override;
    // Writing tar archives is not part of this engine.
    void WriteArchive() override;
    void VerifyItem(int32_t Index) override;

protected:
    // The stream that holds the tar data: the archive's own, or the one a
    // compressed container decoded it into.
    TStream* TarStream() const { return FTarData != nullptr ? FTarData : FStream; }
    void LoadTar();
    // Decodes a compressed tar with Decode into a swap-backed stream (its
    // swap file in the archive's temporary folder) and loads it. On any
    // failure the stream and its swap file go away, the list is emptied and
    // the error is raised.
    void LoadDecodedTar(const std::function<void(TStream*)>& Decode);
    // Back to the archive's own stream; a decoded tar and its swap file go.
    void DropDecodedTar();

    TStream* FTarData = nullptr;
    TAbTarHeaderFormat FArchiveFormat = V7_FORMAT;
    bool FArchiveReadOnly = false;

private:
    std::unique_ptr<TAbVirtualMemoryStream> FDecodedTar;
};

// The name bytes of a tar or gzip header as UTF-8: ASCII and UTF-8 as they
// are, other bytes from the OEM code page when they look like OEM text, else
// from the ANSI code page.
std::string DecodeRawName(std::string_view Bytes);

} // namespace kivo
