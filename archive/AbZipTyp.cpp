#include "archive/AbZipTyp.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <utility>
#include <vector>

#include "archive/AbByteOrder.h"
#include "archive/AbVMStrm.h"
#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "platform/UserInterface.h"
#include "runtime/CodePages.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

// Writes a block that must stay on one image of a spanned set.
void WriteBlock(TStream* Stream, std::string_view Data) {
    if (auto* Span = dynamic_cast<TAbSpanWriteStream*>(Stream)) {
        Span->WriteUnspanned(Data.data(), static_cast<int64_t>(Data.size()));
    } else {
        Stream->WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    }
}

// Where the next byte written to Stream lands: disk and offset.
uint32_t CurrentDisk(TStream* Stream) {
    auto* Span = dynamic_cast<TAbSpanWriteStream*>(Stream);
    return Span != nullptr ? Span->CurrentImage() : 0;
}

// Text as valid UTF-8: invalid sequences become U+FFFD.
std::string ValidUtf8(std::string_view Bytes) {
    if (IsValidUtf8(Bytes)) return std::string(Bytes);
    return Utf16ToUtf8(Utf8ToUtf16(Bytes));
}

// CRC-32 of a name in the ANSI code page (the check value of 0x7075).
uint32_t AnsiNameCrc(std::string_view Name) {
    std::string Ansi = Utf8ToAnsi(Name);
    return AbCrc32(Ansi.data(), Ansi.size());
}

// A 64-bit value for a 32-bit header field: the maximum when it does not fit.
uint32_t HeaderValue32(int64_t Value) {
    return Value >= 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(Value);
}

// Whether a 32-bit header field cannot give the value back by itself.
bool NeedsWideValue(int64_t Value) {
    return Value < 0 || Value >= 0xFFFFFFFF;
}

bool IsAscii(std::string_view Bytes) {
    return std::all_of(Bytes.begin(), Bytes.end(),
                       [](char C) { return static_cast<unsigned char>(C) < 0x80; });
}

// ---------------------------------------------------------------------------
// Letter sets of the OEM code pages and their ANSI partners.

struct TOemLetterSets {
    uint16_t CodePage;
    const char* AnsiLetters;
    const char* OemLetters;
};

constexpr TOemLetterSets OemLetterTable[] = {
    {437, "8A 8C 8E 9A 9C 9E-9F B5 C0-D6 D8-F6 F8-FF", "80-9A A0-A5 E0-EB ED-EE"},
    {720, "81 8A 8C-90 98 9A 9C 9F AA B5 C0-D6 D8-EF F4 F9 FB-FC FF",
     "82-83 85 87-8C 93 95-9B 9D-AD E0-EF"},
    {737, "A2 B5 B8-BA BC BE-D1 D3-FE", "80-AF E0-F0 F4-F5"},
    {775, "A8 AA AF B8 BA BF-D6 D8-F6 F8-FE",
     "80-95 97-9B 9D A0-A5 AD B5-B8 BD-BE C6-C7 CF-D8 E0-EE"},
    {850, "8A 8C 8E 9A 9C 9E-9F C0-D6 D8-F6 F8-FF", "80-9B 9D A0-A5 B5-B7 C6-C7 D0-D8 DE E0-ED"},
    {852, "8A 8C-8F 9A 9C-9F A3 A5 AA AF B3 B9-BA BC BE-D6 D8-F6 F8-FE",
     "80-9D 9F-A9 AB-AD B5-B8 BD-BE C6-C7 D0-D8 DD-DE E0-EE FB-FD"},
    {855, "80-81 83 8A 8C-90 9A 9C-9F A1-A3 A5 A8 AA AF B2-B4 B8 BA BC-FF",
     "80-AD B5-B8 BD-BE C6-C7 D0-D8 DD-DE E0-EE F1-FC"},
    {857, "8A 8C 9A 9C 9F C0-D6 D8-F6 F8-FF", "80-9B 9D-A7 B5-B7 C6-C7 D2-D4 D6-D8 DE E0-E6 E9-ED"},
    {862, "B5 D4-D6 E0-FA", "80-9A A0-A5 E0-EB ED-EE"},
    {866, "80-81 83 8A 8C-90 9A 9C-9F A1-A3 A5 A8 AA AF B2-B5 B8 BA BC-FF", "80-AF E0-F7"},
};

// "8A 9E-9F ..." -> set of byte values.
std::bitset<256> ParseByteSet(const char* Ranges) {
    std::bitset<256> Set;
    std::string_view Text(Ranges);
    size_t Pos = 0;
    while (Pos < Text.size()) {
        size_t End = Text.find(' ', Pos);
        if (End == std::string_view::npos) End = Text.size();
        std::string_view Item = Text.substr(Pos, End - Pos);
        unsigned Lo = std::stoul(std::string(Item.substr(0, 2)), nullptr, 16);
        unsigned Hi =
            Item.size() > 2 ? std::stoul(std::string(Item.substr(3, 2)), nullptr, 16) : Lo;
        for (unsigned B = Lo; B <= Hi; ++B)
            Set.set(B);
        Pos = End + 1;
    }
    return Set;
}

struct TParsedLetterSets {
    std::bitset<256> Ansi;
    std::bitset<256> Oem;
};

const TParsedLetterSets* LetterSetsFor(uint16_t OemCodePage) {
    static const auto Parsed = [] {
        std::array<TParsedLetterSets, std::size(OemLetterTable)> Result{};
        for (size_t I = 0; I < std::size(OemLetterTable); ++I) {
            Result[I].Ansi = ParseByteSet(OemLetterTable[I].AnsiLetters);
            Result[I].Oem = ParseByteSet(OemLetterTable[I].OemLetters);
        }
        return Result;
    }();
    for (size_t I = 0; I < std::size(OemLetterTable); ++I) {
        if (OemLetterTable[I].CodePage == OemCodePage) return &Parsed[I];
    }
    return nullptr;
}

// Whether a GUI is there to show a message box (the text fallback answers
// every box with its default button, which would never cancel a request).
bool HaveUserInterface() {
    IUserInterface* Installed = SetUserInterface(nullptr);
    SetUserInterface(Installed);
    return Installed != nullptr;
}

// A disk request: true when the user chose OK.
bool AskForDisk(const std::string& Text) {
    if (!HaveUserInterface()) return false;
    return UserInterface().MessageBox(nullptr, Text, "Insert floppy", MB_OKCANCEL) == IDOK;
}

} // namespace

// ---------------------------------------------------------------------------
// Name decoding

NameCharset DetectNameCharset(std::string_view Bytes) {
    bool HighSeen = false;
    int Expected = 0;
    for (char Ch : Bytes) {
        auto B = static_cast<unsigned char>(Ch);
        if (B >= 0x80) HighSeen = true;
        if (Expected > 0) {
            if (B < 0x80 || B > 0xBF) return HighSeen ? ncAnsi : ncAscii;
            --Expected;
            continue;
        }
        if (B < 0x80) continue;
        if (B <= 0xC1 || B >= 0xF5)
            return ncAnsi; // continuation byte without a lead, C0, C1, F5-FF
        if (B <= 0xDF)
            Expected = 1;
        else if (B <= 0xEF)
            Expected = 2;
        else
            Expected = 3;
    }
    if (Expected > 0) return HighSeen ? ncAnsi : ncAscii;
    return HighSeen ? ncUtf8 : ncAscii;
}

bool LooksLikeOemText(std::string_view Bytes, uint16_t OemCodePage) {
    const TParsedLetterSets* Sets = LetterSetsFor(OemCodePage);
    if (Sets == nullptr) return false;
    bool AllAnsi = true;
    bool AllOem = true;
    bool AnyHigh = false;
    for (char Ch : Bytes) {
        auto B = static_cast<unsigned char>(Ch);
        if (B < 0x80) continue;
        AnyHigh = true;
        if (!Sets->Ansi.test(B)) AllAnsi = false;
        if (!Sets->Oem.test(B)) AllOem = false;
        if (!AllAnsi && !AllOem) break;
    }
    return AnyHigh && !AllAnsi && AllOem;
}

bool LooksLikeOemText(std::string_view Bytes) {
    return LooksLikeOemText(Bytes, OemCodePage());
}

std::string DecodeStoredName(std::string_view Bytes) {
    switch (DetectNameCharset(Bytes)) {
    case ncAscii: return std::string(Bytes);
    case ncUtf8: return ValidUtf8(Bytes);
    case ncAnsi: break;
    }
    return AnsiToUtf8(Bytes);
}

