#include "archive/AbTarTyp.h"

#include <cstring>
#include <string_view>

#include "archive/AbExcept.h"
#include "archive/AbPosKeep.h"
#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "runtime/CodePages.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

// Offsets and widths of the header fields.
constexpr size_t NameOfs = 0, NameLen = 100;
constexpr size_t ModeOfs = 100, UidOfs = 108, GidOfs = 116, IdLen = 8;
constexpr size_t SizeOfs = 124, SizeLen = 12, MTimeOfs = 136, MTimeLen = 12;
constexpr size_t ChkSumOfs = 148, ChkSumLen = 8;
constexpr size_t FlagOfs = 156;
constexpr size_t LinkOfs = 157, LinkLen = 100;
constexpr size_t MagicOfs = 257, VersionOfs = 263;
constexpr size_t UNameOfs = 265, GNameOfs = 297, OwnerLen = 32;
constexpr size_t DevMajorOfs = 329, DevMinorOfs = 337;
constexpr size_t PrefixOfs = 345, PrefixLen = 155;

using TBlock = uint8_t[AbTarBlockSize];

enum TFlagClass : uint8_t { fcSupported, fcUnsupported, fcGnuMeta, fcPaxMeta, fcUnknown };

TFlagClass ClassOf(char Flag) {
    switch (Flag) {
    case '\0':
    case '0':
    case '1':
    case '2':
    case '5': return fcSupported;
    case '3':
    case '4':
    case '6':
    case '7':
    case 'D':
    case 'M':
    case 'S':
    case 'V': return fcUnsupported;
    case 'L':
    case 'K': return fcGnuMeta;
    case 'x':
    case 'g':
    case 'X': return fcPaxMeta;
    default: return fcUnknown;
    }
}

// Links and devices have no data blocks, whatever their size field says.
bool HasNoData(char Flag) {
    return Flag >= '1' && Flag <= '6';
}

// A text field: up to its first NUL or its end.
std::string_view Text(const uint8_t* Block, size_t Ofs, size_t Len) {
    const auto* P = reinterpret_cast<const char*>(Block + Ofs);
    const void* Nul = std::memchr(P, 0, Len);
    return {P, Nul != nullptr ? static_cast<size_t>(static_cast<const char*>(Nul) - P) : Len};
}

// A numeric field: octal text (leading blanks skipped, ended by a NUL or a
// blank or the field's end) or the base-256 form GNU tar writes for large
// values (first byte 0x80). False for anything else, negative values
// included; an empty field is 0.
bool ParseNumber(const uint8_t* Field, size_t Len, int64_t& Value) {
    Value = 0;
    if (Field[0] == 0x80) {
        for (size_t I = 1; I < Len; ++I) {
            if (Value > (INT64_MAX >> 8)) return false;
            Value = (Value << 8) | Field[I];
        }
        return true;
    }
    size_t I = 0;
    while (I < Len && Field[I] == ' ')
        ++I;
    for (; I < Len && Field[I] >= '0' && Field[I] <= '7'; ++I)
        Value = Value * 8 + (Field[I] - '0');
    return I == Len || Field[I] == 0 || Field[I] == ' ';
}

int64_t NumberOr0(const uint8_t* Block, size_t Ofs, size_t Len) {
    int64_t Value = 0;
    return ParseNumber(Block + Ofs, Len, Value) ? Value : 0;
}

// The sum of the block's bytes with the checksum field counted as blanks
// must equal the field. Old writers summed signed bytes: accepted as well.
bool ChecksumPasses(const uint8_t* Block) {
    int64_t Stored = 0;
    if (!ParseNumber(Block + ChkSumOfs, ChkSumLen, Stored)) return false;
    int64_t Unsigned = 0;
    int64_t Signed = 0;
    for (size_t I = 0; I < AbTarBlockSize; ++I) {
        const uint8_t B = I >= ChkSumOfs && I < ChkSumOfs + ChkSumLen ? ' ' : Block[I];
        Unsigned += B;
        Signed += static_cast<int8_t>(B);
    }
    return Stored == Unsigned || Stored == Signed;
}

// The values of PAX 'x' records this reader honours.
struct TPaxValues {
    bool HasPath = false, HasLinkPath = false, HasSize = false, HasMTime = false;
    std::string Path, LinkPath;
    int64_t Size = 0, MTime = 0;
};

