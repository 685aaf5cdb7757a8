#include "archive/AbUnzPrc.h"

#include <algorithm>

#include "archive/AbAesCryS.h"
#include "archive/AbByteOrder.h"
#include "archive/AbBzip2.h"
#include "archive/AbDfBase.h"
#include "archive/AbDfCryS.h"
#include "archive/AbDfDec.h"
#include "archive/AbLzma.h"
#include "archive/AbPPMd.h"
#include "archive/AbSpanSt.h"
#include "archive/AbUnzipHelper.h"
#include "archive/AbWavPack.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/ReplacingFile.h"
#include "runtime/DateTime.h"

namespace kivo {

namespace {

// Stored data and bzip2 output are copied in blocks of this size.
constexpr int64_t StoredCopyBlock = 1024 * 1024;

// The archive's stream, positioned at the item's local header (on the item's
// disk for a spanned set).
TStream* SeekToItem(TAbZipArchive& Archive, const TAbZipItem* Item) {
    TStream* Stream = Archive.Stream();
    if (Stream == nullptr) throw EAbReadError();
    if (auto* Span = dynamic_cast<TAbSpanReadStream*>(Stream)) {
        Span->SeekImage(Item->DiskNumberStart(), Item->RelativeOffset());
    } else if (Stream->Seek(Item->RelativeOffset(), soBeginning) != Item->RelativeOffset()) {
        throw EReadError();
    }
    return Stream;
}

// Reads the item's local header into Local and leaves the stream at its
// data. The header and the data must lie in a place of their own, before
// the next entry or the central directory: EAbZipOverlap otherwise, before
// anything is decoded (an archive of many entries pointing at one place
// would otherwise be extracted many times over).
TStream* ReadLocalHeader(TAbZipArchive& Archive, const TAbZipItem* Item,
                         TAbZipLocalFileHeader& Local) {
    const int64_t RoomEnd = Archive.ItemRoomEnd(Item);
    TStream* Stream = SeekToItem(Archive, Item);
    Local.LoadFromStream(Stream);
    if (RoomEnd >= 0 &&
        Item->CompressedSize() > RoomEnd - Item->RelativeOffset() - Local.RecordSize()) {
        throw EAbZipOverlap();
    }
    return Stream;
}

// Copies stored data to the end of Source (about Available bytes) in blocks
// of at most 1 MiB; the target decides how much it takes.
void CopyData(TStream* Source, TStream* Target, int64_t Available) {
    const int64_t Block = std::clamp<int64_t>(Available, 1, StoredCopyBlock);
    std::unique_ptr<uint8_t[]> Buffer(new uint8_t[static_cast<size_t>(Block)]);
    for (;;) {
        const int64_t N = Source->ReadUpTo(Buffer.get(), Block);
        if (N <= 0) return;
        Target->WriteBuffer(Buffer.get(), N);
    }
}

// Shrunk, reduced and imploded items (methods 1-6), with the dictionary size
// and tree count that the item's flags give for imploding.
void DecodeLegacyMethod(TAbZipItem* Item, uint16_t Method, TStream* Source, TStream* Target) {
    TAbUnzipHelper Helper(Source, Target);
    Helper.SetCompressionMethod(Method);
    Helper.SetUnCompressedSize(Item->UncompressedSize());
    Helper.SetDictionarySize(Item->DictionarySize());
    Helper.SetShannonFanoTreeCount(static_cast<uint8_t>(Item->ShannonFanoTreeCount()));
    Helper.Execute();
}

// bzip2 (method 12): exactly the declared size is copied (data that ends
// earlier raises the stream read error); a byte beyond it means the data is
// longer than declared.
void DecodeBzip2(TAbZipItem* Item, TStream* Source, TStream* Dest) {
    TBZDecompressionStream Decoded(Source);
    if (Item->UncompressedSize() > 0)
        Dest->CopyFrom(&Decoded, Item->UncompressedSize(), StoredCopyBlock);
    uint8_t Beyond = 0;
    if (Decoded.Read(&Beyond, 1) > 0) throw EAbZipDataTooLong();
}

// LZMA (method 14): the declared size bounds the output, so the end marker
// flag is not needed.
void DecodeLzma(TAbZipItem* Item, TStream* Source, TStream* Dest) {
    LzmaDecodeItemData(Source, Item->UncompressedSize(), Dest);
}

// WavPack (method 97): a WavPack file holding the WAV file's header and
// trailer around the samples.
void DecodeWavPack(TAbZipItem*, TStream* Source, TStream* Dest) {
    WavPackDecodeStream(Source, Dest);
}

// PPMd variant I, revision 1 (method 98).
void DecodePpmd(TAbZipItem*, TStream* Source, TStream* Dest) {
    PpmdDecodeStream(Source, Dest);
}

// What an item's data is once decrypted: the method it was compressed with
// (bit 7 cleared; for AES-encrypted items the one named in their extra
// field) and its size.
struct TItemData {
    uint16_t Method;
    int64_t Size;
};

TItemData ItemDataOf(const TAbZipItem* Item) {
    const auto Method = static_cast<uint16_t>(Item->ItemInfo().CompressionMethod() & ~0x80u);
    TAbZipAesInfo Aes;
    if (Method == Ab_ZipAesMethod && ReadZipAesInfo(Item->ExtraField(), Aes))
        return {static_cast<uint16_t>(Aes.Method & ~0x80u),
                std::max<int64_t>(Item->CompressedSize() - Aes.Overhead(), 0)};
    return {Method, Item->CompressedSize()};
}

// Decodes the item's data with the decoder of its method.
void DecodeItemData(TAbZipItem* Item, TStream* Source, TAbUnzipOutputStream* Out) {
    const TItemData Data = ItemDataOf(Item);
    switch (Data.Method) {
    case 0: CopyData(Source, Out, Data.Size); break;
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: DecodeLegacyMethod(Item, Data.Method, Source, Out); break;
    case 8:
    case 9: {
        TAbDeflateHelper Helper;
        if (Data.Method == 9) Helper.SetOptions(Helper.Options() | OptionDeflate64);
        Helper.SetStreamSize(Data.Size);
        // The decoder checksums each byte once, as it writes it out; a
        // failure raises before any value is handed over.
        Out->SetWriterCountsCrc(true);
        Out->SetWriterCRC32(Inflate(Source, Out, &Helper));
        break;
    }
    case 12: DecodeBzip2(Item, Source, Out); break;
    case 14: DecodeLzma(Item, Source, Out); break;
    case 97: DecodeWavPack(Item, Source, Out); break;
    case 98: DecodePpmd(Item, Source, Out); break;
    default: throw EAbZipInvalidMethod();
    }
}

// The item's time as the file system keeps it: through its DOS form (two
// second steps); 0 when it has no DOS form (such a time is not applied).
TDateTime ItemFileTime(const TAbZipItem* Item) {
    const uint32_t Dos = DateTimeToDos(Item->LastModTimeAsDateTime());
    if (Dos == 0) return 0;
    return DosToDateTime(static_cast<uint16_t>(Dos >> 16), static_cast<uint16_t>(Dos & 0xFFFF));
}

// Unix file types and permission bits of items made on Unix (the high word
// of the external attributes); 0 for items made elsewhere.
constexpr uint32_t UnixTypeMask = 0170000;
constexpr uint32_t UnixRegularFile = 0100000;
constexpr uint32_t UnixSymbolicLink = 0120000;
constexpr uint32_t UnixDirectory = 0040000;
// Link texts longer than this are no link this system could make.
constexpr int64_t MostLinkText = 4095;

uint32_t UnixModeOf(const TAbZipItem* Item) {
    return Item->HostSystem() == Ab_HostUnix ? Item->ExternalFileAttributes() >> 16 : 0;
}

// Whether a link holding Text, made at TargetName, leads to a place inside
// Base (the current folder when empty). Its leading ".." steps climb the real folders the link sits
// in (they were reached without links) and may not climb above Base; after the first name no ".."
// may follow, because that name may itself be a link and ".." would then climb from wherever it
// leads. Absolute targets never stay inside.
bool LinkStaysInside(const std::string& Base, const std::string& TargetName,
                     std::string_view Text) {
    const std::string Prefix = Base.empty() ? std::string() : IncludeTrailingPathDelimiter(Base);
    if (TargetName.empty() || TargetName.rfind(Prefix, 0) != 0 ||
        (Base.empty() && TargetName.front() == '/'))
        return false;
    if (Text.empty() || Text.front() == '/' || Text.find('\0') != std::string_view::npos)
        return false;
    int64_t Depth = std::count(TargetName.begin() + static_cast<std::ptrdiff_t>(Prefix.size()),
                               TargetName.end(), '/');
    bool Descending = false;
    while (!Text.empty()) {
        const size_t Slash = Text.find('/');
        const std::string_view Step = Text.substr(0, Slash);
        Text.remove_prefix(Slash == std::string_view::npos ? Text.size() : Slash + 1);
        if (Step.empty() || Step == ".") continue;
        if (Step != "..") {
            Descending = true;
        } else if (Descending || --Depth < 0) {
            return false;
        }
    }
    return true;
}

// The new file holding Text in place of the entry Name in Folder.
void WriteTextFile(const TFolderHandle& Folder, const std::string& Name, const std::string& Text,
                   TDateTime FileTime) {
    TReplacingFile File(Folder, Name, rfaWritable);
    File.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
    File.SetLastWriteTime(FileTime);
    File.Commit();
}

// Whether the local header matches the central directory entry. Two
// differences that writers produce in sound archives are accepted: a local
// header with a Zip64 subfield may need a higher version than its central
// entry (Info-ZIP's zip -fz), and with a data descriptor (bit 3) the local
// CRC and sizes are placeholders, so the descriptor after the data must carry
// the central values instead.
bool LocalHeaderMatches(TStream* Stream, const TAbZipLocalFileHeader& Local,
                        const TAbZipItem* Item) {
    const bool LocalZip64 = Local.ExtraField().Has(Ab_Zip64SubfieldID);
    if ((Local.VersionNeededToExtract() != Item->VersionNeededToExtract() &&
         !(LocalZip64 && Local.VersionNeededToExtract() > Item->VersionNeededToExtract())) ||
        Local.GeneralPurposeBitFlag() != Item->GeneralPurposeBitFlag() ||
        Local.LastModFileTime() != Item->LastModFileTime() ||
        Local.LastModFileDate() != Item->LastModFileDate()) {
        return false;
    }
    if (Local.FileName() != Item->ItemInfo().FileName()) return false;
    const auto Compressed = static_cast<uint64_t>(Item->CompressedSize());
    const auto Uncompressed = static_cast<uint64_t>(Item->UncompressedSize());
    if ((Local.GeneralPurposeBitFlag() & Ab_ZipFlagDataDescriptor) == 0) {
        if (Local.CRC32() != Item->CRC32()) return false;
        const uint8_t* Zip64 = nullptr;
        uint16_t Zip64Size = 0;
        if (Local.ExtraField().Get(Ab_Zip64SubfieldID, Zip64, Zip64Size)) {
            return Zip64Size >= 16 && GetLE64(Zip64) == Uncompressed &&
                   GetLE64(Zip64 + 8) == Compressed;
        }
        return Compressed <= 0xFFFFFFFF && Uncompressed <= 0xFFFFFFFF &&
               Local.CompressedSize() == Compressed && Local.UncompressedSize() == Uncompressed;
    }
    // The descriptor cannot be reached by seeking in a spanned set; the
    // decode and CRC check that follow still cover the data.
    if (dynamic_cast<TAbSpanReadStream*>(Stream) != nullptr) return true;
    const int64_t DataStart = Stream->Position();
    uint8_t D[24] = {};
    if (Stream->Seek(DataStart + Item->CompressedSize(), soBeginning) < 0) return false;
    const int64_t Got = Stream->ReadUpTo(D, 24);
    // With or without the optional signature, with 32- or 64-bit sizes.
    auto Matches = [&](int64_t At) {
        if (Got >= At + 12 && GetLE32(D + At) == Item->CRC32() &&
            GetLE32(D + At + 4) == Compressed && GetLE32(D + At + 8) == Uncompressed) {
            return true;
        }
        return Got >= At + 20 && GetLE32(D + At) == Item->CRC32() &&
               GetLE64(D + At + 4) == Compressed && GetLE64(D + At + 12) == Uncompressed;
    };
    return (Got >= 4 && GetLE32(D) == Ab_ZipDataDescriptorSignature && Matches(4)) || Matches(0);
}

} // namespace

// ---------------------------------------------------------------------------
// TAbUnzipSubsetStream

TAbUnzipSubsetStream::TAbUnzipSubsetStream(TStream* aStream, int64_t aStreamSize)
    : FStream(aStream) {
    FStartPos = FStream->Position();
    FCurPos = FStartPos;
    FEndPos = FStartPos + std::max<int64_t>(aStreamSize, 0);
}

int64_t TAbUnzipSubsetStream::Read(void* Buffer, int64_t Count) {
    const int64_t N = std::min(Count, FEndPos - FCurPos);
    if (N <= 0) return 0;
    const int64_t Got = FStream->Read(Buffer, N);
    if (Got > 0) FCurPos += Got;
    return std::max<int64_t>(Got, 0);
}

int64_t TAbUnzipSubsetStream::Write(const void*, int64_t) {
    throw EAbException("TAbUnzipSubsetStream.Write not supported");
}

int64_t TAbUnzipSubsetStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t Target = FCurPos;
    switch (Origin) {
    case soBeginning: Target = FStartPos + Offset; break;
    case soCurrent: Target = FCurPos + Offset; break;
    case soEnd: Target = FEndPos + Offset; break;
    }
    Target = std::clamp(Target, FStartPos, FEndPos);
    if (Target != FCurPos) {
        // Relative moves also work on streams that only know their position
        // inside the current segment of a split set.
        FStream->Seek(Target - FCurPos, soCurrent);
        FCurPos = Target;
    }
    return FCurPos - FStartPos;
}