// ---------------------------------------------------------------------------
// End-of-central-directory search

int64_t FindEndOfCentralDirectory(TStream* Stream) {
    const int64_t StartPos = Stream->Position();
    const int64_t FileSize = Stream->Size();
    uint8_t Rec[Ab_ZipEndCentralDirectorySize];
    int64_t TailPos = Stream->Seek(-Ab_ZipEndCentralDirectorySize, soEnd);
    if (TailPos >= 0 && FileSize >= Ab_ZipEndCentralDirectorySize) {
        Stream->ReadBuffer(Rec, Ab_ZipEndCentralDirectorySize);
        if (GetLE32(Rec) == Ab_ZipEndCentralDirectorySignature && GetLE16(Rec + 20) == 0) {
            Stream->Seek(TailPos, soBeginning);
            return TailPos;
        }
    }
    // Search backwards in overlapping windows that grow to 64 KiB.
    std::vector<uint8_t> Window(65536);
    int64_t W = 512;
    int64_t RequestedStart = -512; // relative to the end
    for (;;) {
        bool LastWindow = false;
        int64_t Pos = Stream->Seek(RequestedStart, soEnd);
        if (Pos <= 0) {
            Pos = Stream->Seek(0, soBeginning);
            LastWindow = true;
        }
        int64_t Got = Stream->ReadUpTo(Window.data(), W);
        if (Got < Ab_ZipEndCentralDirectorySize) return -1;
        for (int64_t I = Got - Ab_ZipEndCentralDirectorySize; I >= 0; --I) {
            if (GetLE32(Window.data() + I) != Ab_ZipEndCentralDirectorySignature) continue;
            int64_t Candidate = Pos + I;
            int64_t Room = FileSize - (Candidate + Ab_ZipEndCentralDirectorySize);
            if (GetLE16(Window.data() + I + 20) <= Room) {
                Stream->Seek(Candidate, soBeginning);
                return Candidate;
            }
            // A record whose comment would run past the end (a "PK 05 06"
            // inside data or a comment): go on with the earlier positions.
        }
        if (LastWindow) break;
        if (W < 65536) W = std::min<int64_t>(W * 2, 65536);
        RequestedStart -= W - Ab_ZipEndCentralDirectorySize;
    }
    Stream->Seek(StartPos, soBeginning);
    return -1;
}

// ---------------------------------------------------------------------------
// TAbZipFileHeader

double TAbZipFileHeader::CompressionRatio() const {
    if (FUncompressedSize == 0) return 0.0;
    double Compressed = FCompressedSize;
    if (IsEncrypted()) Compressed -= 12;
    return 100.0 * (1.0 - Compressed / FUncompressedSize);
}

TAbZipDeflationOption TAbZipFileHeader::DeflationOption() const {
    if ((FCompressionMethod & 0xFF) != 8) return doInvalid;
    switch (FGeneralPurposeBitFlag & Ab_ZipFlagDeflateOptions) {
    case 0x0002: return doMaximum;
    case 0x0004: return doFast;
    case 0x0006: return doSuperFast;
    default: return doNormal;
    }
}

TAbZipDictionarySize TAbZipFileHeader::DictionarySize() const {
    if ((FCompressionMethod & 0xFF) != 6) return dsInvalid;
    return (FGeneralPurposeBitFlag & Ab_ZipFlagImplode8KDictionary) != 0 ? ds8K : ds4K;
}

int32_t TAbZipFileHeader::ShannonFanoTreeCount() const {
    if ((FCompressionMethod & 0xFF) != 6) return 0;
    return (FGeneralPurposeBitFlag & Ab_ZipFlagImplode3Trees) != 0 ? 3 : 2;
}

TAbZipFileHeader::TRareParts& TAbZipFileHeader::Rare() {
    if (!FRare) FRare = std::make_unique<TRareParts>();
    return *FRare;
}

const TAbExtraField& TAbZipFileHeader::ExtraField() const {
    static const TAbExtraField Empty;
    return FRare ? FRare->ExtraField : Empty;
}

void TAbZipFileHeader::SetFileName(const TAbSharedString& Value) {
    if (Value.View() == FFileName.View()) return;
    TRareParts& Parts = Rare();
    if (!Parts.HasRawFileName) {
        // The stored bytes followed the old name: they keep that value.
        Parts.RawFileName = FFileName;
        Parts.HasRawFileName = true;
    }
    FFileName = Value;
    if (Parts.RawFileName.View() == FFileName.View()) { // equal again
        Parts.HasRawFileName = false;
        Parts.RawFileName = TAbSharedString();
    }
}

void TAbZipFileHeader::SetIsUTF8(bool Value) {
    if (Value)
        FGeneralPurposeBitFlag |= Ab_ZipFlagUtf8;
    else
        FGeneralPurposeBitFlag &= static_cast<uint16_t>(~Ab_ZipFlagUtf8);
}

// ---------------------------------------------------------------------------
// TAbZipLocalFileHeader

void TAbZipLocalFileHeader::LoadFromStream(TStream* Stream) {
    uint8_t B[Ab_ZipLocalFileHeaderSize];
    int64_t Got = Stream->ReadUpTo(B, Ab_ZipLocalFileHeaderSize);
    auto Has = [Got](int64_t End) { return Got >= End; };
    if (Has(4)) FSignature = GetLE32(B);
    if (FSignature != ValidSignature()) throw EAbZipInvalid();
    if (Has(6)) FVersionNeededToExtract = GetLE16(B + 4);
    if (Has(8)) FGeneralPurposeBitFlag = GetLE16(B + 6);
    if (Has(10)) FCompressionMethod = GetLE16(B + 8);
    if (Has(12)) FLastModFileTime = GetLE16(B + 10);
    if (Has(14)) FLastModFileDate = GetLE16(B + 12);
    if (Has(18)) FCRC32 = GetLE32(B + 14);
    if (Has(22)) FCompressedSize = GetLE32(B + 18);
    if (Has(26)) FUncompressedSize = GetLE32(B + 22);
    uint16_t NameLen = Has(28) ? GetLE16(B + 26) : 0;
    uint16_t ExtraLen = Has(30) ? GetLE16(B + 28) : 0;
    FRecordSize = int64_t{Ab_ZipLocalFileHeaderSize} + NameLen + ExtraLen;
    std::string Raw(NameLen, '\0');
    Raw.resize(static_cast<size_t>(Stream->ReadUpTo(Raw.data(), NameLen)));
    ResetRareParts();
    FFileName = DecodeStoredName(Raw);
    if (ExtraLen > 0) Rare().ExtraField.LoadFromStream(Stream, ExtraLen);
}

void TAbZipLocalFileHeader::SaveToStream(TStream* Stream) {
    std::string Name = FFileName.Str();
    SaveToStream(Stream, IsUTF8() ? Name : Utf8ToAnsi(Name));
}

void TAbZipLocalFileHeader::SaveToStream(TStream* Stream, std::string_view RawName) {
    if (RawName.size() > 0xFFFF) throw EAbException("File name too long");
    TLEWriter W;
    W.U32(Ab_ZipLocalFileHeaderSignature);
    W.U16(FVersionNeededToExtract);
    W.U16(FGeneralPurposeBitFlag);
    W.U16(FCompressionMethod);
    W.U16(FLastModFileTime);
    W.U16(FLastModFileDate);
    W.U32(FCRC32);
    W.U32(FCompressedSize);
    W.U32(FUncompressedSize);
    const TAbExtraField& Extra = std::as_const(*this).ExtraField();
    W.U16(static_cast<uint16_t>(RawName.size()));
    W.U16(static_cast<uint16_t>(Extra.BufferSize()));
    W.Bytes(RawName);
    if (Extra.BufferSize() > 0) W.Bytes(Extra.Buffer(), Extra.BufferSize());
    WriteBlock(Stream, W.Data());
}

// ---------------------------------------------------------------------------
// TAbZipDirectoryFileHeader