bool ParseDecimal(std::string_view Text, int64_t& Value) {
    Value = 0;
    if (Text.empty()) return false;
    for (char C : Text) {
        if (C < '0' || C > '9' || Value > (INT64_MAX - 9) / 10) return false;
        Value = Value * 10 + (C - '0');
    }
    return true;
}

// "LEN KEY=VALUE\n" records; the walk stops at the first malformed one. A
// size record that is no decimal number is refused like a bad size field.
void ApplyPaxRecords(std::string_view Data, TPaxValues& Pax) {
    while (!Data.empty()) {
        const size_t Blank = Data.find(' ');
        int64_t Len = 0;
        if (Blank == std::string_view::npos || !ParseDecimal(Data.substr(0, Blank), Len) ||
            Len <= static_cast<int64_t>(Blank) + 2 || Len > static_cast<int64_t>(Data.size()) ||
            Data[static_cast<size_t>(Len) - 1] != '\n') {
            return;
        }
        std::string_view Record = Data.substr(Blank + 1, static_cast<size_t>(Len) - Blank - 2);
        Data.remove_prefix(static_cast<size_t>(Len));
        const size_t Eq = Record.find('=');
        if (Eq == std::string_view::npos) continue;
        const std::string_view Key = Record.substr(0, Eq);
        const std::string_view Value = Record.substr(Eq + 1);
        if (Key == "path") {
            Pax.Path = Value;
            Pax.HasPath = true;
        } else if (Key == "linkpath") {
            Pax.LinkPath = Value;
            Pax.HasLinkPath = true;
        } else if (Key == "size") {
            if (!ParseDecimal(Value, Pax.Size)) throw EAbTarBadOp();
            Pax.HasSize = true;
        } else if (Key == "mtime") {
            // Seconds, maybe negative, maybe with a fraction (dropped).
            const bool Negative = !Value.empty() && Value[0] == '-';
            std::string_view Whole = Value.substr(Negative ? 1 : 0);
            Whole = Whole.substr(0, Whole.find('.'));
            if (ParseDecimal(Whole, Pax.MTime)) {
                if (Negative) Pax.MTime = -Pax.MTime;
                Pax.HasMTime = true;
            }
        }
    }
}

// What the meta-data headers before an item's own header said.
struct TMetaData {
    std::string LongName, LongLink;
    bool HasLongName = false, HasLongLink = false;
    TPaxValues Pax;
    TAbTarHeaderFormat Format = UNKNOWN_FORMAT;
    bool ReadOnly = false;
};

void ReadBlock(TStream* Stream, TBlock& Block) {
    Stream->ReadBuffer(Block, AbTarBlockSize);
}

// Reads the data of the meta-data header in Block and applies it.
void ReadMetaData(TStream* Stream, int64_t Limit, const TBlock& Block, TMetaData& Meta,
                  int32_t& Blocks) {
    int64_t Size = 0;
    if (!ParseNumber(Block + SizeOfs, SizeLen, Size) || Size > AbTarMaxMetaData)
        throw EAbTarBadOp();
    const int64_t Stored = AlignToTarBlock(Size);
    if (Limit >= 0 && Stream->Position() + Stored > Limit) throw EAbTarBadOp();
    std::string Data(static_cast<size_t>(Stored), '\0');
    Stream->ReadBuffer(Data.data(), Stored);
    Blocks += static_cast<int32_t>(Stored / AbTarBlockSize);
    Data.resize(static_cast<size_t>(Size));
    const std::string_view UpToNul(Data.c_str());
    switch (static_cast<char>(Block[FlagOfs])) {
    case 'L':
        Meta.LongName = UpToNul;
        Meta.HasLongName = true;
        break;
    case 'K':
        Meta.LongLink = UpToNul;
        Meta.HasLongLink = true;
        break;
    case 'x':
    case 'X': ApplyPaxRecords(Data, Meta.Pax); break;
    default: break; // 'g': global records are not applied
    }
    if (ClassOf(static_cast<char>(Block[FlagOfs])) == fcGnuMeta) {
        Meta.Format = OLDGNU_FORMAT;
    } else {
        Meta.ReadOnly = true;
        if (std::memcmp(Block + MagicOfs, "ustar\0", 6) == 0) Meta.Format = POSIX_FORMAT;
    }
}