// ---------------------------------------------------------------------------
// TAbUnzipOutputStream

int64_t TAbUnzipOutputStream::Read(void*, int64_t) {
    throw EAbException("TAbUnzipOutputStream.Read not supported");
}

int64_t TAbUnzipOutputStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    // An archive cannot make the engine write more than it declares.
    if (Count > FUncompressedSize - FBytesWritten) throw EAbZipDataTooLong();
    // The whole block goes out before it is counted, so a target that takes
    // part of it cannot make the CRC count bytes twice.
    if (FStream != nullptr) FStream->WriteBuffer(Buffer, Count);
    if (!FWriterCountsCrc) CrcUpdate(FCRC32, Buffer, static_cast<size_t>(Count));
    FBytesWritten += Count;
    if (FOnProgress) {
        const auto Progress = static_cast<uint8_t>(Percentage(FUncompressedSize, FBytesWritten));
        if (Progress != FCurrentProgress) {
            bool Abort = false;
            FOnProgress(Progress, Abort);
            FCurrentProgress = Progress;
            if (Abort) throw EAbUserAbort();
        }
    }
    return Count;
}

int64_t TAbUnzipOutputStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return FStream != nullptr ? FStream->Seek(Offset, Origin) : FBytesWritten;
}

// ---------------------------------------------------------------------------
// Passwords