void TAbZipDirectoryFileHeader::LoadFromStream(TStream* Stream) {
    uint8_t B[Ab_ZipCentralDirectoryFileHeaderSize];
    int64_t Got = Stream->ReadUpTo(B, Ab_ZipCentralDirectoryFileHeaderSize);
    auto Has = [Got](int64_t End) { return Got >= End; };
    if (Has(4)) FSignature = GetLE32(B);
    // A wrong signature ends the entry before its lengths are trusted.
    if (FSignature != ValidSignature()) throw EAbZipInvalid();
    if (Has(6)) FVersionMadeBy = GetLE16(B + 4);
    if (Has(8)) FVersionNeededToExtract = GetLE16(B + 6);
    if (Has(10)) FGeneralPurposeBitFlag = GetLE16(B + 8);
    if (Has(12)) FCompressionMethod = GetLE16(B + 10);
    if (Has(14)) FLastModFileTime = GetLE16(B + 12);
    if (Has(16)) FLastModFileDate = GetLE16(B + 14);
    if (Has(20)) FCRC32 = GetLE32(B + 16);
    if (Has(24)) FCompressedSize = GetLE32(B + 20);
    if (Has(28)) FUncompressedSize = GetLE32(B + 24);
    uint16_t NameLen = Has(30) ? GetLE16(B + 28) : 0;
    uint16_t ExtraLen = Has(32) ? GetLE16(B + 30) : 0;
    uint16_t CommentLen = Has(34) ? GetLE16(B + 32) : 0;
    if (Has(36)) FDiskNumberStart = GetLE16(B + 34);
    if (Has(38)) FInternalFileAttributes = GetLE16(B + 36);
    if (Has(42)) FExternalFileAttributes = GetLE32(B + 38);
    if (Has(46)) FRelativeOffset = GetLE32(B + 42);

    char Small[256];
    std::string Large;
    char* NameBuf = Small;
    if (NameLen > sizeof Small) {
        Large.resize(NameLen);
        NameBuf = Large.data();
    }
    std::string_view Raw(NameBuf, static_cast<size_t>(Stream->ReadUpTo(NameBuf, NameLen)));
    ResetRareParts();
    if (IsAscii(Raw)) {
        FFileName = TAbSharedString(Raw); // the stored bytes follow the name
    } else {
        FFileName = DecodeStoredName(Raw);
        SetRawFileName(Raw); // kept apart only when the decoding changed them
    }
    if (ExtraLen > 0) Rare().ExtraField.LoadFromStream(Stream, ExtraLen);
    if (CommentLen > 0) {
        std::string Comment(CommentLen, '\0');
        Comment.resize(static_cast<size_t>(Stream->ReadUpTo(Comment.data(), CommentLen)));
        SetFileComment(AnsiToUtf8(Comment));
    }
}

std::string_view TAbZipDirectoryFileHeader::RawFileName() const {
    return FRare && FRare->HasRawFileName ? FRare->RawFileName.View() : FFileName.View();
}

void TAbZipDirectoryFileHeader::SetRawFileName(const TAbSharedString& Value) {
    if (Value.View() == FFileName.View()) {
        if (FRare) {
            FRare->HasRawFileName = false;
            FRare->RawFileName = TAbSharedString();
        }
        return;
    }
    TRareParts& Parts = Rare();
    Parts.RawFileName = Value;
    Parts.HasRawFileName = true;
}

void TAbZipDirectoryFileHeader::SetFileComment(const std::string& Value) {
    if (Value.empty()) {
        if (FRare) FRare->FileComment = TAbSharedString();
    } else {
        Rare().FileComment = Value;
    }
}

int64_t TAbZipDirectoryFileHeader::SaveToStream(TStream* Stream) {
    std::string_view Raw = RawFileName();
    if (Raw.size() > 0xFFFF) throw EAbException("File name too long");
    std::string Comment = FRare ? Utf8ToAnsi(FRare->FileComment.View()) : std::string();
    if (Comment.size() > 0xFFFF) Comment.resize(0xFFFF);
    TLEWriter W;
    W.U32(Ab_ZipCentralDirectoryFileHeaderSignature);
    W.U16(FVersionMadeBy);
    W.U16(FVersionNeededToExtract);
    W.U16(FGeneralPurposeBitFlag);
    W.U16(FCompressionMethod);
    W.U16(FLastModFileTime);
    W.U16(FLastModFileDate);
    W.U32(FCRC32);
    W.U32(FCompressedSize);
    W.U32(FUncompressedSize);
    const TAbExtraField& Extra = std::as_const(*this).ExtraField();
    W.U16(static_cast<uint16_t>(Raw.size()));
    W.U16(static_cast<uint16_t>(Extra.BufferSize()));
    W.U16(static_cast<uint16_t>(Comment.size()));
    W.U16(FDiskNumberStart);
    W.U16(FInternalFileAttributes);
    W.U32(FExternalFileAttributes);
    W.U32(FRelativeOffset);
    W.Bytes(Raw);
    if (Extra.BufferSize() > 0) W.Bytes(Extra.Buffer(), Extra.BufferSize());
    W.Bytes(Comment);
    WriteBlock(Stream, W.Data());
    return static_cast<int64_t>(W.Data().size());
}

// ---------------------------------------------------------------------------
// TAbZipDirectoryFileFooter

bool TAbZipDirectoryFileFooter::IsZip64() const {
    return FDiskNumber >= 0xFFFF || FStartDiskNumber >= 0xFFFF || FEntriesOnDisk >= 0xFFFF ||
           FTotalEntries >= 0xFFFF || FDirectorySize >= 0xFFFFFFFF ||
           FDirectoryOffset >= 0xFFFFFFFF;
}

void TAbZipDirectoryFileFooter::LoadFromStream(TStream* Stream) {
    uint8_t B[Ab_ZipEndCentralDirectorySize];
    Stream->ReadBuffer(B, Ab_ZipEndCentralDirectorySize);
    if (GetLE32(B) != Ab_ZipEndCentralDirectorySignature) throw EAbZipInvalid();
    FDiskNumber = GetLE16(B + 4);
    FStartDiskNumber = GetLE16(B + 6);
    FEntriesOnDisk = GetLE16(B + 8);
    FTotalEntries = GetLE16(B + 10);
    FDirectorySize = GetLE32(B + 12);
    FDirectoryOffset = GetLE32(B + 16);
    uint16_t CommentLen = GetLE16(B + 20);
    std::string Comment(CommentLen, '\0');
    if (CommentLen > 0) Stream->ReadBuffer(Comment.data(), CommentLen);
    FZipfileComment = AnsiToUtf8(Comment);
}

void TAbZipDirectoryFileFooter::LoadZip64FromStream(TStream* Stream) {
    uint8_t B[Ab_Zip64EndCentralDirectorySize];
    Stream->ReadBuffer(B, Ab_Zip64EndCentralDirectorySize);
    if (GetLE32(B) != Ab_Zip64EndCentralDirectorySignature) throw EAbZipInvalid();
    if (FDiskNumber == 0xFFFF) FDiskNumber = GetLE32(B + 16);
    if (FStartDiskNumber == 0xFFFF) FStartDiskNumber = GetLE32(B + 20);
    if (FEntriesOnDisk == 0xFFFF) FEntriesOnDisk = static_cast<int64_t>(GetLE64(B + 24));
    if (FTotalEntries == 0xFFFF) FTotalEntries = static_cast<int64_t>(GetLE64(B + 32));
    if (FDirectorySize == 0xFFFFFFFF) FDirectorySize = static_cast<int64_t>(GetLE64(B + 40));
    if (FDirectoryOffset == 0xFFFFFFFF) FDirectoryOffset = static_cast<int64_t>(GetLE64(B + 48));
}

void TAbZipDirectoryFileFooter::SaveToStream(TStream* Stream) {
    if (IsZip64()) {
        uint32_t RecordDisk = CurrentDisk(Stream);
        int64_t RecordOffset = Stream->Position();
        TLEWriter R;
        R.U32(Ab_Zip64EndCentralDirectorySignature);
        R.U64(Ab_Zip64EndCentralDirectorySize - 12); // the record's size after this field
        R.U16(Ab_ZipVersionZip64);
        R.U16(Ab_ZipVersionZip64);
        R.U32(FDiskNumber);
        R.U32(FStartDiskNumber);
        R.U64(static_cast<uint64_t>(FEntriesOnDisk));
        R.U64(static_cast<uint64_t>(FTotalEntries));
        R.U64(static_cast<uint64_t>(FDirectorySize));
        R.U64(static_cast<uint64_t>(FDirectoryOffset));
        WriteBlock(Stream, R.Data());
        TLEWriter L;
        L.U32(Ab_Zip64EndCentralDirectoryLocatorSignature);
        L.U32(RecordDisk);
        L.U64(static_cast<uint64_t>(RecordOffset));
        L.U32(FDiskNumber + 1);
        WriteBlock(Stream, L.Data());
    }
    std::string Comment = Utf8ToAnsi(FZipfileComment);
    if (Comment.size() > 0xFFFF) Comment.resize(0xFFFF);
    auto Clamp16 = [](int64_t V) {
        return static_cast<uint16_t>(std::clamp<int64_t>(V, 0, 0xFFFF));
    };
    auto Clamp32 = [](int64_t V) {
        return static_cast<uint32_t>(std::clamp<int64_t>(V, 0, 0xFFFFFFFF));
    };
    TLEWriter E;
    E.U32(Ab_ZipEndCentralDirectorySignature);
    E.U16(Clamp16(FDiskNumber));
    E.U16(Clamp16(FStartDiskNumber));
    E.U16(Clamp16(FEntriesOnDisk));
    E.U16(Clamp16(FTotalEntries));
    E.U32(Clamp32(FDirectorySize));
    E.U32(Clamp32(FDirectoryOffset));
    E.U16(static_cast<uint16_t>(Comment.size()));
    E.Bytes(Comment);
    WriteBlock(Stream, E.Data());
}