// The item's fields from its own header and the meta data before it.
void ParseHeader(const TBlock& Block, const TMetaData& Meta, TAbTarItemRec& Rec) {
    const char Flag = static_cast<char>(Block[FlagOfs]);
    Rec.LinkFlag = Flag;
    switch (ClassOf(Flag)) {
    case fcSupported: Rec.ItemType = SUPPORTED_ITEM; break;
    case fcUnsupported: Rec.ItemType = UNSUPPORTED_ITEM; break;
    default: Rec.ItemType = UNKNOWN_ITEM; break;
    }
    Rec.ItemReadOnly = Meta.ReadOnly;
    Rec.Magic = Text(Block, MagicOfs, 6);
    Rec.Version = Text(Block, VersionOfs, 2);
    const bool Ustar = std::memcmp(Block + MagicOfs, "ustar\0", 6) == 0;
    Rec.ArchiveFormat = Meta.Format;
    if (Rec.ArchiveFormat == UNKNOWN_FORMAT) {
        if (Ustar)
            Rec.ArchiveFormat = USTAR_FORMAT;
        else if (std::memcmp(Block + MagicOfs, "ustar  \0", 8) == 0)
            Rec.ArchiveFormat = OLDGNU_FORMAT;
        else
            Rec.ArchiveFormat = V7_FORMAT;
    }
    std::string Name;
    if (Meta.Pax.HasPath) {
        Name = Meta.Pax.Path;
    } else if (Meta.HasLongName) {
        Name = Meta.LongName;
    } else {
        // The prefix of a ustar header (also one after PAX headers).
        const std::string_view Prefix = Ustar ? Text(Block, PrefixOfs, PrefixLen) : "";
        Name = Prefix.empty()
                   ? std::string(Text(Block, NameOfs, NameLen))
                   : std::string(Prefix) + '/' + std::string(Text(Block, NameOfs, NameLen));
    }
    Rec.Name = DecodeRawName(Name);
    Rec.LinkName = DecodeRawName(Meta.Pax.HasLinkPath ? std::string_view(Meta.Pax.LinkPath)
                                 : Meta.HasLongLink   ? std::string_view(Meta.LongLink)
                                                      : Text(Block, LinkOfs, LinkLen));
    Rec.Mode = static_cast<uint32_t>(NumberOr0(Block, ModeOfs, IdLen));
    Rec.UserID = static_cast<uint32_t>(NumberOr0(Block, UidOfs, IdLen));
    Rec.GroupID = static_cast<uint32_t>(NumberOr0(Block, GidOfs, IdLen));
    Rec.ModTime = Meta.Pax.HasMTime ? Meta.Pax.MTime : NumberOr0(Block, MTimeOfs, MTimeLen);
    Rec.UsrName = Text(Block, UNameOfs, OwnerLen);
    Rec.GrpName = Text(Block, GNameOfs, OwnerLen);
    Rec.DevMajor = static_cast<uint32_t>(NumberOr0(Block, DevMajorOfs, IdLen));
    Rec.DevMinor = static_cast<uint32_t>(NumberOr0(Block, DevMinorOfs, IdLen));
    if (!ParseNumber(Block + SizeOfs, SizeLen, Rec.Size)) throw EAbTarBadOp();
    if (Meta.Pax.HasSize) Rec.Size = Meta.Pax.Size;
    if (HasNoData(Flag)) Rec.Size = 0;
}

} // namespace

std::string DecodeRawName(std::string_view Bytes) {
    switch (DetectNameCharset(Bytes)) {
    case ncAscii: return std::string(Bytes);
    case ncUtf8:
        if (IsValidUtf8(Bytes)) return std::string(Bytes);
        break;
    case ncAnsi: break;
    }
    return LooksLikeOemText(Bytes) ? OemToUtf8(Bytes) : AnsiToUtf8(Bytes);
}

