// The format-independent core of the archive engine: the archive object with
// its item list, status, options and events; the item; the name-hashed item
// list; and the extra-field container. Formats (ZIP, tar, gzip, ...) derive
// from TAbArchive and TAbArchiveItem.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/FolderHandle.h"
#include "runtime/Classes.h"
#include "runtime/DateTime.h"

namespace kivo {

// ---------------------------------------------------------------------------
// Small set type over an enumeration with at most 32 values.

template <typename E> class TAbSet {
public:
    constexpr TAbSet() = default;
    constexpr TAbSet(std::initializer_list<E> Values) {
        for (E V : Values)
            FBits |= Bit(V);
    }
    constexpr bool Contains(E V) const { return (FBits & Bit(V)) != 0; }
    constexpr void Include(E V) { FBits |= Bit(V); }
    constexpr void Exclude(E V) { FBits &= ~Bit(V); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool operator==(const TAbSet&) const = default;
    constexpr TAbSet operator+(TAbSet Other) const { return FromBits(FBits | Other.FBits); }
    constexpr TAbSet operator-(TAbSet Other) const { return FromBits(FBits & ~Other.FBits); }

private:
    static constexpr uint32_t Bit(E V) { return uint32_t{1} << static_cast<unsigned>(V); }
    static constexpr TAbSet FromBits(uint32_t Bits) {
        TAbSet S;
        S.FBits = Bits;
        return S;
    }
    uint32_t FBits = 0;
};

// ---------------------------------------------------------------------------
// Enumerations

enum TAbArchiveStatus : uint8_t { asInvalid, asIdle, asBusy };
enum TAbArchiveAction : uint8_t {
    aaFailed,
    aaNone,
    aaAdd,
    aaDelete,
    aaFreshen,
    aaMove,
    aaReplace,
    aaStreamAdd
};
enum TAbProcessType : uint8_t {
    ptAdd,
    ptDelete,
    ptExtract,
    ptFreshen,
    ptMove,
    ptReplace,
    ptFoundUnhandled
};
// eoRestoreModes gives files made on Unix their stored read, write and
// execute bits (never set-user-ID, set-group-ID or sticky; the umask
// applies); eoMakeLinks makes symbolic-link items links when their target
// stays inside the base folder. Without them only the read-only attribute
// is applied and a link item is a file holding its target.
enum TAbExtractOption : uint8_t { eoCreateDirs, eoRestorePath, eoRestoreModes, eoMakeLinks };
using TAbExtractOptions = TAbSet<TAbExtractOption>;
enum TAbStoreOption : uint8_t {
    soStripDrive,
    soStripPath,
    soRemoveDots,
    soRecurse,
    soFreshen,
    soReplace
};
using TAbStoreOptions = TAbSet<TAbStoreOption>;

// The kinds of archive the engine tells apart.
enum TAbArchiveType : uint8_t {
    atUnknown,
    atZip,
    atSpannedZip,
    atSelfExtZip,
    atTar,
    atGzip,
    atGzippedTar,
    atCab,
    atBzip2,
    atBzippedTar
};

// ---------------------------------------------------------------------------
// An immutable, reference-counted string. The several names an item keeps
// (the bytes as stored, the decoded name, the disk name) are nearly always
// equal; sharing one buffer keeps archives with hundreds of thousands of
// entries small. Not thread-safe, like the archive that uses it.

class TAbSharedString {
public:
    TAbSharedString() noexcept = default;
    TAbSharedString(std::string_view Value); // NOLINT: implicit on purpose
    TAbSharedString(const char* Value) : TAbSharedString(std::string_view(Value)) {}
    TAbSharedString(const std::string& Value) : TAbSharedString(std::string_view(Value)) {}
    TAbSharedString(const TAbSharedString& Other) noexcept;
    TAbSharedString(TAbSharedString&& Other) noexcept : FRep(Other.FRep) { Other.FRep = nullptr; }
    TAbSharedString& operator=(const TAbSharedString& Other) noexcept;
    TAbSharedString& operator=(TAbSharedString&& Other) noexcept;
    ~TAbSharedString() { Release(); }

    std::string_view View() const noexcept {
        return FRep == nullptr ? std::string_view() : std::string_view(Data(), FRep->Length);
    }
    std::string Str() const { return std::string(View()); }
    size_t Length() const noexcept { return FRep == nullptr ? 0 : FRep->Length; }
    bool Empty() const noexcept { return FRep == nullptr; }
    // True when both share one buffer (used by tests of the sharing).
    bool SharesWith(const TAbSharedString& Other) const noexcept { return FRep == Other.FRep; }

private:
    struct TRep {
        uint32_t Refs;
        uint32_t Length;
    };
    const char* Data() const noexcept { return reinterpret_cast<const char*>(FRep + 1); }
    void Release() noexcept;
    TRep* FRep = nullptr;
};

// ---------------------------------------------------------------------------
// Events

class TAbArchive;
class TAbArchiveItem;

using TAbArchiveEvent = std::function<void(TAbArchive* Sender)>;
using TAbArchiveConfirmEvent = std::function<void(TAbArchive* Sender, bool& Confirm)>;
using TAbArchiveProgressEvent =
    std::function<void(TAbArchive* Sender, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemProgressEvent =
    std::function<void(TAbArchive* Sender, TAbArchiveItem* Item, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemConfirmEvent = std::function<void(TAbArchive* Sender, TAbArchiveItem* Item,
                                                      TAbProcessType ProcessType, bool& Confirm)>;
using TAbArchiveItemFailureEvent =
    std::function<void(TAbArchive* Sender, TAbArchiveItem* Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
using TAbConfirmOverwriteEvent = std::function<void(std::string& Name, bool& Confirm)>;
using TAbProgressEvent = std::function<void(uint8_t Progress, bool& Abort)>;
using TAbRequestImageEvent = std::function<void(TAbArchive* Sender, int32_t ImageNumber,
                                                std::string& ImageName, bool& Abort)>;
using TAbRequestDiskEvent = std::function<void(TAbArchive* Sender, bool& Abort)>;
using TAbRequestNthDiskEvent =
    std::function<void(TAbArchive* Sender, uint8_t DiskNumber, bool& Abort)>;
using TAbNeedPasswordEvent = std::function<void(TAbArchive* Sender, std::string& NewPassword)>;
using TAbArchiveItemExtractEvent =
    std::function<void(TAbArchive* Sender, TAbArchiveItem* Item, const std::string& NewName)>;
using TAbArchiveItemExtractToStreamEvent =
    std::function<void(TAbArchive* Sender, TAbArchiveItem* Item, TStream* OutStream)>;
using TAbArchiveItemTestEvent = std::function<void(TAbArchive* Sender, TAbArchiveItem* Item)>;
using TAbArchiveItemInsertEvent =
    std::function<void(TAbArchive* Sender, TAbArchiveItem* Item, TStream* OutStream)>;
using TAbArchiveItemInsertFromStreamEvent = std::function<void(
    TAbArchive* Sender, TAbArchiveItem* Item, TStream* OutStream, TStream* InStream)>;

// ---------------------------------------------------------------------------
// TAbArchiveItem: one entry of an archive.

class TAbArchiveItem {
public:
    TAbArchiveItem() = default;
    virtual ~TAbArchiveItem() = default;
    TAbArchiveItem(const TAbArchiveItem&) = delete;
    TAbArchiveItem& operator=(const TAbArchiveItem&) = delete;

    // Link of the hash-bucket chain of the list that holds the item.
    TAbArchiveItem* NextItem = nullptr;

    TAbArchiveAction Action() const { return FAction; }
    void SetAction(TAbArchiveAction Value) { FAction = Value; }
    std::string DiskFileName() const { return std::string(DiskFileNameView()); }
    void SetDiskFileName(const TAbSharedString& Value);
    // Directory part of DiskFileName, with its final separator.
    std::string DiskPath() const;
    std::string StoredPath() const { return DiskPath(); }
    bool Tagged() const { return FTagged; }
    void SetTagged(bool Value) { FTagged = Value; }

    // Virtual accessors, so that a format can keep the values in its own
    // header records.
    virtual int64_t CompressedSize() const { return FValues ? FValues->CompressedSize : 0; }
    virtual uint32_t CRC32() const { return FValues ? FValues->CRC32 : 0; }
    virtual uint32_t ExternalFileAttributes() const {
        return FValues ? FValues->ExternalFileAttributes : 0;
    }
    virtual std::string FileName() const { return FFileName.Str(); }
    virtual bool IsDirectory() const { return false; }
    virtual bool IsEncrypted() const { return FValues ? FValues->IsEncrypted : false; }
    virtual uint16_t LastModFileDate() const { return FValues ? FValues->LastModFileDate : 0; }
    virtual uint16_t LastModFileTime() const { return FValues ? FValues->LastModFileTime : 0; }
    virtual uint32_t NativeFileAttributes() const { return IsDirectory() ? 0x10 : 0; }
    virtual int64_t UncompressedSize() const { return FValues ? FValues->UncompressedSize : 0; }
    virtual void SetCompressedSize(int64_t Value) { Values().CompressedSize = Value; }
    virtual void SetCRC32(uint32_t Value) { Values().CRC32 = Value; }
    virtual void SetExternalFileAttributes(uint32_t Value) {
        Values().ExternalFileAttributes = Value;
    }
    // DiskFileName keeps its value.
    virtual void SetFileName(const std::string& Value);
    virtual void SetIsEncrypted(bool Value) { Values().IsEncrypted = Value; }
    virtual void SetLastModFileDate(uint16_t Value) { Values().LastModFileDate = Value; }
    virtual void SetLastModFileTime(uint16_t Value) { Values().LastModFileTime = Value; }
    virtual void SetUncompressedSize(int64_t Value) { Values().UncompressedSize = Value; }
    virtual TDateTime LastModTimeAsDateTime() const;
    virtual void SetLastModTimeAsDateTime(TDateTime Value);

    // FileName and DiskFileName without a copy, for the engine's own lookups.
    std::string_view FileNameView() const { return FFileName.View(); }
    std::string_view DiskFileNameView() const;

    // Mask matching; masks use '\' or '/' as separators.
    bool MatchesDiskName(std::string_view FileMask) const;
    bool MatchesStoredName(std::string_view FileMask) const;
    // FileMask is a list separated by ';'; an empty list matches nothing.
    bool MatchesStoredNameEx(std::string_view FileMask) const;

protected:
    TAbSharedString FFileName;

private:
    // Memory layout: an archive may hold hundreds of thousands of items, so
    // the object keeps only what every item needs: the list link, the name,
    // the action and the tag (34 bytes with the vtable pointer; a format's
    // small fields fill the rest of the last word). The values below are
    // used only by formats without a header record of their own (ZIP keeps
    // them in its record and overrides every accessor), and the disk name
    // nearly always equals FileName; they share one block that is allocated
    // when one of them is first stored.
    struct TStoredValues {
        int64_t CompressedSize = 0;
        int64_t UncompressedSize = 0;
        uint32_t CRC32 = 0;
        uint32_t ExternalFileAttributes = 0;
        uint16_t LastModFileTime = 0;
        uint16_t LastModFileDate = 0;
        bool IsEncrypted = false;
        // DiskFileName is FileName unless this is set.
        bool HasDiskFileName = false;
        TAbSharedString DiskFileName;
    };
    TStoredValues& Values();
    std::unique_ptr<TStoredValues> FValues;

protected:
    TAbArchiveAction FAction = aaNone;
    bool FTagged = false;
};

// ---------------------------------------------------------------------------
// TAbArchiveList: the items in archive order plus a name index.

// Hash of a name for the index: the name upper-cased with the locale's full
// upper-casing, folded over its UTF-16 code units. The bucket is the result
// modulo AbHashBuckets.
uint32_t NameHash(std::string_view Name);
constexpr uint32_t AbHashBuckets = 1021;

class TAbArchiveList;

class TAbArchiveListEnumerator {
public:
    explicit TAbArchiveListEnumerator(const TAbArchiveList* List) : FList(List) {}
    TAbArchiveItem* Current() const;
    bool MoveNext();

private:
    const TAbArchiveList* FList;
    int32_t FIndex = -1;
};

class TAbArchiveList {
public:
    explicit TAbArchiveList(bool AOwnsItems = true) : FOwnsItems(AOwnsItems) {}
    ~TAbArchiveList();
    TAbArchiveList(const TAbArchiveList&) = delete;
    TAbArchiveList& operator=(const TAbArchiveList&) = delete;

    // Appends Item and returns its index. An owning list takes the item over
    // (also when this raises).
    int32_t Add(TAbArchiveItem* Item);
    void Clear();
    void Delete(int32_t Index);
    // Index of the item named FileName (ASCII letters in either case), -1
    // when none; with duplicates the one added last.
    int32_t Find(std::string_view FileName) const;
    // Whether an item of that name exists that is not being deleted.
    bool IsActiveDupe(std::string_view FileName) const;
    TAbArchiveItem* Get(int32_t Index) const;
    // Replaces the item at Index; an owning list frees the old one.
    void Put(int32_t Index, TAbArchiveItem* Item);
    TAbArchiveItem* operator[](int32_t Index) const { return Get(Index); }
    int32_t Count() const { return static_cast<int32_t>(FList.size()); }
    bool OwnsItems() const { return FOwnsItems; }
    void Reserve(size_t Capacity) { FList.reserve(Capacity); }
    // After an item's FileName changed from OldName: moves it to the bucket
    // of its new name.
    void ReLink(TAbArchiveItem* Item, std::string_view OldName);
    // Head of a hash bucket's chain (nullptr when empty).
    TAbArchiveItem* HashTable(uint32_t Bucket) const { return FHashTable.at(Bucket); }

    TAbArchiveListEnumerator GetEnumerator() const { return TAbArchiveListEnumerator(this); }
    std::vector<TAbArchiveItem*>::const_iterator begin() const { return FList.begin(); }
    std::vector<TAbArchiveItem*>::const_iterator end() const { return FList.end(); }

private:
    void Link(TAbArchiveItem* Item);
    void Unlink(TAbArchiveItem* Item, std::string_view Name);
    void FreeItem(TAbArchiveItem* Item) const;
    // List index of an item (-1 when not listed).
    int32_t IndexOfItem(const TAbArchiveItem* Item) const;
    std::vector<TAbArchiveItem*> FList;
    // Item -> index, built on the first lookup in a long list and kept up to
    // date by Add and Put; a deletion drops it until the next lookup.
    mutable std::unordered_map<const TAbArchiveItem*, int32_t> FIndexOf;
    mutable bool FIndexValid = false;
    bool FOwnsItems;
    std::array<TAbArchiveItem*, AbHashBuckets> FHashTable{};
};

// ---------------------------------------------------------------------------
// TAbExtraField: concatenated subfields, each a 16-bit little-endian ID, a
// 16-bit little-endian data size and that many data bytes (the ZIP layout).
// A last subfield that declares more data than remains is clamped to what
// remains (its size field is rewritten) rather than rejected.

class TAbExtraField {
public:
    TAbExtraField() = default;
    virtual ~TAbExtraField() = default;
    TAbExtraField(const TAbExtraField&) = delete;
    TAbExtraField& operator=(const TAbExtraField&) = delete;

    // Reads exactly Size bytes (EReadError when the stream ends first).
    void LoadFromStream(TStream* Stream, int64_t Size);
    bool Has(uint16_t ID) const;
    // First subfield with ID: its data (inside the buffer) and size; false
    // with nullptr/0 when absent.
    bool Get(uint16_t ID, const uint8_t*& Data, uint16_t& DataSize) const;
    // A new memory stream holding a copy of the data, at position 0.
    bool GetStream(uint16_t ID, std::unique_ptr<TMemoryStream>& Stream) const;
    // Overwrites in place when the size is unchanged, else deletes the old
    // subfield and appends a new one.
    void Put(uint16_t ID, const void* Data, uint16_t Size);
    void Delete(uint16_t ID);
    void Clear();
    int32_t Count() const;
    // ID of the Index-th subfield; EListError past the end.
    uint16_t GetID(int32_t Index) const;
    void Assign(const TAbExtraField& Source);
    // Copies the subfield ID from Source, or deletes it when Source lacks it.
    void CloneFrom(const TAbExtraField& Source, uint16_t ID);

    const uint8_t* Buffer() const { return FData.get(); }
    uint32_t BufferSize() const { return FSize; }
    // Replaces the whole buffer.
    void SetBuffer(const void* Data, uint32_t Size);

protected:
    // Called after every modification.
    virtual void Changed() {}

private:
    // Offset of the subfield with ID (its header), -1 when absent. Clamps a
    // truncated last subfield on the way.
    int64_t Find(uint16_t ID) const;
    void DeleteAt(uint32_t Offset);
    mutable std::unique_ptr<uint8_t[]> FData;
    uint32_t FSize = 0;
};

// ---------------------------------------------------------------------------
// TAbArchiveStreamHelper: reader/writer of a stream-based format.

class TAbArchiveStreamHelper {
public:
    explicit TAbArchiveStreamHelper(TStream* AStream);
    virtual ~TAbArchiveStreamHelper() = default;

    virtual void ExtractItemData(TStream* AStream) = 0;
    virtual bool FindFirstItem() = 0;
    virtual bool FindNextItem() = 0;
    virtual void ReadHeader() = 0;
    virtual void ReadTail() = 0;
    virtual bool SeekItem(int32_t Index) = 0;
    virtual void WriteArchiveHeader() = 0;
    virtual void WriteArchiveItem(TStream* AStream) = 0;
    virtual void WriteArchiveTail() = 0;
    virtual int32_t GetItemCount() = 0;

protected:
    TStream* FStream;
};

// ---------------------------------------------------------------------------
// TAbArchive: one open archive.

class TAbArchive {
public:
    virtual ~TAbArchive();
    TAbArchive(const TAbArchive&) = delete;
    TAbArchive& operator=(const TAbArchive&) = delete;

    // --- format operations (supplied by each format)
    virtual std::unique_ptr<TAbArchiveItem> CreateItem(const std::string& FileName) = 0;
    virtual void ExtractItemToFile(int32_t Index, const std::string& TargetName) = 0;
    virtual void ExtractItemToStream(int32_t Index, TStream* Stream) = 0;
    virtual void ReadArchive() = 0;
    virtual void WriteArchive() = 0;
    virtual void VerifyItem(int32_t Index) = 0;

    // --- reports and questions (each fires its event)
    virtual void ReportItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                   TAbErrorClass ErrorClass, int32_t ErrorCode);
    void ReportItemWarning(TAbArchiveItem* Item, const std::string& Message) {
        if (OnItemWarning) OnItemWarning(this, Item, Message);
    }
    virtual void ReportSaveProgress(uint8_t Progress, bool& Abort);
    virtual void ReportArchiveProgress(uint8_t Progress, bool& Abort);
    virtual void ReportItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
    virtual void AskOverwrite(std::string& Name, bool& Confirm);
    virtual void AskProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm);
    virtual void AskSave(bool& Confirm);
    virtual void NotifyLoaded();
    virtual void ReportProgress(uint8_t Progress, bool& Abort);
    virtual void NotifySaved();
    virtual std::string NormalizeStoredName(const std::string& Value);
    virtual int64_t SpanningThreshold() const { return FSpanningThreshold; }
    virtual bool SupportsEmptyFolders() const { return false; }
    virtual void SetSpanningThreshold(int64_t Value) { FSpanningThreshold = Value; }

    // --- lifecycle
    virtual void Load();
    virtual void Save();

    // --- update operations
    virtual void Add(std::unique_ptr<TAbArchiveItem> aItem);
    virtual void Move(TAbArchiveItem* aItem, const std::string& NewStoredPath);
    void AddFiles(const std::string& FileMask, uint32_t SearchAttr);
    void AddFilesEx(const std::string& FileMask, const std::string& ExclusionMask,
                    uint32_t SearchAttr);
    // Adds one item whose data comes from aStream and saves at once (the
    // stream is only known during this call).
    void AddFromStream(const std::string& NewName, TStream* aStream);
    void Delete(TAbArchiveItem* aItem);
    void DeleteAt(int32_t Index);
    void DeleteFiles(const std::string& FileMask);
    void DeleteFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
    void DeleteTaggedItems();
    void Freshen(TAbArchiveItem* aItem);
    void FreshenFiles(const std::string& FileMask);
    void FreshenFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
    void FreshenTaggedItems();
    void Replace(TAbArchiveItem* aItem);

    // --- progress from the decoders and the spanning layer
    virtual void DoDeflateProgress(uint8_t aPercentDone);
    virtual void DoInflateProgress(uint8_t aPercentDone);
    virtual void DoSpanningMediaRequest(TStream* Sender, int32_t ImageNumber,
                                        std::string& ImageName, bool& Abort);

    // --- extraction and selection
    void ExtractFiles(const std::string& FileMask) { ExtractFilesEx(FileMask, ""); }
    void ExtractFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
    void ExtractAt(int32_t Index, const std::string& NewName);
    void Extract(TAbArchiveItem* aItem, const std::string& NewName);
    void ExtractToStream(const std::string& aFileName, TStream* aStream);
    void ExtractTaggedItems();
    void TestTaggedItems();
    int32_t FindFile(const std::string& aFileName) const;
    int32_t FindItem(const TAbArchiveItem* aItem) const;
    void TagItems(const std::string& FileMask);
    void UnTagItems(const std::string& FileMask);
    void ClearTags();

    // Builds the target of an item's extraction and makes its folder. False
    // when the item is not to be written: a directory without both
    // eoCreateDirs and eoRestorePath, an existing entry (a link too) the
    // overwrite question refused, or a failure reported through
    // OnProcessItemFailure: a stored name that would leave the base
    // directory (ecMorvanta, AbErrUnsafePath, no error object), and, with
    // their error objects, a stored name with characters no path may hold,
    // a folder on the way that is a link (EAbUnsafePath) and a folder that
    // cannot be made (EInOutError). A missing folder without eoCreateDirs
    // raises EAbNoSuchDirectory.
    bool ResolveTargetPath(TAbArchiveItem* Item, const std::string& NewName,
                           std::string& TargetName);
    // The folder named Path, reached from BaseDirectory without following a
    // link below it; with Create, missing folders are made. A folder the
    // caller named outside the base is reached as given. EAbUnsafePath when
    // the way crosses a link, EInOutError with the system's code when a
    // folder cannot be opened or made. While an extraction call (ExtractAt,
    // the extract loops) runs, the folder reached last is kept, and asking
    // for it again gives a second handle to it instead of a new walk.
    TFolderHandle OpenTargetFolder(const std::string& Path, bool Create);
    // Whether the last ResolveTargetPath found nothing at TargetName (asked
    // once: the answer is forgotten as it is given).
    bool TakeSeenAbsent(const std::string& TargetName);
    // The same folder without a copy of the handle where it can be had: the
    // one kept while an extraction call runs (valid until the next call of
    // either), else a new one put in Own.
    const TFolderHandle& TargetFolder(const std::string& Path, bool Create, TFolderHandle& Own);
    // Gives the folder TargetName the permission bits Mode (less the umask)
    // when the outermost extraction call ends, after everything inside it
    // was written; deepest folder first, reached without links like any
    // target folder.
    void RestoreFolderModeLater(const std::string& TargetName, uint32_t Mode);
    // For a caller that extracts one archive's items through several archive
    // objects at once (one per thread): between BeginExtractionBatch and
    // EndExtractionBatch the extraction calls of this object count as one
    // (the folder reached last is kept from item to item), and the folder
    // modes they note are not applied but wait for TakeFolderModes. Once
    // every object has written everything, ApplyFolderModes applies the
    // modes of all of them, in item order, as one extraction would.
    void BeginExtractionBatch();
    void EndExtractionBatch();
    std::vector<std::pair<std::string, uint32_t>> TakeFolderModes();
    void ApplyFolderModes(std::vector<std::pair<std::string, uint32_t>> Modes);
    // The error object of the item failure being reported, while
    // OnProcessItemFailure runs; null for failures reported by code alone.
    std::exception_ptr CurrentFailure() const { return FCurrentFailure; }

    // --- properties
    const std::string& ArchiveName() const { return FArchiveName; }
    bool AutoSave() const { return FAutoSave; }
    void SetAutoSave(bool Value) { FAutoSave = Value; }
    const std::string& BaseDirectory() const { return FBaseDirectory; }
    // Removes one trailing separator (not from a root); a non-empty value
    // that is no existing directory raises EAbNoSuchDirectory.
    void SetBaseDirectory(const std::string& Value);
    int32_t Count() const { return FItemList ? FItemList->Count() : 0; }
    TAbArchiveItem* CurrentItem() const { return FCurrentItem; }
    bool DOSMode() const { return FDOSMode; }
    void SetDOSMode(bool Value) { FDOSMode = Value; }
    TAbExtractOptions ExtractOptions() const { return FExtractOptions; }
    void SetExtractOptions(TAbExtractOptions Value) { FExtractOptions = Value; }
    bool IsDirty() const { return FIsDirty; }
    void SetIsDirty(bool Value) { FIsDirty = Value; }
    TAbArchiveList& ItemList() const { return *FItemList; }
    TAbArchiveItem* Items(int32_t Index) const { return FItemList->Get(Index); }
    const std::string& LogFile() const { return FLogFile; }
    void SetLogFile(const std::string& Value) { FLogFile = Value; }
    bool Logging() const { return FLogging; }
    // Closes any open log; when on and LogFile is set, creates the log
    // ("Error creating Log File" when that fails).
    void SetLogging(bool Value);
    uint16_t Mode() const { return FMode; }
    bool Spanned() const { return FSpanned; }
    TAbArchiveStatus Status() const { return FStatus; }
    void SetStatus(TAbArchiveStatus Value) { FStatus = Value; }
    TAbStoreOptions StoreOptions() const { return FStoreOptions; }
    void SetStoreOptions(TAbStoreOptions Value) { FStoreOptions = Value; }
    const std::string& TempDirectory() const { return FTempDir; }
    void SetTempDirectory(const std::string& Value) { FTempDir = Value; }
    TStream* Stream() const { return FStream; }
    bool OwnsStream() const { return FOwnsStream; }
    TStream* InStream() const { return FInStream; }

    // --- events
    TAbArchiveItemFailureEvent OnProcessItemFailure;
    TAbArchiveProgressEvent OnArchiveProgress;
    TAbArchiveProgressEvent OnArchiveSaveProgress;
    TAbArchiveItemProgressEvent OnArchiveItemProgress;
    TAbArchiveItemConfirmEvent OnConfirmProcessItem;
    TAbConfirmOverwriteEvent OnConfirmOverwrite;
    // An item was extracted, but not quite as stored (Message says how).
    std::function<void(TAbArchive* Sender, TAbArchiveItem* Item, const std::string& Message)>
        OnItemWarning;
    TAbArchiveConfirmEvent OnConfirmSave;
    TAbArchiveEvent OnLoad;
    TAbArchiveEvent OnSave;
    TAbProgressEvent OnProgress; // preset to ReportProgress
    TAbRequestImageEvent OnRequestImage;

protected:
    // Opens FileName as a 32 KiB buffered file stream with Mode and owns it;
    // EFOpenError (no object) when it cannot be opened.
    TAbArchive(const std::string& FileName, uint16_t Mode);
    // Works on a caller's stream, which it does not own.
    TAbArchive(TStream* aStream, const std::string& aArchiveName);

    // EAbNoArchive when the archive is invalid.
    void RequireOpen() const;
    // Replaces the archive's stream; the archive owns the new one.
    void ReplaceStream(std::unique_ptr<TStream> NewStream);
    // Gives up the owned stream (nullptr when not owned).
    std::unique_ptr<TStream> ReleaseOwnedStream();
    void WriteLogLine(const std::string& Text, const std::string& Kind);
    // Extraction of one item of a format without a driver of its own. A
    // folder item makes the folder TargetName (with its parents) below the
    // base, without following links. A file item: Produce writes the data
    // into a new file beside TargetName, in the folder reached from the base
    // without links (EAbUnsafePath otherwise), which replaces TargetName only
    // when Produce returns; any failure removes the new file and leaves an
    // existing target as it was (a user abort also makes the archive
    // invalid). An existing target that may not be written is refused with
    // EFCreateError first. FileTime 0 keeps the time of writing.
    void WriteItemFolder(const std::string& TargetName, TDateTime FileTime);
    void WriteItemFile(const std::string& TargetName, TDateTime FileTime, bool ReadOnly,
                       const std::function<void(TStream*)>& Produce);

    TStream* FStream = nullptr;
    TAbArchiveStatus FStatus = asIdle;
    std::string FArchiveName;
    bool FAutoSave = false;
    std::string FBaseDirectory;
    TAbArchiveItem* FCurrentItem = nullptr;
    bool FDOSMode = false;
    TAbExtractOptions FExtractOptions;
    uint16_t FImageNumber = 0;
    TStream* FInStream = nullptr;
    bool FIsDirty = false;
    int64_t FSpanningThreshold = 0;
    // Shared with the views of this archive that other threads extract
    // from (TAbZipArchive's view constructor); owned by one archive otherwise.
    std::shared_ptr<TAbArchiveList> FItemList;
    std::string FLogFile;
    bool FLogging = false;
    std::unique_ptr<TBufferedFileStream> FLogStream;
    uint16_t FMode = 0;
    bool FOwnsStream = false;
    bool FSpanned = false;
    TAbStoreOptions FStoreOptions;
    std::string FTempDir;

private:
    TAbArchive(std::unique_ptr<TStream> OwnedStream, const std::string& FileName, uint16_t Mode);
    using TItemSelector = std::function<bool(TAbArchiveItem*)>;
    static TItemSelector MaskSelector(const std::string& FileMask,
                                      const std::string& ExclusionMask);
    static TItemSelector TaggedSelector();
    void ForSelectedBackwards(const TItemSelector& Selected,
                              const std::function<void(int32_t)>& Action);
    void ExtractLoop(const TItemSelector& Selected);
    // Runs one item's extraction step with the item current; a failure is
    // reported through OnProcessItemFailure instead of leaving.
    void ExtractReportingFailure(TAbArchiveItem* Item, const std::function<void()>& Step);
    void FreshenAt(int32_t Index);
    // Asks whether Item may be processed; when confirmed, marks it with Action
    // for the next save (saving now with AutoSave).
    void MarkForUpdate(TAbArchiveItem* Item, TAbProcessType ProcessType, TAbArchiveAction Action);
    std::unique_ptr<TStream> FOwnedStream;
    std::exception_ptr FCurrentFailure;
    // The folder OpenTargetFolder reached last, kept while an extraction call
    // runs (consecutive items mostly share their folder).
    std::string FLastFolderPath;
    TFolderHandle FLastFolder;
    bool FKeepFolders = false;
    // The target the last ResolveTargetPath found nothing at, if any.
    std::string FSeenAbsent;
    // Folders and modes RestoreFolderModeLater noted in this extraction.
    std::vector<std::pair<std::string, uint32_t>> FFolderModes;
    void RestoreFolderModes();
};

// Joins a stored name to a base directory so that the result lies inside it.
// Stored names may use '/' and '\'; empty and "." components are dropped.
// False when the name has a root, a drive ("C:"), a UNC prefix, or ".."
// components that climb above the base; KeepPath false keeps only the last
// component. The result uses the platform delimiter; an empty Base leaves it
// relative to the current directory.
bool AbJoinStoredName(const std::string& Base, std::string_view StoredName, bool KeepPath,
                      std::string& Target);

} // namespace kivo