// ---------------------------------------------------------------------------
// TAbZipDataDescriptor

void TAbZipDataDescriptor::SaveToStream(TStream* Stream) {
    TLEWriter W;
    W.U32(Ab_ZipDataDescriptorSignature);
    W.U32(FCRC32);
    if (FCompressedSize >= 0xFFFFFFFF || FUncompressedSize >= 0xFFFFFFFF) {
        W.U64(static_cast<uint64_t>(FCompressedSize));
        W.U64(static_cast<uint64_t>(FUncompressedSize));
    } else {
        W.U32(static_cast<uint32_t>(FCompressedSize));
        W.U32(static_cast<uint32_t>(FUncompressedSize));
    }
    WriteBlock(Stream, W.Data());
}

// ---------------------------------------------------------------------------
// TAbZipItem

// The layout choices in AbArcTyp.h and here keep a ZIP item at 104 bytes on
// 64-bit systems, 112 with the allocator's header. Each further 16 bytes cost
// 3 MB in an archive of 200,000 entries.
static_assert(sizeof(void*) != 8 || sizeof(TAbZipItem) <= 104, "a ZIP item grew past 104 bytes");

void TAbZipItem::LoadFromStream(TStream* Stream) {
    FItemInfo.LoadFromStream(Stream);
    std::string_view Raw = FItemInfo.RawFileName();
    const TAbExtraField& Extra = std::as_const(FItemInfo).ExtraField();
    TAbSharedString Name = FItemInfo.FileNameShared(); // first decoding
    const NameCharset Charset = DetectNameCharset(Raw);
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    if (FItemInfo.IsUTF8() || Charset == ncUtf8) {
        if (Charset != ncUtf8 && Charset != ncAscii) Name = ValidUtf8(Raw);
    } else if (Extra.Get(Ab_InfoZipUnicodePathSubfieldID, Data, Size) && Size > 6 && Data[0] == 1 &&
               AnsiNameCrc(Name.View()) == GetLE32(Data + 1)) {
        Name = ValidUtf8(std::string_view(reinterpret_cast<const char*>(Data + 5), Size - 5u));
    } else if (Extra.Get(Ab_XceedUnicodePathSubfieldID, Data, Size) && Size > 10 &&
               GetLE32(Data) == Ab_XceedUnicodePathSignature &&
               Size == 8 + 2 * static_cast<uint64_t>(GetLE32(Data + 4))) {
        std::u16string Units;
        Units.reserve(GetLE32(Data + 4));
        for (uint32_t I = 0; I < GetLE32(Data + 4); ++I)
            Units.push_back(static_cast<char16_t>(GetLE16(Data + 8 + 2 * I)));
        Name = Utf16ToUtf8(Units);
    } else if (Charset != ncAscii && AnsiCodePage() != OemCodePage()) {
        // Plain ASCII reads the same in both code pages and needs no test.
        std::string AnsiBytes = Utf8ToAnsi(Name.View());
        if (HostSystem() == Ab_HostMsDos || LooksLikeOemText(AnsiBytes))
            Name = OemToUtf8(AnsiBytes);
    }
    FFileName = Name;

    int64_t Uncompressed = FItemInfo.UncompressedSize();
    int64_t Compressed = FItemInfo.CompressedSize();
    int64_t Offset = FItemInfo.RelativeOffset();
    uint32_t Disk = FItemInfo.DiskNumberStart();
    if (Extra.Get(Ab_Zip64SubfieldID, Data, Size)) {
        uint16_t Pos = 0;
        auto Take = [&](int Bytes) -> uint64_t {
            if (Pos + Bytes > Size) throw EReadError();
            uint64_t V = Bytes == 8 ? GetLE64(Data + Pos) : GetLE32(Data + Pos);
            Pos = static_cast<uint16_t>(Pos + Bytes);
            return V;
        };
        if (FItemInfo.UncompressedSize() == 0xFFFFFFFF)
            Uncompressed = static_cast<int64_t>(Take(8));
        if (FItemInfo.CompressedSize() == 0xFFFFFFFF) Compressed = static_cast<int64_t>(Take(8));
        if (FItemInfo.RelativeOffset() == 0xFFFFFFFF) Offset = static_cast<int64_t>(Take(8));
        if (FItemInfo.DiskNumberStart() == 0xFFFF) Disk = static_cast<uint32_t>(Take(4));
    }
    if (FRare || Uncompressed != FItemInfo.UncompressedSize() ||
        Compressed != FItemInfo.CompressedSize() || Offset != FItemInfo.RelativeOffset() ||
        Disk != FItemInfo.DiskNumberStart()) {
        TRareData& Wide = Rare();
        Wide.UncompressedSize = Uncompressed;
        Wide.CompressedSize = Compressed;
        Wide.RelativeOffset = Offset;
        Wide.DiskNumberStart = Disk;
    }

    std::string_view NameView = FFileName.View();
    if (NameView.find('\\') == std::string_view::npos) {
        SetDiskFileName(FFileName);
    } else {
        std::string DiskName(NameView);
        std::replace(DiskName.begin(), DiskName.end(), '\\', PathDelim);
        SetDiskFileName(DiskName);
    }
    FAction = aaNone;
    FTagged = false;
    FNameChanged = false;
}

bool TAbZipItem::IsDirectory() const {
    if ((ExternalFileAttributes() & 0x10) != 0) return true;
    std::string_view Name = FFileName.View();
    return !Name.empty() && (Name.back() == '/' || Name.back() == '\\');
}

uint32_t TAbZipItem::NativeFileAttributes() const {
    uint32_t Ext = ExternalFileAttributes();
    if (HostSystem() == Ab_HostUnix || Ext > 0x1FFFF) return UnixToDosAttributes(Ext >> 16);
    return Ext & 0xFF;
}

void TAbZipItem::SetIsEncrypted(bool Value) {
    uint16_t Flag = FItemInfo.GeneralPurposeBitFlag();
    FItemInfo.SetGeneralPurposeBitFlag(Value ? static_cast<uint16_t>(Flag | Ab_ZipFlagEncrypted)
                                             : static_cast<uint16_t>(Flag & ~Ab_ZipFlagEncrypted));
}

void TAbZipItem::SetFileName(const std::string& Value) {
    TAbArchiveItem::SetFileName(Value);
    FItemInfo.SetFileName(FFileName);
    FNameChanged = true;
}

TAbZipItem::TRareData& TAbZipItem::Rare() {
    if (!FRare) {
        auto Data = std::make_unique<TRareData>();
        Data->UncompressedSize = FItemInfo.UncompressedSize();
        Data->CompressedSize = FItemInfo.CompressedSize();
        Data->RelativeOffset = FItemInfo.RelativeOffset();
        Data->DiskNumberStart = FItemInfo.DiskNumberStart();
        FRare = std::move(Data);
    }
    return *FRare;
}

void TAbZipItem::SetCompressedSize(int64_t Value) {
    if (FRare || NeedsWideValue(Value)) Rare().CompressedSize = Value;
    FItemInfo.SetCompressedSize(HeaderValue32(Value));
    UpdateZip64ExtraField();
}

void TAbZipItem::SetUncompressedSize(int64_t Value) {
    if (FRare || NeedsWideValue(Value)) Rare().UncompressedSize = Value;
    FItemInfo.SetUncompressedSize(HeaderValue32(Value));
    UpdateZip64ExtraField();
}