bool ReadTarItem(TStream* Stream, int64_t Limit, TAbTarItemRec& Rec) {
    Rec = TAbTarItemRec();
    Rec.StreamPosition = Stream->Position();
    TBlock Block;
    if (Stream->ReadUpTo(Block, AbTarBlockSize) < AbTarBlockSize || Block[0] == 0) return false;
    TMetaData Meta;
    int32_t Blocks = 1;
    bool ChecksumsPass = ChecksumPasses(Block);
    for (;;) {
        const TFlagClass Class = ClassOf(static_cast<char>(Block[FlagOfs]));
        if (Class != fcGnuMeta && Class != fcPaxMeta) break;
        ReadMetaData(Stream, Limit, Block, Meta, Blocks);
        ReadBlock(Stream, Block);
        ++Blocks;
        ChecksumsPass = ChecksumsPass && ChecksumPasses(Block);
    }
    ParseHeader(Block, Meta, Rec);
    Rec.ChkSumPass = ChecksumsPass;
    Rec.FileHeaderCount = Blocks;
    // Unknown types keep their data too: POSIX reads them as regular files.
    const int64_t DataStart = Rec.StreamPosition + Blocks * AbTarBlockSize;
    if (Rec.Size < 0 || (Limit >= 0 && Rec.Size > Limit - DataStart)) throw EAbTarBadOp();
    Stream->Seek(DataStart + AlignToTarBlock(Rec.Size), soBeginning);
    return true;
}

TAbArchiveType IdentifyTarStream(TStream* Stream) {
    TAbStreamPositionKeeper Keep(Stream);
    TBlock Block;
    if (Stream->ReadUpTo(Block, AbTarBlockSize) < AbTarBlockSize || Block[0] == 0) return atUnknown;
    if (!ChecksumPasses(Block) || ClassOf(static_cast<char>(Block[FlagOfs])) == fcUnknown)
        return atUnknown;
    return atTar;
}

// ---------------------------------------------------------------------------
// TAbTarItem

TAbTarItem::TAbTarItem(TAbTarItemRec Rec) : FTarItem(std::move(Rec)) {
    FFileName = FTarItem.Name;
}

bool TAbTarItem::IsDirectory() const {
    if (FTarItem.LinkFlag == '5') return true;
    const bool Regular = FTarItem.LinkFlag == '0' || FTarItem.LinkFlag == '\0';
    return Regular && !FTarItem.Name.empty() && FTarItem.Name.back() == '/';
}

uint32_t TAbTarItem::NativeFileAttributes() const {
    uint32_t Attr = IsDirectory() ? faDirectory : 0;
    if (!IsDirectory() && (FTarItem.Mode & 0200) == 0) Attr |= faReadOnly;
    return Attr;
}

TDateTime TAbTarItem::LastModTimeAsDateTime() const {
    return UnixTimeToLocalDateTime(FTarItem.ModTime);
}

uint16_t TAbTarItem::LastModFileDate() const {
    return static_cast<uint16_t>(DateTimeToDos(LastModTimeAsDateTime()) >> 16);
}

uint16_t TAbTarItem::LastModFileTime() const {
    return static_cast<uint16_t>(DateTimeToDos(LastModTimeAsDateTime()) & 0xFFFF);
}

// ---------------------------------------------------------------------------
// TAbTarStreamHelper

bool TAbTarStreamHelper::FindFirstItem() {
    FStream->Seek(0, soBeginning);
    return FindNextItem();
}

bool TAbTarStreamHelper::FindNextItem() {
    return ReadTarItem(FStream, FStream->Size(), FItem);
}

int32_t TAbTarStreamHelper::GetItemCount() {
    int32_t Count = 0;
    for (bool Found = FindFirstItem(); Found; Found = FindNextItem())
        ++Count;
    return Count;
}

void TAbTarStreamHelper::ExtractItemData(TStream* AStream) {
    FStream->Seek(FItem.StreamPosition + FItem.FileHeaderCount * AbTarBlockSize, soBeginning);
    if (FItem.Size > 0) AStream->CopyFrom(FStream, FItem.Size, 1024 * 1024);
}

void TAbTarStreamHelper::WriteArchiveHeader() {
    throw EAbTarBadOp();
}

void TAbTarStreamHelper::WriteArchiveItem(TStream*) {
    throw EAbTarBadOp();
}

void TAbTarStreamHelper::WriteArchiveTail() {
    throw EAbTarBadOp();
}

// ---------------------------------------------------------------------------
// TAbTarArchive

TAbTarArchive::TAbTarArchive(const std::string& FileName, uint16_t Mode)
    : TAbArchive(FileName, Mode) {}

TAbTarArchive::TAbTarArchive(TStream* aStream, const std::string& aArchiveName)
    : TAbArchive(aStream, aArchiveName) {}

TAbTarArchive::~TAbTarArchive() = default;

std::unique_ptr<TAbArchiveItem> TAbTarArchive::CreateItem(const std::string&) {
    throw EAbTarBadOp();
}

void TAbTarArchive::WriteArchive() {
    // Nothing is ever changed in a tar archive here: there is nothing to save.
}

