#include "archive/AbArcTyp.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "archive/AbByteOrder.h"
#include "archive/AbDfBase.h"
#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "runtime/Application.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

bool IsSeparator(char C) {
    return C == '/' || C == '\\';
}

// Characters that no path may hold: control characters, '"', '<', '>', '|'.
bool HasInvalidPathChars(std::string_view Path) {
    for (char C : Path) {
        auto U = static_cast<unsigned char>(C);
        if (U < 0x20 || C == '"' || C == '<' || C == '>' || C == '|') return true;
    }
    return false;
}

// The part of Path below Base when Path names a folder there by its name,
// through components that are neither empty, "." nor "..". An empty Base is
// the current directory.
bool RelativeBelow(const std::string& Base, const std::string& Path, std::string& Relative) {
    if (Base.empty()) {
        if (IsAbsolutePath(Path)) return false;
        Relative = Path;
    } else if (Path == Base) {
        Relative.clear();
    } else {
        const std::string Prefix = IncludeTrailingPathDelimiter(Base);
        if (Path.compare(0, Prefix.size(), Prefix) != 0) return false;
        Relative = Path.substr(Prefix.size());
    }
    size_t Start = 0;
    while (Start < Relative.size()) {
        size_t End = Relative.find(PathDelim, Start);
        if (End == std::string::npos) End = Relative.size();
        const std::string_view Part = std::string_view(Relative).substr(Start, End - Start);
        if (Part.empty() || Part == "." || Part == "..") return false;
        Start = End + 1;
    }
    return Relative.empty() || Relative.back() != PathDelim;
}

// Gives a slot of the archive a value for the length of one step.
template <typename T> class TScopedSlot {
public:
    TScopedSlot(T& Slot, T Value) : FSlot(Slot) { FSlot = std::move(Value); }
    ~TScopedSlot() { FSlot = T(); }
    TScopedSlot(const TScopedSlot&) = delete;
    TScopedSlot& operator=(const TScopedSlot&) = delete;

private:
    T& FSlot;
};

// While the outermost of these lives, the archive keeps the folder it
// reached last; at its end AtEnd runs (whatever ended the extraction) and
// the folder is let go, so a later call never writes into a folder that was
// renamed or removed in between.
class TFolderKeeping {
public:
    TFolderKeeping(bool& Keeping, TFolderHandle& Kept, std::function<void()> AtEnd)
        : FKeeping(Keeping), FKept(Kept), FOutermost(!Keeping), FAtEnd(std::move(AtEnd)) {
        FKeeping = true;
    }
    ~TFolderKeeping() {
        if (!FOutermost) return;
        try {
            FAtEnd();
        } catch (...) { // the extraction's own outcome stands
        }
        FKeeping = false;
        FKept = TFolderHandle();
    }
    TFolderKeeping(const TFolderKeeping&) = delete;
    TFolderKeeping& operator=(const TFolderKeeping&) = delete;

private:
    bool& FKeeping;
    TFolderHandle& FKept;
    bool FOutermost;
    std::function<void()> FAtEnd;
};

const char* LogKind(TAbProcessType ProcessType) {
    switch (ProcessType) {
    case ptAdd: return " added ";
    case ptDelete: return " deleted ";
    case ptExtract: return " extracted ";
    case ptFreshen: return " freshened ";
    case ptMove: return " moved ";
    case ptReplace: return " replaced ";
    case ptFoundUnhandled: return "Unhandled Entity";
    }
    return "";
}

} // namespace

// ---------------------------------------------------------------------------
// TAbSharedString

TAbSharedString::TAbSharedString(std::string_view Value) {
    if (Value.empty()) return;
    if (Value.size() > UINT32_MAX - sizeof(TRep)) throw std::length_error("TAbSharedString");
    FRep = static_cast<TRep*>(::operator new(sizeof(TRep) + Value.size()));
    FRep->Refs = 1;
    FRep->Length = static_cast<uint32_t>(Value.size());
    std::memcpy(FRep + 1, Value.data(), Value.size());
}

TAbSharedString::TAbSharedString(const TAbSharedString& Other) noexcept : FRep(Other.FRep) {
    if (FRep != nullptr) ++FRep->Refs;
}

TAbSharedString& TAbSharedString::operator=(const TAbSharedString& Other) noexcept {
    TRep* Rep = Other.FRep; // Other may be this very object
    if (Rep != nullptr) ++Rep->Refs;
    Release();
    FRep = Rep;
    return *this;
}

TAbSharedString& TAbSharedString::operator=(TAbSharedString&& Other) noexcept {
    if (this != &Other) {
        Release();
        FRep = Other.FRep;
        Other.FRep = nullptr;
    }
    return *this;
}

void TAbSharedString::Release() noexcept {
    if (FRep != nullptr && --FRep->Refs == 0) ::operator delete(FRep);
    FRep = nullptr;
}

// ---------------------------------------------------------------------------
// TAbArchiveItem

TAbArchiveItem::TStoredValues& TAbArchiveItem::Values() {
    if (!FValues) FValues = std::make_unique<TStoredValues>();
    return *FValues;
}

std::string_view TAbArchiveItem::DiskFileNameView() const {
    return FValues && FValues->HasDiskFileName ? FValues->DiskFileName.View() : FFileName.View();
}

void TAbArchiveItem::SetDiskFileName(const TAbSharedString& Value) {
    if (Value.View() == FFileName.View()) {
        if (FValues) {
            FValues->HasDiskFileName = false;
            FValues->DiskFileName = TAbSharedString();
        }
        return;
    }
    TStoredValues& Stored = Values();
    Stored.DiskFileName = Value;
    Stored.HasDiskFileName = true;
}

void TAbArchiveItem::SetFileName(const std::string& Value) {
    if (Value == FFileName.View()) return;
    TStoredValues& Stored = Values();
    if (!Stored.HasDiskFileName) {
        // The disk name followed the old FileName: it keeps that value.
        Stored.DiskFileName = FFileName;
        Stored.HasDiskFileName = true;
    }
    FFileName = Value;
    if (Stored.DiskFileName.View() == FFileName.View()) SetDiskFileName(FFileName); // equal again
}

std::string TAbArchiveItem::DiskPath() const {
    std::string_view Name = DiskFileNameView();
    size_t Pos = Name.find_last_of("/\\");
    return Pos == std::string_view::npos ? std::string() : std::string(Name.substr(0, Pos + 1));
}

TDateTime TAbArchiveItem::LastModTimeAsDateTime() const {
    return DosToDateTime(LastModFileDate(), LastModFileTime());
}