void TAbZipItem::SetRelativeOffset(int64_t Value) {
    if (FRare || NeedsWideValue(Value)) Rare().RelativeOffset = Value;
    FItemInfo.SetRelativeOffset(HeaderValue32(Value));
    UpdateZip64ExtraField();
}

void TAbZipItem::SetDiskNumberStart(uint32_t Value) {
    if (FRare || Value >= 0xFFFF) Rare().DiskNumberStart = Value;
    FItemInfo.SetDiskNumberStart(Value >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(Value));
    UpdateZip64ExtraField();
}

void TAbZipItem::UpdateZip64ExtraField() {
    TLEWriter W;
    if (FItemInfo.UncompressedSize() == 0xFFFFFFFF)
        W.U64(static_cast<uint64_t>(UncompressedSize()));
    if (FItemInfo.CompressedSize() == 0xFFFFFFFF) W.U64(static_cast<uint64_t>(CompressedSize()));
    if (FItemInfo.RelativeOffset() == 0xFFFFFFFF) W.U64(static_cast<uint64_t>(RelativeOffset()));
    if (FItemInfo.DiskNumberStart() == 0xFFFF) W.U32(DiskNumberStart());
    if (W.Data().empty()) {
        if (std::as_const(FItemInfo).ExtraField().Has(Ab_Zip64SubfieldID)) {
            FItemInfo.ExtraField().Delete(Ab_Zip64SubfieldID);
        }
    } else {
        FItemInfo.ExtraField().Put(Ab_Zip64SubfieldID, W.Data().data(),
                                   static_cast<uint16_t>(W.Data().size()));
    }
}

TAbExtraField& TAbZipItem::LFHExtraField() {
    return Rare().LFHExtraField;
}

void TAbZipItem::PrepareNameForWriting() {
    if (!FNameChanged && !FItemInfo.RawFileName().empty()) return;
    std::string Name = FileName();
    std::replace(Name.begin(), Name.end(), '\\', '/');
    TAbExtraField& Extra = FItemInfo.ExtraField();
    if (Extra.Has(Ab_InfoZipUnicodePathSubfieldID)) Extra.Delete(Ab_InfoZipUnicodePathSubfieldID);
    if (Extra.Has(Ab_XceedUnicodePathSubfieldID)) Extra.Delete(Ab_XceedUnicodePathSubfieldID);
    std::string Raw = Name;
    bool Utf8 = false;
    if (!IsAscii(Name)) {
        bool LossyAnsi = false;
        bool LossyOem = false;
        std::string Ansi = Utf8ToAnsi(Name, &LossyAnsi);
        Utf8ToOem(Name, &LossyOem);
        // ANSI bytes that happen to form UTF-8 would be read back as UTF-8.
        if (!LossyAnsi && !LossyOem && DetectNameCharset(Ansi) != ncUtf8) {
            TLEWriter W;
            W.U8(1);
            W.U32(AbCrc32(Ansi.data(), Ansi.size()));
            W.Bytes(Name);
            if (W.Data().size() <= 0xFFFF)
                Extra.Put(Ab_InfoZipUnicodePathSubfieldID, W.Data().data(),
                          static_cast<uint16_t>(W.Data().size()));
            Raw = Ansi;
        } else {
            Utf8 = true;
        }
    }
    FItemInfo.SetIsUTF8(Utf8);
    FItemInfo.SetRawFileName(Raw);
    FItemInfo.SetFileName(Name);
    // The local header carries the same Unicode path, so both names agree.
    if (FRare || Extra.Has(Ab_InfoZipUnicodePathSubfieldID)) {
        LFHExtraField().CloneFrom(Extra, Ab_InfoZipUnicodePathSubfieldID);
    }
    FNameChanged = false;
}

// ---------------------------------------------------------------------------
// TAbZipArchive

TAbZipArchive::TAbZipArchive(const std::string& FileName, uint16_t Mode)
    : TAbArchive(FileName, Mode) {
    InitZip();
}

TAbZipArchive::TAbZipArchive(TStream* aStream, const std::string& aArchiveName)
    : TAbArchive(aStream, aArchiveName) {
    InitZip();
}

namespace {

// The file a view opens again: its source's, which must have been read from
// a file by name (EAbNoArchive otherwise).
const std::string& ViewedFile(const TAbArchive& Source) {
    if (!Source.OwnsStream() || Source.ArchiveName().empty() || Source.Status() == asInvalid)
        throw EAbNoArchive();
    return Source.ArchiveName();
}

} // namespace

TAbZipArchive::TAbZipArchive(TAbZipArchive& Source, TViewOf)
    : TAbArchive(ViewedFile(Source), fmOpenRead | fmShareDenyNone) {
    InitZip();
    FIsView = true;
    FInfo = Source.FInfo;
    FSpanned = Source.FSpanned;
    FIsExecutable = Source.FIsExecutable;
    FStubSize = Source.FStubSize;
    FFindsShiftedOffsets = Source.FFindsShiftedOffsets;
    FOffsetShift = Source.FOffsetShift;
    FPassword = Source.FPassword;
    FPasswordRetries = Source.FPasswordRetries;
    // A file of another size is not the one Source read (replaced since).
    if (!FSpanned && FStream->Size() != Source.FStream->Size()) throw EAbZipInvalid();
    if (FSpanned) AttachSpanReadStream(ReleaseOwnedStream(), FInfo.DiskNumber());
    // Built here, on the source's thread, so that no view builds it later.
    if (!Source.FEntryStarts) Source.IndexEntryStarts();
    FEntryStarts = Source.FEntryStarts;
    FItemList = Source.FItemList;
}

void TAbZipArchive::Load() {
    if (!FIsView) TAbArchive::Load();
}

void TAbZipArchive::Save() {
    if (!FIsView) TAbArchive::Save();
}

void TAbZipArchive::InitZip() {
    FStoreOptions.Include(soStripDrive);
    FTempDir.clear();
    SetSpanningThreshold(0);
}

TAbZipItem* TAbZipArchive::ZipItems(int32_t Index) const {
    return static_cast<TAbZipItem*>(FItemList->Get(Index));
}

void TAbZipArchive::PutZipItem(int32_t Index, std::unique_ptr<TAbZipItem> Item) {
    FItemList->Get(Index); // range check before taking the item over
    FEntryStarts.reset();
    FItemList->Put(Index, Item.release());
}

void TAbZipArchive::IndexEntryStarts() {
    auto Starts = std::make_shared<std::vector<TEntryStart>>();
    Starts->reserve(static_cast<size_t>(Count()) + 1);
    Starts->push_back({FSpanned ? FInfo.StartDiskNumber() : 0, FInfo.DirectoryOffset(), nullptr});
    for (TAbArchiveItem* Each : *FItemList) {
        const auto* Item = static_cast<const TAbZipItem*>(Each);
        // New items have no place in the file yet.
        if (Item->Action() == aaAdd || Item->Action() == aaStreamAdd) continue;
        Starts->push_back({DiskOf(Item), Item->RelativeOffset(), Item});
    }
    // Sorting once keeps the checks of all items at n log n, however many
    // entries an archive points at one place.
    std::stable_sort(Starts->begin(), Starts->end(), EntryStartBefore);
    FEntryStarts = std::move(Starts);
}

int64_t TAbZipArchive::ItemRoomEnd(const TAbZipItem* Item) {
    const TEntryStart Key{DiskOf(Item), Item->RelativeOffset(), Item};
    const uint32_t DirectoryDisk = FSpanned ? FInfo.StartDiskNumber() : 0;
    if (Key.Disk == DirectoryDisk && Key.Offset >= FInfo.DirectoryOffset()) throw EAbZipOverlap();
    if (!FEntryStarts) IndexEntryStarts();
    const std::vector<TEntryStart>& Starts = *FEntryStarts;
    auto [First, Last] = std::equal_range(Starts.begin(), Starts.end(), Key, EntryStartBefore);
    if (First == Last) return -1; // not in the archive's file yet
    // The first entry of the directory that starts at a place owns it.
    if (First->Item != Item) throw EAbZipOverlap();
    return Last != Starts.end() && Last->Disk == Key.Disk ? Last->Offset : -1;
}

void TAbZipArchive::SetZipfileComment(const std::string& Value) {
    FInfo.SetZipfileComment(Value);
    FIsDirty = true;
}