void RequestPassword(TAbZipArchive& Archive, bool& Abort) {
    std::string NewPassword = Archive.Password();
    Abort = false;
    if (Archive.OnNeedPassword) Archive.OnNeedPassword(&Archive, NewPassword);
    if (!NewPassword.empty())
        Archive.SetPassword(NewPassword);
    else
        Abort = true;
}

void CheckPassword(TAbZipArchive& Archive, int32_t& Tries, bool& Abort) {
    if (Archive.Password().empty()) {
        RequestPassword(Archive, Abort);
        ++Tries;
    }
    if (Archive.Password().empty()) throw EAbZipInvalidPassword();
}

// ---------------------------------------------------------------------------
// The driver

namespace {

// The decryption stream over Data for Item with the archive's password, or
// null when the password does not fit (Data is then back at the start).
std::unique_ptr<TStream> TryPassword(TAbZipArchive& Archive, TAbZipItem* Item, TStream* Data,
                                     uint32_t CheckValue) {
    TAbZipAesInfo Aes;
    if (Item->CompressionMethod() == Ab_ZipAesMethod) {
        if (!ReadZipAesInfo(Item->ExtraField(), Aes)) throw EAbZipInvalidMethod();
        auto Decrypt = std::make_unique<TAbAesDecryptStream>(Data, Item->CompressedSize(), Aes,
                                                             Archive.Password());
        if (!Decrypt->IsValid()) return nullptr;
        Decrypt->SetOwnsStream(true);
        return Decrypt;
    }
    auto Decrypt = std::make_unique<TAbDfDecryptStream>(Data, CheckValue, Archive.Password());
    if (!Decrypt->IsValid()) return nullptr;
    Decrypt->SetOwnsStream(true);
    return Decrypt;
}

// Whether the item's CRC field carries the CRC of its data: AES vendor
// version 2 leaves it 0 and relies on the authentication code alone.
bool HasCrc(const TAbZipItem* Item) {
    TAbZipAesInfo Aes;
    return !(Item->CompressionMethod() == Ab_ZipAesMethod &&
             ReadZipAesInfo(Item->ExtraField(), Aes) && Aes.VendorVersion == 2);
}

} // namespace