void TAbArchiveItem::SetLastModTimeAsDateTime(TDateTime Value) {
    uint32_t Dos = DateTimeToDos(Value);
    SetLastModFileTime(static_cast<uint16_t>(Dos & 0xFFFF));
    SetLastModFileDate(static_cast<uint16_t>(Dos >> 16));
}

bool TAbArchiveItem::MatchesDiskName(std::string_view FileMask) const {
    std::string Name = DiskFileName();
    std::string Mask(FileMask);
    ToBackslashes(Name);
    ToBackslashes(Mask);
    return NameMatchesMask(Name, Mask);
}

bool TAbArchiveItem::MatchesStoredName(std::string_view FileMask) const {
    std::string Mask(FileMask);
    ToBackslashes(Mask);
    StripDrive(Mask);
    std::string Name = FileName();
    ToBackslashes(Name);
    if (IsDirectory() && !Name.empty() && Name.back() == '\\') Name.pop_back();
    return NameMatchesMask(Name, Mask);
}

bool TAbArchiveItem::MatchesStoredNameEx(std::string_view FileMask) const {
    size_t Start = 0;
    while (Start <= FileMask.size() && !FileMask.empty()) {
        size_t End = FileMask.find(';', Start);
        if (End == std::string_view::npos) End = FileMask.size();
        if (MatchesStoredName(Trim(FileMask.substr(Start, End - Start)))) return true;
        Start = End + 1;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Name hash and TAbArchiveList

namespace {

// The upper-case of the ASCII letters among eight ASCII bytes: a byte's top
// bit says whether it is at least 'a', and whether it is above 'z' (no byte
// carries into the next, as every byte is below 0x80).
uint64_t AsciiUpper8(uint64_t W) {
    constexpr uint64_t Ones = 0x0101010101010101ull;
    const uint64_t AtLeastA = W + Ones * (0x80 - 'a');
    const uint64_t AboveZ = W + Ones * (0x80 - 'z' - 1);
    return W ^ ((AtLeastA & ~AboveZ & Ones * 0x80) >> 2);
}

// Every letter upper-cased (names differing only in case share a bucket),
// as UTF-16 units.
uint32_t UnicodeNameHash(std::string_view Name) {
    uint32_t H = 0;
    for (char16_t C : Utf8ToUtf16(AnsiUpperCase(Name))) {
        H = (H << 4) + C;
        uint32_t G = H & 0xF0000000u;
        if (G != 0) H ^= G >> 24;
        H &= ~G;
    }
    return H;
}

} // namespace

// Names are hashed eight bytes at a time while they are ASCII (nearly
// always: this runs for every item an archive lists); a name with another
// byte is hashed again by its Unicode upper case.
uint32_t NameHash(std::string_view Name) {
    constexpr uint64_t High = 0x8080808080808080ull;
    const auto* P = reinterpret_cast<const uint8_t*>(Name.data());
    uint64_t H = Name.size();
    for (size_t I = 0; I < Name.size(); I += 8) {
        uint64_t W;
        if (Name.size() - I >= 8) {
            W = GetLE64(P + I);
        } else { // the last bytes, padded with zeros
            uint8_t Tail[8] = {};
            std::memcpy(Tail, P + I, Name.size() - I);
            W = GetLE64(Tail);
        }
        if (W & High) return UnicodeNameHash(Name);
        H = (H ^ AsciiUpper8(W)) * 0x9E3779B97F4A7C15ull;
        H ^= H >> 29;
    }
    return static_cast<uint32_t>(H ^ (H >> 32));
}

TAbArchiveItem* TAbArchiveListEnumerator::Current() const {
    return FList->Get(FIndex);
}

bool TAbArchiveListEnumerator::MoveNext() {
    if (FIndex + 1 >= FList->Count()) return false;
    ++FIndex;
    return true;
}

TAbArchiveList::~TAbArchiveList() {
    Clear();
}

void TAbArchiveList::FreeItem(TAbArchiveItem* Item) const {
    if (FOwnsItems) delete Item;
}

void TAbArchiveList::Link(TAbArchiveItem* Item) {
    uint32_t Bucket = NameHash(Item->FileName()) % AbHashBuckets;
    Item->NextItem = FHashTable[Bucket];
    FHashTable[Bucket] = Item;
}

void TAbArchiveList::Unlink(TAbArchiveItem* Item, std::string_view Name) {
    auto RemoveFrom = [Item](TAbArchiveItem*& Head) {
        for (TAbArchiveItem** P = &Head; *P != nullptr; P = &(*P)->NextItem) {
            if (*P == Item) {
                *P = Item->NextItem;
                Item->NextItem = nullptr;
                return true;
            }
        }
        return false;
    };
    if (RemoveFrom(FHashTable[NameHash(Name) % AbHashBuckets])) return;
    // Renamed without ReLink: look everywhere, so no bucket keeps a stale link.
    for (TAbArchiveItem*& Head : FHashTable) {
        if (RemoveFrom(Head)) return;
    }
}

int32_t TAbArchiveList::IndexOfItem(const TAbArchiveItem* Item) const {
    if (FList.size() <= 64) {
        auto It = std::find(FList.begin(), FList.end(), Item);
        return It == FList.end() ? -1 : static_cast<int32_t>(It - FList.begin());
    }
    if (!FIndexValid) {
        FIndexOf.clear();
        FIndexOf.reserve(FList.size());
        for (size_t I = 0; I < FList.size(); ++I)
            FIndexOf[FList[I]] = static_cast<int32_t>(I);
        FIndexValid = true;
    }
    auto It = FIndexOf.find(Item);
    return It == FIndexOf.end() ? -1 : It->second;
}

int32_t TAbArchiveList::Add(TAbArchiveItem* Item) {
    KIVO_ASSERT(Item != nullptr, "TAbArchiveList.Add: nil item");
    try {
        FList.push_back(Item);
        if (FIndexValid) FIndexOf[Item] = Count() - 1;
    } catch (...) {
        if (!FList.empty() && FList.back() == Item) FList.pop_back();
        FIndexValid = false;
        FreeItem(Item);
        throw;
    }
    if (FOwnsItems) {
        try {
            Link(Item);
        } catch (...) {
            FList.pop_back();
            FIndexValid = false;
            FreeItem(Item);
            throw;
        }
    }
    return Count() - 1;
}

void TAbArchiveList::Clear() {
    if (FOwnsItems) {
        for (TAbArchiveItem* Item : FList)
            delete Item;
    }
    FList.clear();
    FHashTable.fill(nullptr);
    FIndexOf.clear();
    FIndexValid = false;
}

TAbArchiveItem* TAbArchiveList::Get(int32_t Index) const {
    if (Index < 0 || Index >= Count()) throw EListError(Index);
    return FList[static_cast<size_t>(Index)];
}

void TAbArchiveList::Delete(int32_t Index) {
    TAbArchiveItem* Item = Get(Index);
    if (FOwnsItems) Unlink(Item, Item->FileName());
    FList.erase(FList.begin() + Index);
    FIndexOf.clear();
    FIndexValid = false;
    FreeItem(Item);
}

void TAbArchiveList::Put(int32_t Index, TAbArchiveItem* Item) {
    TAbArchiveItem* Old = Get(Index);
    if (Old == Item) return;
    if (FOwnsItems) {
        Unlink(Old, Old->FileName());
        FreeItem(Old);
    }
    FList[static_cast<size_t>(Index)] = Item;
    if (FIndexValid) {
        FIndexOf.erase(Old);
        FIndexOf[Item] = Index;
    }
    if (FOwnsItems) Link(Item);
}

void TAbArchiveList::ReLink(TAbArchiveItem* Item, std::string_view OldName) {
    if (!FOwnsItems) return;
    Unlink(Item, OldName);
    Link(Item);
}

int32_t TAbArchiveList::Find(std::string_view FileName) const {
    if (!FOwnsItems) {
        for (size_t I = 0; I < FList.size(); ++I) {
            if (SameTextAscii(FList[I]->FileName(), FileName)) return static_cast<int32_t>(I);
        }
        return -1;
    }
    for (TAbArchiveItem* P = FHashTable[NameHash(FileName) % AbHashBuckets]; P != nullptr;
         P = P->NextItem) {
        if (SameTextAscii(P->FileName(), FileName)) return IndexOfItem(P);
    }
    return -1;
}

bool TAbArchiveList::IsActiveDupe(std::string_view FileName) const {
    if (!FOwnsItems) {
        return std::any_of(FList.begin(), FList.end(), [FileName](TAbArchiveItem* Item) {
            return Item->Action() != aaDelete && SameTextAscii(Item->FileName(), FileName);
        });
    }
    for (TAbArchiveItem* P = FHashTable[NameHash(FileName) % AbHashBuckets]; P != nullptr;
         P = P->NextItem) {
        if (P->Action() != aaDelete && SameTextAscii(P->FileName(), FileName)) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// TAbExtraField

void TAbExtraField::LoadFromStream(TStream* Stream, int64_t Size) {
    FData.reset();
    FSize = 0;
    if (Size > 0) {
        if (Size > UINT32_MAX) throw EReadError();
        std::unique_ptr<uint8_t[]> Data(new uint8_t[static_cast<size_t>(Size)]);
        Stream->ReadBuffer(Data.get(), Size);
        FData = std::move(Data);
        FSize = static_cast<uint32_t>(Size);
    }
    Changed();
}

int64_t TAbExtraField::Find(uint16_t ID) const {
    uint32_t Pos = 0;
    while (FSize - Pos >= 4) {
        uint8_t* P = FData.get() + Pos;
        uint32_t Remain = FSize - Pos - 4;
        uint16_t Len = GetLE16(P + 2);
        if (Len > Remain) {
            Len = static_cast<uint16_t>(Remain);
            PutLE16(P + 2, Len);
        }
        if (GetLE16(P) == ID) return Pos;
        Pos += 4 + Len;
    }
    return -1;
}

bool TAbExtraField::Has(uint16_t ID) const {
    return Find(ID) >= 0;
}

bool TAbExtraField::Get(uint16_t ID, const uint8_t*& Data, uint16_t& DataSize) const {
    int64_t Pos = Find(ID);
    if (Pos < 0) {
        Data = nullptr;
        DataSize = 0;
        return false;
    }
    Data = FData.get() + Pos + 4;
    DataSize = GetLE16(FData.get() + Pos + 2);
    return true;
}

bool TAbExtraField::GetStream(uint16_t ID, std::unique_ptr<TMemoryStream>& Stream) const {
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    Stream.reset();
    if (!Get(ID, Data, Size)) return false;
    Stream = std::make_unique<TMemoryStream>();
    Stream->WriteBuffer(Data, Size);
    Stream->SetPosition(0);
    return true;
}

void TAbExtraField::DeleteAt(uint32_t Offset) {
    uint32_t Len = 4u + GetLE16(FData.get() + Offset + 2);
    std::memmove(FData.get() + Offset, FData.get() + Offset + Len, FSize - Offset - Len);
    FSize -= Len;
    if (FSize == 0) FData.reset();
}

void TAbExtraField::Put(uint16_t ID, const void* Data, uint16_t Size) {
    int64_t Pos = Find(ID);
    if (Pos >= 0 && GetLE16(FData.get() + Pos + 2) == Size) {
        if (Size > 0) std::memmove(FData.get() + Pos + 4, Data, Size);
        Changed();
        return;
    }
    // Build the new buffer first: Data may point into the old one.
    uint32_t Keep = FSize;
    uint32_t OldLen = 0;
    if (Pos >= 0) {
        OldLen = 4u + GetLE16(FData.get() + Pos + 2);
        Keep -= OldLen;
    }
    if (Keep + 4u + Size > 0xFFFF) throw EAbException("Extra field too large");
    std::unique_ptr<uint8_t[]> NewData(new uint8_t[Keep + 4u + Size]);
    uint8_t* Out = NewData.get();
    if (Pos >= 0) {
        std::memcpy(Out, FData.get(), static_cast<size_t>(Pos));
        std::memcpy(Out + Pos, FData.get() + Pos + OldLen,
                    FSize - static_cast<uint32_t>(Pos) - OldLen);
    } else if (FSize > 0) {
        std::memcpy(Out, FData.get(), FSize);
    }
    PutLE16(Out + Keep, ID);
    PutLE16(Out + Keep + 2, Size);
    if (Size > 0) std::memcpy(Out + Keep + 4, Data, Size);
    FData = std::move(NewData);
    FSize = Keep + 4u + Size;
    Changed();
}

void TAbExtraField::Delete(uint16_t ID) {
    int64_t Pos = Find(ID);
    if (Pos >= 0) DeleteAt(static_cast<uint32_t>(Pos));
    Changed();
}

void TAbExtraField::Clear() {
    FData.reset();
    FSize = 0;
    Changed();
}

int32_t TAbExtraField::Count() const {
    int32_t Result = 0;
    uint32_t Pos = 0;
    while (FSize - Pos >= 4) {
        Find(0xFFFF); // clamps the truncated last subfield, if any
        Pos += 4u + GetLE16(FData.get() + Pos + 2);
        ++Result;
    }
    return Result;
}

uint16_t TAbExtraField::GetID(int32_t Index) const {
    Find(0xFFFF); // clamp first, so the walk below stays inside
    uint32_t Pos = 0;
    int32_t I = 0;
    while (Index >= 0 && FSize - Pos >= 4) {
        if (I == Index) return GetLE16(FData.get() + Pos);
        Pos += 4u + GetLE16(FData.get() + Pos + 2);
        ++I;
    }
    throw EListError(Index);
}

void TAbExtraField::SetBuffer(const void* Data, uint32_t Size) {
    std::unique_ptr<uint8_t[]> NewData;
    if (Size > 0) {
        NewData.reset(new uint8_t[Size]);
        std::memcpy(NewData.get(), Data, Size);
    }
    FData = std::move(NewData);
    FSize = Size;
    Changed();
}

void TAbExtraField::Assign(const TAbExtraField& Source) {
    if (&Source == this) return;
    SetBuffer(Source.FData.get(), Source.FSize);
}

void TAbExtraField::CloneFrom(const TAbExtraField& Source, uint16_t ID) {
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    if (Source.Get(ID, Data, Size)) {
        std::vector<uint8_t> Copy(Data, Data + Size);
        Put(ID, Copy.data(), Size);
    } else {
        Delete(ID);
    }
}

// ---------------------------------------------------------------------------
// TAbArchiveStreamHelper

TAbArchiveStreamHelper::TAbArchiveStreamHelper(TStream* AStream) : FStream(AStream) {
    if (AStream == nullptr) throw Exception("nil stream");
}

// ---------------------------------------------------------------------------
// Joining stored names

bool AbJoinStoredName(const std::string& Base, std::string_view StoredName, bool KeepPath,
                      std::string& Target) {
    Target.clear();
    if (!KeepPath) {
        size_t Pos = StoredName.find_last_of("/\\");
        if (Pos != std::string_view::npos) StoredName.remove_prefix(Pos + 1);
    } else if (!StoredName.empty() && IsSeparator(StoredName[0])) {
        return false; // a root or a UNC prefix
    }
    auto IsLetter = [](char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); };
    if (StoredName.size() >= 2 && IsLetter(StoredName[0]) && StoredName[1] == ':')
        return false; // a drive
    std::vector<std::string_view> Parts;
    size_t Start = 0;
    while (Start <= StoredName.size()) {
        size_t End = Start;
        while (End < StoredName.size() && !IsSeparator(StoredName[End]))
            ++End;
        Parts.push_back(StoredName.substr(Start, End - Start));
        Start = End + 1;
    }
    std::vector<std::string_view> Out;
    for (std::string_view Part : Parts) {
        if (Part.empty() || Part == ".") continue;
        if (Part == "..") {
            if (Out.empty()) return false; // would climb above the base
            Out.pop_back();
            continue;
        }
        Out.push_back(Part);
    }
    std::string Joined;
    for (std::string_view Part : Out) {
        if (!Joined.empty()) Joined += PathDelim;
        Joined += Part;
    }
    Target = Joined.empty() ? Base : JoinPath(Base, Joined);
    return true;
}

// ---------------------------------------------------------------------------
// TAbArchive: construction

TAbArchive::TAbArchive(const std::string& FileName, uint16_t Mode)
    : TAbArchive(std::make_unique<TBufferedFileStream>(FileName, Mode, 32768), FileName, Mode) {}

TAbArchive::TAbArchive(std::unique_ptr<TStream> OwnedStream, const std::string& FileName,
                       uint16_t Mode)
    : TAbArchive(OwnedStream.get(), FileName) {
    FOwnedStream = std::move(OwnedStream);
    FOwnsStream = true;
    FMode = Mode;
}

TAbArchive::TAbArchive(TStream* aStream, const std::string& aArchiveName)
    : FStream(aStream), FArchiveName(aArchiveName),
      FBaseDirectory(ExtractFileDir(ExecutablePath())),
      FItemList(std::make_shared<TAbArchiveList>(true)) {
    OnProgress = [this](uint8_t Progress, bool& Abort) { ReportProgress(Progress, Abort); };
}

TAbArchive::~TAbArchive() {
    FItemList.reset();
    FOwnedStream.reset();
    FLogStream.reset();
}

void TAbArchive::RequireOpen() const {
    if (FStatus == asInvalid) throw EAbNoArchive();
}

void TAbArchive::ReplaceStream(std::unique_ptr<TStream> NewStream) {
    FStream = NewStream.get();
    FOwnedStream = std::move(NewStream);
    FOwnsStream = FStream != nullptr;
}

std::unique_ptr<TStream> TAbArchive::ReleaseOwnedStream() {
    if (!FOwnsStream) return nullptr;
    FOwnsStream = false;
    FStream = nullptr;
    return std::move(FOwnedStream);
}

// ---------------------------------------------------------------------------
// Properties

void TAbArchive::SetBaseDirectory(const std::string& Value) {
    std::string Dir = Value;
    if (Dir.size() > 1 && IsSeparator(Dir.back()) && Dir[Dir.size() - 2] != ':') Dir.pop_back();
    if (!Dir.empty() && !DirectoryExists(Dir)) throw EAbNoSuchDirectory();
    FBaseDirectory = Dir;
}

void TAbArchive::SetLogging(bool Value) {
    FLogStream.reset();
    FLogging = Value;
    if (!FLogging || FLogFile.empty()) return;
    try {
        FLogStream = std::make_unique<TBufferedFileStream>(FLogFile, fmCreate, 32768);
        WriteLogLine(FArchiveName, " logging ");
    } catch (...) {
        FLogStream.reset();
        FLogging = false;
        throw EAbException("Error creating Log File");
    }
}

void TAbArchive::WriteLogLine(const std::string& Text, const std::string& Kind) {
    if (!FLogStream) return;
    std::u16string Line = Utf8ToUtf16(Text + Kind + FormatDateTimeIso(Now()) + "\r\n");
    std::string Bytes;
    Bytes.reserve(Line.size() * 2);
    for (char16_t C : Line) {
        Bytes += static_cast<char>(C & 0xFF);
        Bytes += static_cast<char>(C >> 8);
    }
    FLogStream->WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
}

// ---------------------------------------------------------------------------
// Reports and questions

void TAbArchive::ReportItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                   TAbErrorClass ErrorClass, int32_t ErrorCode) {
    if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbArchive::ReportSaveProgress(uint8_t Progress, bool& Abort) {
    Abort = false;
    if (OnArchiveSaveProgress) OnArchiveSaveProgress(this, Progress, Abort);
}

void TAbArchive::ReportArchiveProgress(uint8_t Progress, bool& Abort) {
    Abort = false;
    if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbArchive::ReportItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
    Abort = false;
    if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbArchive::AskOverwrite(std::string& Name, bool& Confirm) {
    Confirm = true;
    if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

void TAbArchive::AskProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm) {
    Confirm = true;
    if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
    if (Confirm && FLogging && Item != nullptr)
        WriteLogLine(Item->FileName(), LogKind(ProcessType));
}

void TAbArchive::AskSave(bool& Confirm) {
    Confirm = true;
    if (OnConfirmSave) OnConfirmSave(this, Confirm);
}

void TAbArchive::NotifyLoaded() {
    if (OnLoad) OnLoad(this);
}

void TAbArchive::ReportProgress(uint8_t Progress, bool& Abort) {
    Abort = false;
    ReportItemProgress(FCurrentItem, Progress, Abort);
}

void TAbArchive::NotifySaved() {
    if (OnSave) OnSave(this);
}

void TAbArchive::DoDeflateProgress(uint8_t aPercentDone) {
    bool Abort = false;
    ReportProgress(aPercentDone, Abort);
    if (Abort) throw EAbAbortProgress("Process aborted by user");
}

void TAbArchive::DoInflateProgress(uint8_t aPercentDone) {
    DoDeflateProgress(aPercentDone);
}

void TAbArchive::DoSpanningMediaRequest(TStream*, int32_t, std::string&, bool&) {
    throw EAbSpanningNotSupported();
}

// ---------------------------------------------------------------------------
// Lifecycle

void TAbArchive::Load() {
    try {
        ReadArchive();
        FStatus = asIdle;
    } catch (...) {
        NotifyLoaded();
        throw;
    }
    NotifyLoaded();
}

void TAbArchive::Save() {
    if (FStatus == asInvalid) return;
    if (!FIsDirty && Count() > 0) return;
    bool Confirm = true;
    AskSave(Confirm);
    if (!Confirm) return;
    WriteArchive();
    FIsDirty = false;
    NotifySaved();
}

// ---------------------------------------------------------------------------
// Extraction

void TAbArchive::ExtractLoop(const TItemSelector& Selected) {
    RequireOpen();
    if (Count() < 1) return;
    // The folder reached last serves the next items of this loop.
    TFolderKeeping Keeping(FKeepFolders, FLastFolder, [this] { RestoreFolderModes(); });
    const int32_t Total = Count();
    for (int32_t Index = 0; Index < Total; ++Index) {
        if (Selected(FItemList->Get(Index))) ExtractAt(Index, "");
        bool Abort = false;
        ReportArchiveProgress(static_cast<uint8_t>(Percentage(Count(), Index + 1)), Abort);
        if (Abort) throw EAbUserAbort();
    }
    bool Abort = false;
    ReportArchiveProgress(100, Abort);
}

TAbArchive::TItemSelector TAbArchive::MaskSelector(const std::string& FileMask,
                                                   const std::string& ExclusionMask) {
    return [FileMask, ExclusionMask](TAbArchiveItem* Item) {
        return Item->MatchesStoredNameEx(FileMask) && !Item->MatchesStoredNameEx(ExclusionMask);
    };
}

TAbArchive::TItemSelector TAbArchive::TaggedSelector() {
    return [](TAbArchiveItem* Item) { return Item->Tagged(); };
}

void TAbArchive::ForSelectedBackwards(const TItemSelector& Selected,
                                      const std::function<void(int32_t)>& Action) {
    RequireOpen();
    // Last to first: an action that drops its item leaves the indexes still to visit in place.
    for (int32_t Index = Count() - 1; Index >= 0; --Index) {
        if (Selected(FItemList->Get(Index))) Action(Index);
    }
}

void TAbArchive::ExtractFilesEx(const std::string& FileMask, const std::string& ExclusionMask) {
    ExtractLoop([this, Matches = MaskSelector(FileMask, ExclusionMask)](TAbArchiveItem* Item) {
        return Matches(Item) && (FExtractOptions.Contains(eoCreateDirs) || !Item->IsDirectory());
    });
}

void TAbArchive::ExtractTaggedItems() {
    ExtractLoop(TaggedSelector());
}

void TAbArchive::ExtractReportingFailure(TAbArchiveItem* Item, const std::function<void()>& Step) {
    try {
        TScopedSlot<TAbArchiveItem*> Current(FCurrentItem, Item);
        Step();
    } catch (...) {
        TAbErrorClass ErrorClass = ecOther;
        int32_t ErrorCode = 0;
        ClassifyException(std::current_exception(), ErrorClass, ErrorCode);
        // The handler may ask for the error object (its message) while it runs.
        TScopedSlot<std::exception_ptr> Failure(FCurrentFailure, std::current_exception());
        ReportItemFailure(Item, ptExtract, ErrorClass, ErrorCode);
    }
}

void TAbArchive::ExtractAt(int32_t Index, const std::string& NewName) {
    RequireOpen();
    TAbArchiveItem* Item = FItemList->Get(Index);
    if (Item->Action() != aaNone) {
        Save();
        Item = FItemList->Get(Index); // saving may have dropped deleted items
    }
    bool Confirm = true;
    AskProcessItem(Item, ptExtract, Confirm);
    if (!Confirm) return;
    TFolderKeeping Keeping(FKeepFolders, FLastFolder,
                           [this] { RestoreFolderModes(); }); // for the model and the driver
    std::string TargetName;
    if (!ResolveTargetPath(Item, NewName, TargetName)) return;
    ExtractReportingFailure(Item, [&] { ExtractItemToFile(Index, TargetName); });
}

void TAbArchive::Extract(TAbArchiveItem* aItem, const std::string& NewName) {
    RequireOpen();
    int32_t Index = FindItem(aItem);
    if (Index >= 0) ExtractAt(Index, NewName);
}

void TAbArchive::ExtractToStream(const std::string& aFileName, TStream* aStream) {
    RequireOpen();
    int32_t Index = FindFile(aFileName);
    if (Index < 0) return;
    TAbArchiveItem* Item = FItemList->Get(Index);
    if (Item->Action() != aaNone) {
        Save();
        Index = FindFile(aFileName);
        if (Index < 0) return;
        Item = FItemList->Get(Index);
    }
    bool Confirm = true;
    AskProcessItem(Item, ptExtract, Confirm);
    if (!Confirm) return;
    ExtractReportingFailure(Item, [&] { ExtractItemToStream(Index, aStream); });
}

void TAbArchive::TestTaggedItems() {
    RequireOpen();
    if (Count() < 1) return;
    const int32_t Total = Count();
    for (int32_t Index = 0; Index < Total; ++Index) {
        TAbArchiveItem* Item = FItemList->Get(Index);
        if (Item->Tagged()) {
            TScopedSlot<TAbArchiveItem*> Current(FCurrentItem, Item);
            VerifyItem(Index);
        }
        bool Abort = false;
        ReportArchiveProgress(static_cast<uint8_t>(Percentage(Count(), Index + 1)), Abort);
        if (Abort) throw EAbUserAbort();
    }
    bool Abort = false;
    ReportArchiveProgress(100, Abort);
}

bool TAbArchive::ResolveTargetPath(TAbArchiveItem* Item, const std::string& NewName,
                                   std::string& TargetName) {
    FSeenAbsent.clear();
    const bool IsDir = Item->IsDirectory();
    if (IsDir &&
        !(FExtractOptions.Contains(eoCreateDirs) && FExtractOptions.Contains(eoRestorePath))) {
        return false;
    }
    std::string Relative; // of a stored name, checked with the item below
    if (!NewName.empty()) {
        // The caller's own choice of target is used as given.
        TargetName = NewName;
        if (!IsAbsolutePath(TargetName)) {
            if (HasInvalidPathChars(FBaseDirectory) || HasInvalidPathChars(TargetName)) {
                throw EArgumentException(SInvalidCharsInPath);
            }
            TargetName = JoinPath(FBaseDirectory, TargetName);
        }
    } else {
        std::string Stored = Item->FileName();
        if (IsDir && !Stored.empty() && IsSeparator(Stored.back())) Stored.pop_back();
        if (!AbJoinStoredName("", Stored, FExtractOptions.Contains(eoRestorePath), Relative) ||
            (Relative.empty() && !IsDir)) {
            ReportItemFailure(Item, ptExtract, ecMorvanta, AbErrUnsafePath);
            return false;
        }
        if (Relative.empty()) return false; // a directory entry for the base itself
        TargetName = JoinPath(FBaseDirectory, Relative);
    }
    const std::string Dir = ExtractFileDir(TargetName);
    if (!FExtractOptions.Contains(eoCreateDirs) && !Dir.empty() && !DirectoryExists(Dir))
        throw EAbNoSuchDirectory();

    // What the archive's names make the file system do fails this item
    // alone: characters no path may hold, a link or a file where a folder
    // should be, a name too long, a folder that refuses new entries.
    TEntryKind Existing = ekNone;
    bool Ready = false;
    ExtractReportingFailure(Item, [&] {
        if (HasInvalidPathChars(FBaseDirectory) || HasInvalidPathChars(Relative))
            throw EArgumentException(SInvalidCharsInPath);
        TFolderHandle Own;
        Existing = TargetFolder(Dir, FExtractOptions.Contains(eoCreateDirs), Own)
                       .KindOf(ExtractFileName(TargetName));
        Ready = true;
    });
    if (!Ready) return false;
    if (!IsDir && Existing == ekNone) FSeenAbsent = TargetName;
    // A link, even one that leads nowhere, is an existing entry like a file.
    bool Result = true;
    if (!IsDir && Existing != ekNone && Existing != ekFolder) AskOverwrite(TargetName, Result);
    return Result;
}

TFolderHandle TAbArchive::OpenTargetFolder(const std::string& Path, bool Create) {
    if (FKeepFolders && FLastFolder.Valid() && Path == FLastFolderPath)
        return FLastFolder.Duplicate();
    std::string Base = FBaseDirectory;
    std::string Relative;
    if (!RelativeBelow(FBaseDirectory, Path, Relative)) {
        // A folder the caller chose outside the base is reached as given.
        if (Create && !Path.empty() && !DirectoryExists(Path)) CreateDirectoryChain(Path);
        Base = Path;
        Relative.clear();
    }
    TFolderWalk Walk = OpenFolderBelow(Base, Relative, Create);
    if (Walk.CrossesLink) throw EAbUnsafePath();
    if (!Walk.Folder.Valid()) throw EInOutError(Walk.Error);
    if (FKeepFolders) {
        FLastFolderPath = Path;
        FLastFolder = Walk.Folder.Duplicate();
    }
    return std::move(Walk.Folder);
}

bool TAbArchive::TakeSeenAbsent(const std::string& TargetName) {
    const bool Seen = !FSeenAbsent.empty() && FSeenAbsent == TargetName;
    FSeenAbsent.clear();
    return Seen;
}

const TFolderHandle& TAbArchive::TargetFolder(const std::string& Path, bool Create,
                                              TFolderHandle& Own) {
    if (FKeepFolders && FLastFolder.Valid() && Path == FLastFolderPath) return FLastFolder;
    Own = OpenTargetFolder(Path, Create);
    return Own;
}

void TAbArchive::RestoreFolderModeLater(const std::string& TargetName, uint32_t Mode) {
    FFolderModes.emplace_back(TargetName, Mode);
}

void TAbArchive::BeginExtractionBatch() {
    FKeepFolders = true; // every extraction call inside is an inner one
}

void TAbArchive::EndExtractionBatch() {
    FKeepFolders = false;
    FLastFolder = TFolderHandle();
    FLastFolderPath.clear();
}

std::vector<std::pair<std::string, uint32_t>> TAbArchive::TakeFolderModes() {
    std::vector<std::pair<std::string, uint32_t>> Modes;
    Modes.swap(FFolderModes);
    return Modes;
}

void TAbArchive::ApplyFolderModes(std::vector<std::pair<std::string, uint32_t>> Modes) {
    FFolderModes = std::move(Modes);
    RestoreFolderModes();
}

void TAbArchive::RestoreFolderModes() {
    std::vector<std::pair<std::string, uint32_t>> Pending;
    Pending.swap(FFolderModes);
    // Deepest first: a folder's path is longer than those of the folders
    // around it, and a folder that loses its search permission must not
    // keep the walk from the folders below it. The same folder named twice
    // takes the mode of its last entry.
    std::stable_sort(Pending.begin(), Pending.end(), [](const auto& Left, const auto& Right) {
        return Left.first.size() > Right.first.size();
    });
    for (const auto& [Path, Mode] : Pending) {
        try {
            (void)OpenTargetFolder(Path, false).SetPermissions(Mode);
        } catch (...) { // a folder gone or behind a link keeps what it has
        }
    }
}

void TAbArchive::WriteItemFolder(const std::string& TargetName, TDateTime FileTime) {
    const TFolderHandle Folder = OpenTargetFolder(TargetName, true);
    if (FileTime != 0) (void)Folder.SetLastWriteTime(FileTime);
}

void TAbArchive::WriteItemFile(const std::string& TargetName, TDateTime FileTime, bool ReadOnly,
                               const std::function<void(TStream*)>& Produce) {
    const TFolderHandle Folder = OpenTargetFolder(ExtractFileDir(TargetName), false);
    TReplacingFile File(Folder, ExtractFileName(TargetName), ReadOnly ? rfaReadOnly : rfaWritable,
                        65536, rcRefusal);
    try {
        Produce(&File);
    } catch (const EAbUserAbort&) {
        FStatus = asInvalid;
        throw;
    }
    File.SetLastWriteTime(FileTime);
    File.Commit();
}

// ---------------------------------------------------------------------------
// Lookup and tags

int32_t TAbArchive::FindFile(const std::string& aFileName) const {
    return FItemList ? FItemList->Find(aFileName) : -1;
}

int32_t TAbArchive::FindItem(const TAbArchiveItem* aItem) const {
    return aItem == nullptr ? -1 : FindFile(aItem->FileName());
}

void TAbArchive::TagItems(const std::string& FileMask) {
    for (TAbArchiveItem* Item : *FItemList) {
        if (Item->MatchesStoredNameEx(FileMask)) Item->SetTagged(true);
    }
}

void TAbArchive::UnTagItems(const std::string& FileMask) {
    for (TAbArchiveItem* Item : *FItemList) {
        if (Item->MatchesStoredNameEx(FileMask)) Item->SetTagged(false);
    }
}

void TAbArchive::ClearTags() {
    for (TAbArchiveItem* Item : *FItemList)
        Item->SetTagged(false);
}

// ---------------------------------------------------------------------------
// Update operations

std::string TAbArchive::NormalizeStoredName(const std::string& Value) {
    std::string Name = Value;
    if (FDOSMode) {
        // Short names do not exist here; the name stays long, but it must
        // still lead to an existing file.
        std::string Local = Value;
        std::replace(Local.begin(), Local.end(), '\\', PathDelim);
        bool Qualified =
            (!Local.empty() && Local[0] == PathDelim) || (Local.size() >= 2 && Local[1] == ':');
        if (!Qualified) Local = JoinPath(FBaseDirectory, Local);
        std::string Dir = ExtractFileDir(Local);
        if (!Dir.empty() && !DirectoryExists(Dir)) throw EAbException("Path not found");
        if (!PathExists(Local)) throw EAbFileNotFound();
        Name = Local;
    }
    ToBackslashes(Name);
    if (FStoreOptions.Contains(soStripDrive)) StripDrive(Name);
    if (!Name.empty() && Name[0] == '\\') Name.erase(0, 1);
    if (FStoreOptions.Contains(soStripPath)) {
        size_t Pos = Name.find_last_of('\\');
        if (Pos != std::string::npos) Name.erase(0, Pos + 1);
    }
    if (FStoreOptions.Contains(soRemoveDots)) StripLeadingParentRefs(Name);
    return Name;
}

void TAbArchive::Add(std::unique_ptr<TAbArchiveItem> aItem) {
    RequireOpen();
    if (!aItem) return;
    std::string Name = aItem->FileName();
    if (FItemList->IsActiveDupe(Name)) {
        int32_t Existing = -1;
        for (int32_t I = Count() - 1; I >= 0; --I) {
            TAbArchiveItem* Item = FItemList->Get(I);
            if (Item->Action() != aaDelete && SameTextAscii(Item->FileName(), Name)) {
                Existing = I;
                break;
            }
        }
        if (Existing >= 0 && FStoreOptions.Contains(soFreshen)) {
            FItemList->Get(Existing)->SetDiskFileName(aItem->DiskFileName());
            FreshenAt(Existing);
        } else if (Existing >= 0 && FStoreOptions.Contains(soReplace)) {
            FItemList->Get(Existing)->SetDiskFileName(aItem->DiskFileName());
            Replace(FItemList->Get(Existing));
        } else {
            ReportItemFailure(aItem.get(), ptAdd, ecMorvanta, AbErrDuplicateName);
        }
        return;
    }
    bool Confirm = true;
    AskProcessItem(aItem.get(), ptAdd, Confirm);
    if (!Confirm) return;
    aItem->SetAction(aaAdd);
    FItemList->Add(aItem.release());
    FIsDirty = true;
    if (FAutoSave) Save();
}

void TAbArchive::AddFiles(const std::string& FileMask, uint32_t SearchAttr) {
    AddFilesEx(FileMask, "", SearchAttr);
}

void TAbArchive::AddFilesEx(const std::string& FileMask, const std::string& ExclusionMask,
                            uint32_t SearchAttr) {
    namespace fs = std::filesystem;
    RequireOpen();
    std::string Mask = FileMask;
    std::replace(Mask.begin(), Mask.end(), '\\', PathDelim);
    if (Mask.empty()) return;
    std::string Base = FBaseDirectory.empty() ? GetCurrentDir() : FBaseDirectory;
    if (Mask[0] != PathDelim) Mask = JoinPath(Base, Mask);
    std::string Dir = ExtractFileDir(Mask);
    std::string NameMask = Mask.substr(Mask.find_last_of(PathDelim) + 1);
    std::string Excl = ExclusionMask;
    ToBackslashes(Excl);
    const std::string Archive = FArchiveName.empty() ? std::string() : ExpandFileName(FArchiveName);
    const std::string BasePrefix = IncludeTrailingPathDelimiter(ExpandFileName(Base));

    // Stored name: relative to the base directory when the file lies below it.
    auto StoredNameOf = [&BasePrefix](const std::string& Full) {
        std::string Expanded = ExpandFileName(Full);
        if (Expanded.compare(0, BasePrefix.size(), BasePrefix) == 0)
            return Expanded.substr(BasePrefix.size());
        return Expanded;
    };
    auto Excluded = [&Excl](const std::string& Stored, const std::string& Name) {
        if (Excl.empty()) return false;
        std::string S = Stored;
        ToBackslashes(S);
        return NameMatchesMask(S, Excl) || NameMatchesMask(Name, Excl);
    };

    std::vector<std::string> Pending{Dir.empty() ? std::string(".") : Dir};
    while (!Pending.empty()) {
        std::string Current = Pending.back();
        Pending.pop_back();
        std::error_code Ec;
        std::vector<fs::directory_entry> Entries;
        for (fs::directory_iterator It(Current, Ec), End; !Ec && It != End; It.increment(Ec))
            Entries.push_back(*It);
        std::sort(Entries.begin(), Entries.end(),
                  [](const fs::directory_entry& A, const fs::directory_entry& B) {
                      return A.path() < B.path();
                  });
        std::vector<std::string> SubDirs;
        for (const fs::directory_entry& Entry : Entries) {
            std::string Full = Entry.path().string();
            std::string Name = Entry.path().filename().string();
            bool IsDir = Entry.is_directory(Ec) && !Entry.is_symlink(Ec);
            if (IsDir) {
                if (FStoreOptions.Contains(soRecurse)) SubDirs.push_back(Full);
                if ((SearchAttr & faDirectory) != 0 && SupportsEmptyFolders() &&
                    NameMatchesMask(Name, NameMask)) {
                    std::string Stored = StoredNameOf(Full);
                    if (!Excluded(Stored, Name)) Add(CreateItem(Stored + PathDelim));
                }
                continue;
            }
            if (!Entry.is_regular_file(Ec)) continue;
            if (!NameMatchesMask(Name, NameMask)) continue;
            if (!Archive.empty() && ExpandFileName(Full) == Archive) continue;
            std::string Stored = StoredNameOf(Full);
            if (Excluded(Stored, Name)) continue;
            Add(CreateItem(Stored));
        }
        // Depth first, in name order.
        for (auto It = SubDirs.rbegin(); It != SubDirs.rend(); ++It)
            Pending.push_back(*It);
    }
}

void TAbArchive::AddFromStream(const std::string& NewName, TStream* aStream) {
    RequireOpen();
    std::unique_ptr<TAbArchiveItem> Item = CreateItem(NewName);
    if (FItemList->IsActiveDupe(Item->FileName())) {
        ReportItemFailure(Item.get(), ptAdd, ecMorvanta, AbErrDuplicateName);
        return;
    }
    bool Confirm = true;
    AskProcessItem(Item.get(), ptAdd, Confirm);
    if (!Confirm) return;
    Item->SetAction(aaStreamAdd);
    FItemList->Add(Item.release());
    FIsDirty = true;
    FInStream = aStream;
    try {
        Save();
    } catch (...) {
        FInStream = nullptr;
        throw;
    }
    FInStream = nullptr;
}

void TAbArchive::Delete(TAbArchiveItem* aItem) {
    RequireOpen();
    int32_t Index = FindItem(aItem);
    if (Index >= 0) DeleteAt(Index);
}

void TAbArchive::MarkForUpdate(TAbArchiveItem* Item, TAbProcessType ProcessType,
                               TAbArchiveAction Action) {
    bool Confirm = true;
    AskProcessItem(Item, ProcessType, Confirm);
    if (!Confirm) return;
    Item->SetAction(Action);
    FIsDirty = true;
    if (FAutoSave) Save();
}

void TAbArchive::DeleteAt(int32_t Index) {
    RequireOpen();
    TAbArchiveItem* Item = FItemList->Get(Index);
    MarkForUpdate(Item, ptDelete, aaDelete);
}

void TAbArchive::DeleteFiles(const std::string& FileMask) {
    DeleteFilesEx(FileMask, "");
}

void TAbArchive::DeleteFilesEx(const std::string& FileMask, const std::string& ExclusionMask) {
    ForSelectedBackwards(MaskSelector(FileMask, ExclusionMask),
                         [this](int32_t Index) { DeleteAt(Index); });
}

void TAbArchive::DeleteTaggedItems() {
    ForSelectedBackwards(TaggedSelector(), [this](int32_t Index) { DeleteAt(Index); });
}

void TAbArchive::FreshenAt(int32_t Index) {
    TAbArchiveItem* Item = FItemList->Get(Index);
    std::string DiskName = Item->DiskFileName();
    TDateTime DiskTime = 0;
    if (DiskName.empty() || !FileExists(DiskName) || !FileGetLastWriteTime(DiskName, DiskTime))
        return;
    // Compare at DOS precision: the archive keeps two-second steps.
    if (DateTimeToDos(DiskTime) <= DateTimeToDos(Item->LastModTimeAsDateTime())) return;
    MarkForUpdate(Item, ptFreshen, aaFreshen);
}

void TAbArchive::Freshen(TAbArchiveItem* aItem) {
    RequireOpen();
    int32_t Index = FindItem(aItem);
    if (Index >= 0) FreshenAt(Index);
}

void TAbArchive::FreshenFiles(const std::string& FileMask) {
    FreshenFilesEx(FileMask, "");
}

void TAbArchive::FreshenFilesEx(const std::string& FileMask, const std::string& ExclusionMask) {
    ForSelectedBackwards(MaskSelector(FileMask, ExclusionMask),
                         [this](int32_t Index) { FreshenAt(Index); });
}

void TAbArchive::FreshenTaggedItems() {
    ForSelectedBackwards(TaggedSelector(), [this](int32_t Index) { FreshenAt(Index); });
}

void TAbArchive::Replace(TAbArchiveItem* aItem) {
    RequireOpen();
    int32_t Index = FindItem(aItem);
    if (Index < 0) return;
    TAbArchiveItem* Item = FItemList->Get(Index);
    MarkForUpdate(Item, ptReplace, aaReplace);
}

void TAbArchive::Move(TAbArchiveItem* aItem, const std::string& NewStoredPath) {
    RequireOpen();
    if (aItem == nullptr) return;
    for (TAbArchiveItem* Other : *FItemList) {
        if (Other != aItem && Other->Action() != aaDelete &&
            SameTextAscii(Other->FileName(), NewStoredPath)) {
            ReportItemFailure(aItem, ptMove, ecMorvanta, AbErrDuplicateName);
            return;
        }
    }
    bool Confirm = true;
    AskProcessItem(aItem, ptMove, Confirm);
    if (!Confirm) return;
    std::string OldName = aItem->FileName();
    aItem->SetFileName(NewStoredPath);
    if (std::find(FItemList->begin(), FItemList->end(), aItem) != FItemList->end()) {
        FItemList->ReLink(aItem, OldName);
    }
    aItem->SetAction(aaMove);
    FIsDirty = true;
    if (FAutoSave) Save();
}

} // namespace kivo