std::unique_ptr<TAbArchiveItem> TAbZipArchive::CreateItem(const std::string& FileName) {
    auto Item = std::make_unique<TAbZipItem>();
    // Names are written in the ANSI code page (or UTF-8) and attributes as
    // DOS bits: the NTFS host says so to other tools, which would take the
    // names of an MS-DOS host for OEM text.
    Item->SetVersionMadeBy(static_cast<uint16_t>(Ab_HostNtfs << 8 | Ab_ZipVersionDeflate));
    Item->SetCompressionMethod(8);
    Item->SetGeneralPurposeBitFlag(0);
    Item->SetCompressedSize(0);
    Item->SetCRC32(0);
    std::string Disk = FileName;
    std::replace(Disk.begin(), Disk.end(), '\\', PathDelim);
    if (!Disk.empty() && Disk[0] != PathDelim && !FBaseDirectory.empty()) {
        Disk = IncludeTrailingPathDelimiter(FBaseDirectory) + Disk;
    }
    Item->SetDiskFileName(ExpandFileName(Disk));
    Item->SetFileName(NormalizeStoredName(FileName));
    Item->SetRelativeOffset(0);
    return Item;
}

std::string TAbZipArchive::NormalizeStoredName(const std::string& Value) {
    std::string Name = TAbArchive::NormalizeStoredName(Value);
    StripDrive(Name);
    ToForwardSlashes(Name);
    return Name;
}

void TAbZipArchive::ExtractItemToFile(int32_t Index, const std::string& TargetName) {
    if (!ExtractHelper) throw EAbZipNoExtraction();
    ExtractHelper(this, ZipItems(Index), TargetName);
}

void TAbZipArchive::ExtractItemToStream(int32_t Index, TStream* Stream) {
    if (!ExtractToStreamHelper) throw EAbZipNoExtraction();
    ExtractToStreamHelper(this, ZipItems(Index), Stream);
}

void TAbZipArchive::VerifyItem(int32_t Index) {
    if (!TestHelper) throw EAbZipNoExtraction();
    TestHelper(this, ZipItems(Index));
}

void TAbZipArchive::RequestLastDisk(bool& Abort) {
    Abort = false;
    if (OnRequestLastDisk)
        OnRequestLastDisk(this, Abort);
    else
        Abort = !AskForDisk("Insert the last disk in the spanned disk set");
}

void TAbZipArchive::RequestNthDisk(uint8_t DiskNumber, bool& Abort) {
    Abort = false;
    if (OnRequestNthDisk)
        OnRequestNthDisk(this, DiskNumber, Abort);
    else
        Abort = !AskForDisk(Format("Insert disk number %d of the spanned disk set", DiskNumber));
}

void TAbZipArchive::RequestBlankDisk(bool& Abort) {
    Abort = false;
    FSpanned = true;
    if (OnRequestBlankDisk)
        OnRequestBlankDisk(this, Abort);
    else
        Abort = !AskForDisk("Insert a blank floppy disk");
}

void TAbZipArchive::DoRequestImage(int32_t ImageNumber, std::string& ImageName, bool& Abort) {
    if (OnRequestImage) OnRequestImage(this, ImageNumber, ImageName, Abort);
}

void TAbZipArchive::AttachSpanReadStream(std::unique_ptr<TStream> LastImage, uint32_t LastDisk) {
    auto Span = std::make_unique<TAbSpanReadStream>(FArchiveName, std::move(LastImage), LastDisk);
    TAbSpanReadStream* Reader = Span.get();
    ReplaceStream(std::move(Span));
    Reader->SetOnRequestNthDisk(
        [this](TStream*, uint8_t Disk, bool& Abort) { RequestNthDisk(Disk, Abort); });
    Reader->SetOnRequestImage([this](TStream*, int32_t Image, std::string& Name, bool& Abort) {
        DoRequestImage(Image, Name, Abort);
    });
}

void TAbZipArchive::ReadArchive() {
    FEntryStarts.reset();
    FItemList->Clear();
    FIsDirty = false;
    if (FStream == nullptr || FStream->Size() == 0) return;
    const int64_t Tail = LocateEndRecord();
    ReadEndRecords(Tail);
    ReadDirectoryEntries(Tail);
}

int64_t TAbZipArchive::LocateEndRecord() {
    uint8_t Head[4] = {};
    FStream->Seek(0, soBeginning);
    const int64_t HeadLen = FStream->ReadUpTo(Head, 4);
    FIsExecutable = (HeadLen >= 2 && GetLE16(Head) == Ab_WindowsExeSignature) ||
                    (HeadLen >= 4 && GetLE32(Head) == Ab_LinuxExeSignature);

    int64_t Tail = FindEndOfCentralDirectory(FStream);
    if (Tail < 0 && HeadLen >= 4 && GetLE32(Head) == Ab_ZipSpannedSetSignature && FOwnsStream &&
        IsRemovableDrive(FArchiveName)) {
        Tail = ReadLastDisk(); // the first disk of a spanned set
    }
    if (Tail < 0) {
        FStatus = asInvalid;
        throw EAbZipInvalid();
    }
    return Tail;
}

int64_t TAbZipArchive::ReadLastDisk() {
    // Without a stream the archive cannot be used any more: it is invalid
    // until a disk was read.
    FStatus = asInvalid;
    int64_t Tail = -1;
    do {
        ReleaseOwnedStream();
        bool Abort = false;
        RequestLastDisk(Abort);
        if (Abort) throw EAbUserAbort();
        ReplaceStream(std::make_unique<TBufferedFileStream>(FArchiveName, FMode, 32768));
        Tail = FindEndOfCentralDirectory(FStream);
    } while (Tail < 0);
    FStatus = asIdle;
    return Tail;
}

namespace {

// The 32-bit signature at Position; 0 when there is none to read.
uint32_t SignatureAt(TStream* Stream, int64_t Position) {
    uint8_t Signature[4] = {};
    if (Position < 0 || Stream->Seek(Position, soBeginning) != Position ||
        Stream->ReadUpTo(Signature, 4) != 4)
        return 0;
    return GetLE32(Signature);
}

struct TZip64Locator {
    uint32_t Disk = 0;  // the disk that holds the Zip64 end record
    int64_t Offset = 0; // and its offset there
    uint32_t TotalDisks = 0;
};

// Values the end records may hold: no count, size or offset read as
// negative (a Zip64 value of 2^63 or more), and in an archive of one file a
// directory that starts before the end record.
void CheckEndRecordValues(const TAbZipDirectoryFileFooter& Info, bool Spanned, int64_t Tail) {
    if (Info.EntriesOnDisk() < 0 || Info.TotalEntries() < 0 || Info.DirectorySize() < 0 ||
        Info.DirectoryOffset() < 0 || (!Spanned && Info.DirectoryOffset() > Tail)) {
        throw EAbZipInvalid();
    }
}

// Values an entry may hold: no size or offset read as negative, and in an
// archive of one file a local header and data that start and end inside it.
// The uncompressed size has no bound of its own: it is enforced while the
// entry is decoded.
void CheckEntryValues(const TAbZipItem& Item, bool Spanned, int64_t ArchiveSize) {
    const int64_t Offset = Item.RelativeOffset();
    if (Item.UncompressedSize() < 0 || Item.CompressedSize() < 0 || Offset < 0)
        throw EAbZipInvalid();
    if (!Spanned && (Offset > ArchiveSize || Item.CompressedSize() > ArchiveSize - Offset))
        throw EAbZipInvalid();
}

TZip64Locator ParseZip64Locator(const uint8_t* Record) {
    return {GetLE32(Record + 4), static_cast<int64_t>(GetLE64(Record + 8)), GetLE32(Record + 16)};
}

// The Zip64 locator that belongs to the end record at EndPos: normally right
// before it, otherwise the nearest signature searched backwards.
TZip64Locator FindZip64Locator(TStream* Stream, int64_t EndPos) {
    constexpr int Size = Ab_Zip64EndCentralDirectoryLocatorSize;
    const int64_t Pos = EndPos - Size;
    if (Pos < 0) throw EAbZipInvalid();
    uint8_t Record[Size];
    Stream->Seek(Pos, soBeginning);
    Stream->ReadBuffer(Record, Size);
    if (GetLE32(Record) == Ab_Zip64EndCentralDirectoryLocatorSignature)
        return ParseZip64Locator(Record);

    // Scan a block of start positions [Lo, Hi] at a time.
    std::vector<uint8_t> Block(65536 + Size);
    for (int64_t Hi = Pos - 1; Hi >= 0;) {
        const int64_t Lo = std::max<int64_t>(0, Hi - 65535);
        Stream->Seek(Lo, soBeginning);
        Stream->ReadBuffer(Block.data(), Hi - Lo + Size);
        for (int64_t P = Hi; P >= Lo; --P) {
            const uint8_t* At = Block.data() + (P - Lo);
            if (GetLE32(At) == Ab_Zip64EndCentralDirectoryLocatorSignature)
                return ParseZip64Locator(At);
        }
        Hi = Lo - 1;
    }
    throw EAbZipInvalid();
}

} // namespace

