#include "archive/AbGzTyp.h"

#include <cstring>

#include "archive/AbByteOrder.h"
#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "archive/AbExcept.h"
#include "archive/AbPosKeep.h"
#include "archive/AbUtils.h"
#include "runtime/CodePages.h"

namespace kivo {

namespace {

constexpr int64_t GzHeaderSize = 10;
constexpr int64_t GzTailSize = 8;

// Reads a zero-terminated field in blocks and leaves the stream just past
// its terminator.
std::string ReadZeroTerminated(TStream* Stream) {
    std::string Result;
    char Buffer[1024];
    for (;;) {
        const int64_t Start = Stream->Position();
        const int64_t Got = Stream->Read(Buffer, sizeof Buffer);
        if (Got <= 0) throw EReadError();
        const void* Nul = std::memchr(Buffer, 0, static_cast<size_t>(Got));
        if (Nul != nullptr) {
            const auto Len = static_cast<const char*>(Nul) - Buffer;
            Result.append(Buffer, static_cast<size_t>(Len));
            Stream->Seek(Start + Len + 1, soBeginning);
            return Result;
        }
        Result.append(Buffer, static_cast<size_t>(Got));
        if (static_cast<int64_t>(Result.size()) > AbGzMaxTextField) throw EAbGzipInvalid();
    }
}

bool IsGzipMagic(const uint8_t* Head) {
    return Head[0] == AbGzipID1 && Head[1] == AbGzipID2 && Head[2] == AbGzipDeflated;
}

} // namespace

// ---------------------------------------------------------------------------
// TAbGzipItem

TAbGzipItem::TAbGzipItem() {
    FFileName = "unknown";
}

bool TAbGzipItem::LoadFromStream(TStream* Stream) {
    uint8_t Head[GzHeaderSize];
    Stream->ReadBuffer(Head, GzHeaderSize);
    if (!IsGzipMagic(Head)) return false;
    FHeader = {Head[0], Head[1], Head[2], Head[3], GetLE32(Head + 4), Head[8], Head[9]};
    if ((FHeader.Flags & AbGzFlagExtra) != 0) {
        uint8_t Len[2];
        Stream->ReadBuffer(Len, 2);
        FExtraField.LoadFromStream(Stream, GetLE16(Len));
    } else {
        FExtraField.Clear();
    }
    FRawFileName.clear();
    FFileName = "unknown";
    if ((FHeader.Flags & AbGzFlagName) != 0) {
        FRawFileName = ReadZeroTerminated(Stream);
        FFileName = DecodeRawName(FRawFileName);
    }
    FFileComment.clear();
    if ((FHeader.Flags & AbGzFlagComment) != 0)
        FFileComment = AnsiToUtf8(ReadZeroTerminated(Stream));
    // The header CRC is skipped, not checked.
    if ((FHeader.Flags & AbGzFlagHeaderCRC) != 0) Stream->Seek(2, soCurrent);
    FDataOffset = Stream->Position();
    return true;
}

TAbGzFileSystem TAbGzipItem::FileSystem() const {
    if (FHeader.OS <= osTHEOS) return static_cast<TAbGzFileSystem>(FHeader.OS);
    return FHeader.OS == 255 ? osUnknown : osUndefined;
}

TDateTime TAbGzipItem::LastModTimeAsDateTime() const {
    return FHeader.ModTime == 0 ? 0 : UnixTimeToLocalDateTime(FHeader.ModTime);
}

uint16_t TAbGzipItem::LastModFileDate() const {
    return static_cast<uint16_t>(DateTimeToDos(LastModTimeAsDateTime()) >> 16);
}

uint16_t TAbGzipItem::LastModFileTime() const {
    return static_cast<uint16_t>(DateTimeToDos(LastModTimeAsDateTime()) & 0xFFFF);
}

// ---------------------------------------------------------------------------
// TAbGzipStreamHelper

bool TAbGzipStreamHelper::FindFirstItem() {
    FStream->Seek(0, soBeginning);
    return FItem.LoadFromStream(FStream);
}

void TAbGzipStreamHelper::ReadHeader() {
    if (!FindFirstItem()) throw EAbGzipInvalid();
}

void TAbGzipStreamHelper::ReadTail() {
    uint8_t Tail[GzTailSize];
    FStream->Seek(-GzTailSize, soEnd);
    FStream->ReadBuffer(Tail, GzTailSize);
    FTail = {GetLE32(Tail), GetLE32(Tail + 4)};
}

void TAbGzipStreamHelper::ExtractItemData(TStream* AStream) {
    FProduced = 0;
    TAbGzipItem Member;
    FStream->Seek(0, soBeginning);
    if (!Member.LoadFromStream(FStream)) throw EAbGzipInvalid();
    for (;;) {
        TAbDeflateHelper Helper;
        if (FTestOnly) Helper.SetOptions(Helper.Options() | OptionTestOnly);
        const uint32_t Crc = Inflate(FStream, AStream, &Helper);
        uint8_t Tail[GzTailSize];
        FStream->ReadBuffer(Tail, GzTailSize);
        if (Crc != GetLE32(Tail)) throw EAbGzipBadCRC();
        if (static_cast<uint32_t>(Helper.NormalSize()) != GetLE32(Tail + 4))
            throw EAbGzipBadFileSize();
        FProduced += Helper.NormalSize();
        // Another member may follow; anything else after the last one (zero
        // padding, say) is ignored, as gzip -d does.
        const int64_t Next = FStream->Position();
        uint8_t Head[3];
        if (FStream->ReadUpTo(Head, 3) < 3 || !IsGzipMagic(Head)) return;
        FStream->Seek(Next, soBeginning);
        if (!Member.LoadFromStream(FStream)) return;
    }
}

void TAbGzipStreamHelper::WriteArchiveHeader() {
    throw EAbGzipInvalid();
}

void TAbGzipStreamHelper::WriteArchiveItem(TStream*) {
    throw EAbGzipInvalid();
}

void TAbGzipStreamHelper::WriteArchiveTail() {
    throw EAbGzipInvalid();
}

// ---------------------------------------------------------------------------
// Detection

TAbArchiveType IdentifyGzipStream(TStream* Stream) {
    TAbStreamPositionKeeper Keep(Stream);
    try {
        TAbGzipStreamHelper Helper(Stream);
        if (!Helper.FindFirstItem()) return atUnknown;
        TMemoryStream Start;
        TAbDeflateHelper Inflater;
        Inflater.SetPartialSize(AbTarBlockSize);
        Inflate(Stream, &Start, &Inflater);
        Start.Seek(0, soBeginning);
        return IdentifyTarStream(&Start) == atTar ? atGzippedTar : atGzip;
    } catch (const EReadError&) {
        return atUnknown;
    }
}

// ---------------------------------------------------------------------------
// TAbGzipArchive

TAbGzipArchive::TAbGzipArchive(const std::string& FileName, uint16_t Mode)
    : TAbTarArchive(FileName, Mode) {}

TAbGzipArchive::TAbGzipArchive(TStream* aStream, const std::string& aArchiveName)
    : TAbTarArchive(aStream, aArchiveName) {}

TAbGzipArchive::~TAbGzipArchive() {
    FItemList->Clear();
    FTarData = nullptr;
}

TAbGzipItem* TAbGzipArchive::GzipItem() const {
    if (FState != gsGzip) return nullptr;
    return static_cast<TAbGzipItem*>(FItemList->Get(0));
}

void TAbGzipArchive::ReadArchive() {
    FItemList->Clear();
    FState = gsGzip;
    DropDecodedTar();
    if (FStream->Size() <= 0) return;
    TAbGzipStreamHelper Helper(FStream);
    if (!Helper.FindFirstItem()) return;
    if (FIsGzippedTar && FTarAutoHandle) {
        LoadGzippedTar();
        return;
    }
    Helper.ReadTail();
    auto Item = std::make_unique<TAbGzipItem>();
    FStream->Seek(0, soBeginning);
    Item->LoadFromStream(FStream);
    Item->SetCRC32(Helper.Tail().CRC32);
    Item->SetUncompressedSize(Helper.Tail().ISize);
    Item->SetCompressedSize(FStream->Size() - Item->DataOffset() - GzTailSize);
    FItemList->Add(Item.release());
}

void TAbGzipArchive::LoadGzippedTar() {
    LoadDecodedTar([this](TStream* Tar) {
        TAbGzipStreamHelper Helper(FStream);
        Helper.ExtractItemData(Tar);
    });
    FState = gsTar;
}

void TAbGzipArchive::ExtractItemToStream(int32_t Index, TStream* Stream) {
    if (FState == gsTar) {
        TAbTarArchive::ExtractItemToStream(Index, Stream);
        return;
    }
    if (Stream == nullptr) throw EAbBadStream();
    (void)FItemList->Get(Index);
    TAbGzipStreamHelper Helper(FStream);
    Helper.ExtractItemData(Stream);
}

void TAbGzipArchive::ExtractItemToFile(int32_t Index, const std::string& TargetName) {
    if (FState == gsTar) {
        TAbTarArchive::ExtractItemToFile(Index, TargetName);
        return;
    }
    const TAbArchiveItem* Item = FItemList->Get(Index);
    WriteItemFile(TargetName, Item->LastModTimeAsDateTime(), false,
                  [&](TStream* Target) { ExtractItemToStream(Index, Target); });
}

void TAbGzipArchive::VerifyItem(int32_t Index) {
    if (FState == gsTar) {
        TAbTarArchive::VerifyItem(Index);
        return;
    }
    (void)FItemList->Get(Index);
    TAbStreamPositionKeeper Keep(FStream);
    const TAbArchiveType Type = IdentifyGzipStream(FStream);
    if (Type != atGzip && Type != atGzippedTar) throw EAbGzipInvalid();
    TAbBitBucketStream Bucket(32768);
    TAbGzipStreamHelper Helper(FStream);
    Helper.SetTestOnly(true);
    Helper.ExtractItemData(&Bucket);
}

} // namespace kivo
