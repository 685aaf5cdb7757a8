#include "archive/AbBzp2Typ.h"

#include <cstring>

#include "archive/AbBzip2.h"
#include "archive/AbBzip2Blocks.h"
#include "archive/AbDfBase.h"
#include "archive/AbExcept.h"
#include "archive/AbPosKeep.h"
#include "platform/FileSystem.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

// Decodes the whole of Source (from its start) into Dest, on Threads
// threads where that is more than one.
void DecodeAll(TStream* Source, TStream* Dest, unsigned Threads) {
    Source->Seek(0, soBeginning);
    if (Threads > 1) {
        DecodeBzip2OnThreads(Source, Dest, Threads);
        return;
    }
    TBZDecompressionStream Decoded(Source);
    std::unique_ptr<uint8_t[]> Buffer(new uint8_t[AbBzip2CopyBlock]);
    for (;;) {
        const int64_t N = Decoded.ReadUpTo(Buffer.get(), AbBzip2CopyBlock);
        if (N <= 0) return;
        Dest->WriteBuffer(Buffer.get(), N);
    }
}

std::string ItemNameFor(const std::string& ArchiveName) {
    if (ArchiveName.empty()) return "unknown";
    const std::string Name = ExtractFileName(ArchiveName);
    const std::string Ext = ExtractFileExt(Name);
    const std::string Base = Name.substr(0, Name.size() - Ext.size());
    const std::string Upper = AsciiUpperCase(Ext);
    if (Upper == ".TBZ" || Upper == ".TBZ2") return Base + ".tar";
    return Base;
}

} // namespace

TAbArchiveType IdentifyBzip2Stream(TStream* Stream) {
    TAbStreamPositionKeeper Keep(Stream);
    uint8_t Head[10];
    Stream->Seek(0, soBeginning);
    if (Stream->ReadUpTo(Head, sizeof Head) < static_cast<int64_t>(sizeof Head)) return atUnknown;
    if (std::memcmp(Head, "BZh", 3) != 0 || Head[3] < '1' || Head[3] > '9' ||
        std::memcmp(Head + 4, "1AY&SY", 6) != 0) {
        return atUnknown;
    }
    Stream->Seek(0, soBeginning);
    TBZDecompressionStream Decoded(Stream);
    TMemoryStream Start;
    uint8_t Buffer[1024];
    const int64_t Got = Decoded.ReadUpTo(Buffer, sizeof Buffer);
    Start.WriteBuffer(Buffer, Got);
    Start.Seek(0, soBeginning);
    return IdentifyTarStream(&Start) == atTar ? atBzippedTar : atBzip2;
}

TAbBzip2Archive::TAbBzip2Archive(const std::string& FileName, uint16_t Mode)
    : TAbTarArchive(FileName, Mode) {}

TAbBzip2Archive::TAbBzip2Archive(TStream* aStream, const std::string& aArchiveName)
    : TAbTarArchive(aStream, aArchiveName) {}

TAbBzip2Archive::~TAbBzip2Archive() {
    FItemList->Clear();
    FTarData = nullptr;
}

void TAbBzip2Archive::ReadArchive() {
    FItemList->Clear();
    FState = bsBzip2;
    DropDecodedTar();
    if (FStream->Size() <= 0) return;
    if (FIsBzippedTar && FTarAutoHandle) {
        LoadBzippedTar();
        return;
    }
    auto Item = std::make_unique<TAbBzip2Item>();
    Item->SetFileName(ItemNameFor(FArchiveName));
    Item->SetCompressedSize(FStream->Size());
    FItemList->Add(Item.release());
}

void TAbBzip2Archive::LoadBzippedTar() {
    LoadDecodedTar([this](TStream* Tar) { DecodeAll(FStream, Tar, FDecodeThreads); });
    FState = bsTar;
}

void TAbBzip2Archive::ExtractItemToStream(int32_t Index, TStream* Stream) {
    if (FState == bsTar) {
        TAbTarArchive::ExtractItemToStream(Index, Stream);
        return;
    }
    if (Stream == nullptr) throw EAbBadStream();
    (void)FItemList->Get(Index);
    TAbStreamPositionKeeper Keep(FStream);
    DecodeAll(FStream, Stream, FDecodeThreads);
}

void TAbBzip2Archive::ExtractItemToFile(int32_t Index, const std::string& TargetName) {
    if (FState == bsTar) {
        TAbTarArchive::ExtractItemToFile(Index, TargetName);
        return;
    }
    (void)FItemList->Get(Index);
    WriteItemFile(TargetName, 0, false,
                  [&](TStream* Target) { ExtractItemToStream(Index, Target); });
}

void TAbBzip2Archive::VerifyItem(int32_t Index) {
    if (FState == bsTar) {
        TAbTarArchive::VerifyItem(Index);
        return;
    }
    (void)FItemList->Get(Index);
    TAbStreamPositionKeeper Keep(FStream);
    const TAbArchiveType Type = IdentifyBzip2Stream(FStream);
    if (Type != atBzip2 && Type != atBzippedTar) throw EAbGzipInvalid();
    TAbBitBucketStream Bucket(32768);
    DecodeAll(FStream, &Bucket, 1);
}

} // namespace kivo