void TAbZipArchive::ReadEndRecords(int64_t Tail) {
    FOffsetShift = 0;
    FStream->Seek(Tail, soBeginning);
    FInfo.LoadFromStream(FStream);
    const bool Zip64 = FInfo.IsZip64();
    TZip64Locator Locator;
    if (Zip64) {
        Locator = FindZip64Locator(FStream, Tail);
        FInfo.SetDiskNumber(Locator.TotalDisks - 1);
    }

    FSpanned = FInfo.DiskNumber() != 0;
    if (FSpanned) {
        if (!FOwnsStream) throw EAbZipBadSpanStream();
        AttachSpanReadStream(ReleaseOwnedStream(), FInfo.DiskNumber());
        auto* Reader = static_cast<TAbSpanReadStream*>(FStream);
        if (Zip64) {
            if (Locator.Offset < 0) throw EAbZipInvalid();
            Reader->SeekImage(Locator.Disk, Locator.Offset);
            FInfo.LoadZip64FromStream(FStream);
        }
        CheckEndRecordValues(FInfo, true, Tail);
        Reader->SeekImage(FInfo.StartDiskNumber(), FInfo.DirectoryOffset());
    } else {
        // The Zip64 end record normally lies right before its locator; with
        // shifted offsets the locator's offset is short by the shift.
        const int64_t Zip64End = Tail - Ab_Zip64EndCentralDirectoryLocatorSize;
        if (Zip64) {
            int64_t At = Locator.Offset;
            if (FFindsShiftedOffsets &&
                SignatureAt(FStream, At) != Ab_Zip64EndCentralDirectorySignature)
                At = Zip64End - Ab_Zip64EndCentralDirectorySize;
            if (At < 0 || At > Tail) throw EAbZipInvalid();
            FStream->Seek(At, soBeginning);
            FInfo.LoadZip64FromStream(FStream);
        }
        CheckEndRecordValues(FInfo, false, Tail);
        if (FFindsShiftedOffsets)
            FOffsetShift =
                FindOffsetShift(Zip64 ? Zip64End - Ab_Zip64EndCentralDirectorySize : Tail);
        FInfo.SetDirectoryOffset(FInfo.DirectoryOffset() + FOffsetShift);
        FStream->Seek(FInfo.DirectoryOffset(), soBeginning);
    }
}

int64_t TAbZipArchive::FindOffsetShift(int64_t DirectoryEnd) {
    if (FInfo.TotalEntries() == 0 ||
        SignatureAt(FStream, FInfo.DirectoryOffset()) == Ab_ZipCentralDirectoryFileHeaderSignature)
        return 0;
    const int64_t Start = DirectoryEnd - FInfo.DirectorySize();
    if (Start <= FInfo.DirectoryOffset() ||
        SignatureAt(FStream, Start) != Ab_ZipCentralDirectoryFileHeaderSignature)
        return 0; // not a shifted archive: reading fails as it would anyway
    return Start - FInfo.DirectoryOffset();
}

void TAbZipArchive::ReadDirectoryEntries(int64_t Tail) {
    FStubSize = 0xFFFFFFFF;
    const int64_t Total = FInfo.TotalEntries();
    // Never trust the count for the reservation: a directory entry takes at
    // least 46 bytes.
    const int64_t MostEntries =
        std::max<int64_t>(Tail / Ab_ZipCentralDirectoryFileHeaderSize, 1024);
    FItemList->Reserve(static_cast<size_t>(std::clamp<int64_t>(Total, 0, MostEntries)));
    const int64_t ArchiveSize = FSpanned ? 0 : FStream->Size();
    while (Count() < Total) {
        auto Item = std::make_unique<TAbZipItem>();
        Item->LoadFromStream(FStream);
        if (FOffsetShift != 0) Item->SetRelativeOffset(Item->RelativeOffset() + FOffsetShift);
        CheckEntryValues(*Item, FSpanned, ArchiveSize);
        Item->SetAction(aaNone);
        TAbZipItem* Added = Item.get();
        FItemList->Add(Item.release());
        if (FIsExecutable && Added->DiskNumberStart() == 0 && Added->RelativeOffset() < FStubSize) {
            FStubSize = static_cast<uint32_t>(Added->RelativeOffset());
        }
        bool Abort = false;
        ReportArchiveProgress(static_cast<uint8_t>(Count() * int64_t{100} / Total), Abort);
        if (Abort) {
            FStatus = asInvalid;
            throw EAbUserAbort();
        }
    }
    bool Abort = false;
    ReportArchiveProgress(100, Abort);
    FIsDirty = false;
}

void TAbZipArchive::CopyItem(TAbZipItem* Item, TStream* Out) {
    if (FStream == nullptr) throw EAbZipInvalid(); // nothing to copy from (a new split set)
    FStream->Seek(Item->RelativeOffset(), soBeginning);
    TAbZipLocalFileHeader Old;
    Old.LoadFromStream(FStream);

    // Normalise the sizes: 32-bit fields where they fit, Zip64 otherwise.
    Item->SetCompressedSize(Item->CompressedSize());
    Item->SetUncompressedSize(Item->UncompressedSize());
    Item->PrepareNameForWriting();

    TAbZipLocalFileHeader New;
    New.SetVersionNeededToExtract(Item->VersionNeededToExtract());
    New.SetGeneralPurposeBitFlag(Item->GeneralPurposeBitFlag());
    New.SetCompressionMethod(Item->ItemInfo().CompressionMethod());
    New.SetLastModFileTime(Item->LastModFileTime());
    New.SetLastModFileDate(Item->LastModFileDate());
    New.SetCRC32(Item->CRC32());
    bool NeedZip64 = Item->CompressedSize() >= 0xFFFFFFFF || Item->UncompressedSize() >= 0xFFFFFFFF;
    New.SetCompressedSize(NeedZip64 ? 0xFFFFFFFF : static_cast<uint32_t>(Item->CompressedSize()));
    New.SetUncompressedSize(NeedZip64 ? 0xFFFFFFFF
                                      : static_cast<uint32_t>(Item->UncompressedSize()));
    New.ExtraField().Assign(std::as_const(Old).ExtraField());
    New.ExtraField().CloneFrom(std::as_const(*Item).ExtraField(), Ab_InfoZipUnicodePathSubfieldID);
    if (NeedZip64) {
        // A local Zip64 subfield always carries both sizes.
        TLEWriter W;
        W.U64(static_cast<uint64_t>(Item->UncompressedSize()));
        W.U64(static_cast<uint64_t>(Item->CompressedSize()));
        New.ExtraField().Put(Ab_Zip64SubfieldID, W.Data().data(), 16);
        New.SetVersionNeededToExtract(std::max(New.VersionNeededToExtract(), Ab_ZipVersionZip64));
    } else if (New.ExtraField().Has(Ab_Zip64SubfieldID)) {
        New.ExtraField().Delete(Ab_Zip64SubfieldID);
    }
    Item->LFHExtraField().Assign(New.ExtraField());

    Item->SetDiskNumberStart(CurrentDisk(Out));
    Item->SetRelativeOffset(Out->Position());
    New.SaveToStream(Out, Item->ItemInfo().RawFileName());
    if (Item->CompressedSize() > 0) Out->CopyFrom(FStream, Item->CompressedSize(), 32768);
    if ((Item->GeneralPurposeBitFlag() & Ab_ZipFlagDataDescriptor) != 0) {
        TAbZipDataDescriptor(Item->CRC32(), Item->CompressedSize(), Item->UncompressedSize())
            .SaveToStream(Out);
    }
    if (std::as_const(*Item).ExtraField().Has(Ab_Zip64SubfieldID)) {
        Item->SetVersionNeededToExtract(
            std::max(Item->VersionNeededToExtract(), Ab_ZipVersionZip64));
    }
}

void TAbZipArchive::Reopen() {
    uint16_t Mode = (FMode & 0xFF00) == fmCreate
                        ? static_cast<uint16_t>(fmOpenReadWrite | fmShareDenyWrite)
                        : FMode;
    try {
        ReplaceStream(std::make_unique<TBufferedFileStream>(FArchiveName, Mode, 32768));
    } catch (...) {
        FStatus = asInvalid; // no stream any more
        throw;
    }
}