std::unique_ptr<TStream> OpenItemDataStream(TAbZipArchive& Archive, TAbZipItem* Item) {
    if (!IsVersionSupported(Item->VersionNeededToExtract())) throw EAbZipVersion();
    TAbZipLocalFileHeader Local;
    TStream* Stream = ReadLocalHeader(Archive, Item, Local);
    // With a data descriptor the CRC is not known when the header is written:
    // the check byte is then the high byte of the DOS time.
    const uint32_t CheckValue = (Local.GeneralPurposeBitFlag() & Ab_ZipFlagDataDescriptor) != 0
                                    ? static_cast<uint32_t>(Local.LastModFileTime()) << 16
                                    : Item->CRC32();
    auto Data = std::make_unique<TAbUnzipSubsetStream>(Stream, Item->CompressedSize());
    if (!Item->IsEncrypted()) return Data;

    int32_t Tries = 0;
    bool Abort = false;
    CheckPassword(Archive, Tries, Abort);
    for (;;) {
        if (Abort) throw EAbUserAbort();
        if (auto Decrypt = TryPassword(Archive, Item, Data.get(), CheckValue)) {
            Data.release(); // owned by the decrypt stream from here on
            return Decrypt;
        }
        ++Tries;
        if (Tries > Archive.PasswordRetries()) throw EAbZipInvalidPassword();
        RequestPassword(Archive, Abort);
    }
}