void TAbTarArchive::ReadArchive() {
    LoadTar();
}

void TAbTarArchive::LoadDecodedTar(const std::function<void(TStream*)>& Decode) {
    FDecodedTar = std::make_unique<TAbVirtualMemoryStream>();
    FDecodedTar->SetSwapFileDirectory(FTempDir);
    try {
        Decode(FDecodedTar.get());
        FTarData = FDecodedTar.get();
        LoadTar();
    } catch (...) {
        FItemList->Clear();
        DropDecodedTar();
        throw;
    }
}

void TAbTarArchive::DropDecodedTar() {
    FTarData = nullptr;
    FDecodedTar.reset();
}

void TAbTarArchive::LoadTar() {
    FItemList->Clear();
    FArchiveFormat = V7_FORMAT;
    FArchiveReadOnly = false;
    TStream* Stream = TarStream();
    const int64_t Size = Stream->Size();
    if (Size <= 0) return;
    TAbTarStreamHelper Helper(Stream);
    TAbTarHeaderFormat Format = UNKNOWN_FORMAT;
    int32_t LastPercent = -1;
    bool Found = false;
    try {
        Found = Helper.FindFirstItem();
    } catch (const EReadError&) {
        Found = false; // no item at all
    }
    while (Found) {
        const TAbTarItemRec& Rec = Helper.Item();
        auto Item = std::make_unique<TAbTarItem>(Rec);
        if (Rec.ItemType == UNKNOWN_ITEM) {
            bool Confirm = true;
            AskProcessItem(Item.get(), ptFoundUnhandled, Confirm);
        } else {
            FArchiveReadOnly = FArchiveReadOnly || Rec.ItemReadOnly;
            if (Rec.ArchiveFormat > Format) Format = Rec.ArchiveFormat;
            FItemList->Add(Item.release());
        }
        const int32_t Percent = Percentage(Size, Stream->Position());
        if (Percent != LastPercent) {
            LastPercent = Percent;
            bool Abort = false;
            ReportArchiveProgress(static_cast<uint8_t>(Percent), Abort);
            if (Abort) {
                FStatus = asInvalid;
                throw EAbUserAbort();
            }
        }
        try {
            Found = Stream->Position() < Size && Helper.FindNextItem();
        } catch (const EAbUserAbort&) {
            throw;
        } catch (const EAbTarBadOp&) {
            throw;
        } catch (const std::exception&) {
            throw EAbTarBadOp();
        }
    }
    FArchiveFormat = Format == UNKNOWN_FORMAT ? V7_FORMAT : Format;
}

void TAbTarArchive::ExtractItemToStream(int32_t Index, TStream* Stream) {
    if (Stream == nullptr) throw EAbBadStream();
    const TAbTarItemRec& Rec = TarItems(Index)->TarItem();
    if (Rec.ItemType == UNKNOWN_ITEM) throw EAbTarBadOp();
    if (Rec.ItemType == UNSUPPORTED_ITEM && (Rec.Name.size() >= 100 || Rec.LinkName.size() >= 100))
        throw EAbTarBadOp();
    TStream* Source = TarStream();
    Source->Seek(Rec.StreamPosition + Rec.FileHeaderCount * AbTarBlockSize, soBeginning);
    if (Rec.Size > 0) Stream->CopyFrom(Source, Rec.Size, 1024 * 1024);
}

void TAbTarArchive::ExtractItemToFile(int32_t Index, const std::string& TargetName) {
    TAbTarItem* Item = TarItems(Index);
    const TDateTime Time = Item->LastModTimeAsDateTime();
    if (Item->IsDirectory()) {
        WriteItemFolder(TargetName, Time);
        return;
    }
    const bool ReadOnly = (Item->NativeFileAttributes() & faReadOnly) != 0;
    WriteItemFile(TargetName, Time, ReadOnly,
                  [&](TStream* Target) { ExtractItemToStream(Index, Target); });
}

void TAbTarArchive::VerifyItem(int32_t Index) {
    const TAbTarItemRec& Rec = TarItems(Index)->TarItem();
    TStream* Stream = TarStream();
    TAbStreamPositionKeeper Keep(Stream);
    Stream->Seek(Rec.StreamPosition, soBeginning);
    if (IdentifyTarStream(Stream) != atTar) throw EAbTarInvalid();
}

} // namespace kivo