void TAbZipArchive::ReplaceArchiveContents(TStream* NewContents) {
    auto* OwnedFile = FOwnsStream ? dynamic_cast<TFileStream*>(FStream) : nullptr;
    if (OwnedFile == nullptr) {
        // A caller's stream: rewrite it in place.
        FStream->Seek(0, soBeginning);
        FStream->SetSize(0);
        NewContents->Seek(0, soBeginning);
        FStream->CopyFrom(NewContents, NewContents->Size());
        if (auto* Buffered = dynamic_cast<TBufferedFileStream*>(FStream)) Buffered->FlushBuffer();
        return;
    }
    // The archive's own file: write the new contents beside it and move them
    // over the old file only when complete, so a failure loses nothing.
    if ((FMode & 0xFF00) != fmCreate && (FMode & 0x0003) == fmOpenRead) throw EWriteError();
    try {
        TReplacingFile Temp(FArchiveName, rfaKeep, 32768);
        NewContents->Seek(0, soBeginning);
        Temp.CopyFrom(NewContents, NewContents->Size());
        ReleaseOwnedStream();
        Temp.Commit();
    } catch (...) {
        if (FStream == nullptr) Reopen();
        throw;
    }
    Reopen();
}

uint16_t VersionNeededFor(const TAbZipItem& Item) {
    if (Item.ExtraField().Has(Ab_Zip64SubfieldID)) return Ab_ZipVersionZip64;
    if (Item.IsDirectory() || Item.IsEncrypted() || Item.CompressionMethod() > 6)
        return Ab_ZipVersionDeflate;
    return Ab_ZipVersionStored;
}

void TAbZipArchive::WriteArchive() {
    if (Count() == 0) return;
    if (FSpanned) {
        for (TAbArchiveItem* Item : *FItemList) {
            if (Item->Action() != aaDelete) Item->SetAction(aaNone);
        }
        FIsDirty = false;
        throw EAbZipSpanOverwrite();
    }

    TAbSpanWriteStream* Span = nullptr;
    std::unique_ptr<TStream> Output = CreateOutput(Span);
    TStream* Out = Output.get();
    try {
        if (FIsExecutable && FStubSize != 0xFFFFFFFF && FStubSize > 0) {
            FStream->Seek(0, soBeginning);
            Out->CopyFrom(FStream, FStubSize);
        }
        WriteCentralDirectory(WriteItems(Out), Out);
        if (Span != nullptr)
            AdoptWrittenSet(Span, Output);
        else
            ReplaceArchiveContents(Out);
    } catch (...) {
        if (Span != nullptr && FStream == nullptr) {
            // The set is incomplete; keep whatever image is open as the stream.
            std::unique_ptr<TStream> Current = Span->ReleaseStream();
            Output.reset();
            if (Current)
                ReplaceStream(std::move(Current));
            else
                FStatus = asInvalid;
        }
        throw;
    }

    // The list now mirrors the written archive.
    FEntryStarts.reset();
    for (int32_t Index = Count() - 1; Index >= 0; --Index) {
        TAbArchiveAction Action = FItemList->Get(Index)->Action();
        if (Action == aaDelete || Action == aaFailed)
            FItemList->Delete(Index);
        else
            FItemList->Get(Index)->SetAction(aaNone);
    }
}

std::unique_ptr<TStream> TAbZipArchive::CreateOutput(TAbSpanWriteStream*& Span) {
    // A new archive on a removable drive, or with a spanning threshold, is
    // written as a spanned set straight to its images; anything else is built
    // in memory (swapping to a file when large) and then replaces the archive.
    const bool UseSpan = FOwnsStream && FStream != nullptr && FStream->Size() == 0 &&
                         !FIsExecutable &&
                         (SpanningThreshold() > 0 || IsRemovableDrive(FArchiveName));
    if (UseSpan) {
        auto Writer = std::make_unique<TAbSpanWriteStream>(FArchiveName, SpanningThreshold(),
                                                           ReleaseOwnedStream());
        Writer->SetOnRequestImage([this](TStream*, int32_t Image, std::string& Name, bool& Abort) {
            DoRequestImage(Image, Name, Abort);
        });
        Writer->SetOnRequestBlankDisk([this](TStream*, bool& Abort) { RequestBlankDisk(Abort); });
        Span = Writer.get();
        return Writer;
    }
    auto Memory = std::make_unique<TAbVirtualMemoryStream>();
    Memory->SetSwapFileDirectory(FTempDir);
    return Memory;
}

std::vector<TAbZipItem*> TAbZipArchive::WriteItems(TStream* Out) {
    std::vector<TAbZipItem*> Kept;
    const int32_t Total = Count();
    for (int32_t Index = 0; Index < Total; ++Index) {
        TAbZipItem* Item = ZipItems(Index);
        switch (Item->Action()) {
        case aaDelete:
        case aaFailed: break;
        case aaNone:
        case aaMove:
            CopyItem(Item, Out);
            Kept.push_back(Item);
            break;
        case aaAdd:
        case aaFreshen:
        case aaReplace:
        case aaStreamAdd:
            InsertItem(Item, Out);
            Kept.push_back(Item);
            break;
        }
        bool Abort = false;
        ReportSaveProgress(static_cast<uint8_t>(Percentage(Total, Index + 1)), Abort);
        if (Abort) throw EAbUserAbort();
    }
    return Kept;
}

void TAbZipArchive::InsertItem(TAbZipItem* Item, TStream* Out) {
    const bool FromStream = Item->Action() == aaStreamAdd;
    if (FromStream ? !InsertFromStreamHelper : !InsertHelper) throw EAbZipNoInsertion();
    Item->PrepareNameForWriting();
    Item->SetDiskNumberStart(CurrentDisk(Out));
    Item->SetRelativeOffset(Out->Position());
    if (FromStream)
        InsertFromStreamHelper(this, Item, Out, FInStream);
    else
        InsertHelper(this, Item, Out);
    const uint16_t Needed = VersionNeededFor(*Item);
    Item->SetVersionNeededToExtract(Needed);
    Item->SetVersionMadeBy(static_cast<uint16_t>((Item->VersionMadeBy() & 0xFF00) |
                                                 std::max(Ab_ZipVersionDeflate, Needed)));
}

void TAbZipArchive::WriteCentralDirectory(const std::vector<TAbZipItem*>& Kept, TStream* Out) {
    int64_t DirectoryOffset = Out->Position();
    uint32_t DirectoryDisk = CurrentDisk(Out);
    int64_t DirectorySize = 0;
    int64_t EntriesOnDisk = 0;
    bool First = true;
    for (TAbZipItem* Item : Kept) {
        const uint32_t DiskBefore = CurrentDisk(Out);
        const int64_t Written = Item->ItemInfo().SaveToStream(Out);
        const uint32_t Disk = CurrentDisk(Out);
        if (First) {
            // The first entry may have moved to a new image of a spanned set.
            DirectoryDisk = Disk;
            DirectoryOffset = Out->Position() - Written;
            First = false;
        }
        if (Disk != DiskBefore) EntriesOnDisk = 0;
        ++EntriesOnDisk;
        DirectorySize += Written;
    }
    FInfo.SetDiskNumber(CurrentDisk(Out));
    FInfo.SetStartDiskNumber(DirectoryDisk);
    FInfo.SetEntriesOnDisk(EntriesOnDisk);
    FInfo.SetTotalEntries(static_cast<int64_t>(Kept.size()));
    FInfo.SetDirectorySize(DirectorySize);
    FInfo.SetDirectoryOffset(DirectoryOffset);
    FInfo.SaveToStream(Out);
}

void TAbZipArchive::AdoptWrittenSet(TAbSpanWriteStream* Span, std::unique_ptr<TStream>& Output) {
    const uint32_t LastDisk = Span->CurrentImage();
    std::unique_ptr<TStream> LastImage = Span->ReleaseStream();
    if (auto* Buffered = dynamic_cast<TBufferedFileStream*>(LastImage.get()))
        Buffered->FlushBuffer();
    Output.reset();
    if (LastDisk == 0) {
        ReplaceStream(std::move(LastImage));
    } else {
        FSpanned = true;
        AttachSpanReadStream(std::move(LastImage), LastDisk);
    }
}

} // namespace kivo