bool ExtractItemData(TAbZipArchive& Archive, TAbZipItem* Item, TStream* Source, TStream* Target) {
    if (Item->IsDirectory()) return true; // folders carry no data
    TAbUnzipOutputStream Out(Target);
    Out.SetUncompressedSize(Item->UncompressedSize());
    Out.SetOnProgress(Archive.OnProgress);
    // Every item is decoded, whatever size it declares: an entry that says
    // it is empty may hold data all the same.
    if (Item->CompressedSize() > 0) DecodeItemData(Item, Source, &Out);
    // Encrypted data that was changed fails before its size or CRC is looked at.
    if (auto* Aes = dynamic_cast<TAbAesDecryptStream*>(Source)) Aes->CheckAuthentication();
    // Data that ends early is as damaged as data that runs on.
    if (Out.BytesWritten() != Item->UncompressedSize()) throw EReadError();
    if (HasCrc(Item) && Out.CRC32() != Item->CRC32()) {
        if (!Archive.OnProcessItemFailure) throw EAbZipBadCRC();
        Archive.ReportItemFailure(Item, ptExtract, ecMorvanta, AbErrZipBadCRC);
        return false;
    }
    return true;
}

namespace {

// A symbolic-link item: a link where its target stays inside the base
// folder, else a file holding the target's text, with a warning. Data that
// fails its check makes neither.
void WriteLinkItem(TAbZipArchive& Archive, TAbZipItem* Item, TStream* Data,
                   const TFolderHandle& Folder, const std::string& TargetName) {
    TMemoryStream Text;
    if (!ExtractItemData(Archive, Item, Data, &Text)) return;
    const std::string Target(reinterpret_cast<const char*>(Text.Memory()),
                             static_cast<size_t>(Text.Size()));
    const std::string Name = ExtractFileName(TargetName);
    if (LinkStaysInside(Archive.BaseDirectory(), TargetName, Target)) {
        if (const int Err = Folder.MakeLink(Name, Target); Err != 0)
            throw EFCreateError(TargetName, Err);
        return;
    }
    WriteTextFile(Folder, Name, Target, ItemFileTime(Item));
    Archive.ReportItemWarning(Item, "link target " + Target +
                                        " leads outside the folder; extracted as a file "
                                        "holding it");
}

} // namespace

void WriteItemToFile(TAbZipArchive& Archive, TAbZipItem* Item, const std::string& TargetName) {
    if (Item->IsDirectory()) {
        const TFolderHandle Folder = Archive.OpenTargetFolder(TargetName, true);
        (void)Folder.SetLastWriteTime(ItemFileTime(Item));
        // A read-only folder still takes new files where folders carry that
        // attribute; taking away its write permission would refuse them.
        (void)Folder.SetReadOnly(false);
        // The stored mode waits until the files inside are written: a
        // folder stored without write permission must still take them.
        const uint32_t Mode = UnixModeOf(Item);
        if (Archive.ExtractOptions().Contains(eoRestoreModes) &&
            ((Mode & UnixTypeMask) == UnixDirectory || (Mode & UnixTypeMask) == 0) &&
            (Mode & 0777) != 0) {
            Archive.RestoreFolderModeLater(TargetName, Mode & 0777);
        }
        return;
    }

    // Errors of this step (version, local header, password) happen before
    // the file system is touched.
    std::unique_ptr<TStream> Data = OpenItemDataStream(Archive, Item);

    // The file is made and renamed inside the folder handle reached from the
    // base (normally the one ResolveTargetPath checked): a link put on the
    // way meanwhile cannot redirect it. The new file keeps a handle of its
    // own; the archive's kept one is used at once.
    TFolderHandle Own;
    const TFolderHandle& Folder = Archive.TargetFolder(ExtractFileDir(TargetName), false, Own);
    const std::string Name = ExtractFileName(TargetName);
    // A folder, a read-only file or one this user may not write stays as it
    // is: a link item asks here, a file when its new file is made.
    const uint32_t Mode = UnixModeOf(Item);
    const TAbExtractOptions Options = Archive.ExtractOptions();
    if (Options.Contains(eoMakeLinks) && (Mode & UnixTypeMask) == UnixSymbolicLink &&
        Item->UncompressedSize() <= MostLinkText) {
        if (const int Refusal = ReplaceRefusal(Folder, Name); Refusal != 0)
            throw EFCreateError(TargetName, Refusal);
        // A handle of its own: the link is made after the data is decoded.
        WriteLinkItem(Archive, Item, Data.get(), Folder.Duplicate(), TargetName);
        return;
    }

    // The new data goes beside the target, unbuffered (the decoders hand over
    // large blocks), and replaces it only when the data step has finished.
    const bool ReadOnly = (Item->NativeFileAttributes() & faReadOnly) != 0;
    // Where the look that asked about overwriting found nothing, the new file
    // looks again only should the name be taken by the time it is complete.
    TReplacingFile File(Folder, Name, ReadOnly ? rfaReadOnly : rfaWritable, 0,
                        Archive.TakeSeenAbsent(TargetName) ? rcSeenAbsent : rcRefusal);
    const bool Replaces = File.Replaces();
    if (Options.Contains(eoRestoreModes) &&
        ((Mode & UnixTypeMask) == UnixRegularFile || (Mode & UnixTypeMask) == 0) &&
        (Mode & 0777) != 0) {
        (void)File.SetPermissions(Mode & 0777);
    }
    bool Checked = false;
    try {
        Checked = ExtractItemData(Archive, Item, Data.get(), &File);
    } catch (const EAbUserAbort&) {
        Archive.SetStatus(asInvalid);
        throw;
    }
    // Data that failed its check never replaces what was there (the file
    // removes itself); where nothing was, it stays for whatever can be
    // recovered from it.
    if (!Checked && Replaces) return;
    File.SetLastWriteTime(ItemFileTime(Item));
    File.Commit();
}

void WriteItemToStream(TAbZipArchive& Archive, TAbZipItem* Item, TStream* Target) {
    if (Target == nullptr) throw EAbBadStream();
    std::unique_ptr<TStream> Data = OpenItemDataStream(Archive, Item);
    ExtractItemData(Archive, Item, Data.get(), Target);
}

void VerifyZipItem(TAbZipArchive& Archive, TAbZipItem* Item) {
    if (!IsVersionSupported(Item->VersionNeededToExtract())) throw EAbZipVersion();
    TAbZipLocalFileHeader Local;
    TStream* Stream = ReadLocalHeader(Archive, Item, Local);
    const bool Matches = LocalHeaderMatches(Stream, Local, Item);
    SeekToItem(Archive, Item);
    if (!Matches) throw EAbZipInvalidLFH();
    // Decoded without a target: the bytes are counted and checked, not kept.
    std::unique_ptr<TStream> Data = OpenItemDataStream(Archive, Item);
    ExtractItemData(Archive, Item, Data.get(), nullptr);
}

} // namespace kivo
