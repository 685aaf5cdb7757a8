// The unzipper component: owns one archive object, opens it when FileName
// (or Stream) is set, forwards the archive's events to its own, and gives a
// ZIP archive the extraction driver (archive/AbUnzPrc).
//
//   TAbBaseComponent -> TAbBaseBrowser -> TAbCustomZipBrowser
//                    -> TAbCustomUnZipper -> TAbUnZipper
//
// Typical use (the installer's):
//
//   TAbUnZipper UnZipper(nullptr);
//   UnZipper.SetFileName(Package);          // opens and loads the archive
//   UnZipper.SetBaseDirectory(Folder);
//   if (UnZipper.Count() > 0) UnZipper.ExtractFiles("*.*");
//   UnZipper.CloseArchive();
//
// Properties set while no archive is open are kept and given to the next
// one; properties set while one is open reach it at once. The archive's
// item failures always go through the component (OnProcessItemFailure), so
// extraction by mask goes on after a failed item.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/AbArcTyp.h"
#include "archive/AbZipTyp.h"
#include "runtime/Classes.h"

namespace kivo {

// A progress display a component can drive (a bar, a terminal line).
class IAbProgressMeter {
public:
    virtual ~IAbProgressMeter() = default;
    virtual void ShowProgress(uint8_t Progress) = 0;
    virtual void ResetProgress() = 0;
};

class TAbBaseComponent : public TComponent {
public:
    explicit TAbBaseComponent(TComponent* AOwner) : TComponent(AOwner) {}
};

class TAbBaseBrowser;

// The component's events carry the component as Sender (the archive's own
// events carry the archive).
using TAbBrowserEvent = std::function<void(TAbBaseBrowser* Sender)>;
using TAbBrowserProgressEvent =
    std::function<void(TAbBaseBrowser* Sender, uint8_t Progress, bool& Abort)>;
using TAbBrowserItemProgressEvent = std::function<void(TAbBaseBrowser* Sender, TAbArchiveItem* Item,
                                                       uint8_t Progress, bool& Abort)>;
using TAbBrowserItemConfirmEvent = std::function<void(TAbBaseBrowser* Sender, TAbArchiveItem* Item,
                                                      TAbProcessType ProcessType, bool& Confirm)>;
using TAbBrowserItemFailureEvent =
    std::function<void(TAbBaseBrowser* Sender, TAbArchiveItem* Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
using TAbBrowserNeedPasswordEvent =
    std::function<void(TAbBaseBrowser* Sender, std::string& NewPassword)>;

// ---------------------------------------------------------------------------
// TAbBaseBrowser: the archive object, its shared settings and events.

class TAbBaseBrowser : public TAbBaseComponent {
public:
    explicit TAbBaseBrowser(TComponent* AOwner);
    // Frees the archive without saving it.
    ~TAbBaseBrowser() override;

    // --- opening and closing
    const std::string& FileName() const { return FFileName; }
    // Opens the named archive (see TAbCustomZipBrowser).
    virtual void SetFileName(const std::string& Value) = 0;
    void OpenArchive(const std::string& aFileName) { SetFileName(aFileName); }
    // Sets FileName to "" when it is not empty (saving and freeing the
    // archive); otherwise nothing.
    void CloseArchive();

    // --- items
    int32_t Count() const { return FArchive ? FArchive->Count() : 0; }
    TAbArchiveStatus Status() const { return FArchive ? FArchive->Status() : asInvalid; }
    // EAbNoArchive without an archive, else the archive's operation.
    void ClearTags();
    void TagItems(const std::string& FileMask);
    void UnTagItems(const std::string& FileMask);
    // -1 without an archive.
    int32_t FindItem(const TAbArchiveItem* aItem) const;
    int32_t FindFile(const std::string& aFileName) const;

    // --- properties
    IAbProgressMeter* ArchiveProgressMeter() const { return FArchiveProgressMeter; }
    void SetArchiveProgressMeter(IAbProgressMeter* Value);
    IAbProgressMeter* ItemProgressMeter() const { return FItemProgressMeter; }
    void SetItemProgressMeter(IAbProgressMeter* Value);
    TAbArchiveType ArchiveType() const { return FArchiveType; }
    // Stored while no archive is open or the open one is idle; an invalid
    // or busy archive refuses with EAbArchiveBusy.
    void SetArchiveType(TAbArchiveType Value);
    bool ForceType() const { return FForceType; }
    void SetForceType(bool Value) { FForceType = Value; }
    const std::string& BaseDirectory() const { return FBaseDirectory; }
    // With an open archive the archive checks (EAbNoSuchDirectory) and
    // normalises the value and the component keeps the archive's form.
    void SetBaseDirectory(const std::string& Value);
    const std::string& LogFile() const { return FLogFile; }
    // Also switches Logging on for a name, off for "".
    void SetLogFile(const std::string& Value);
    bool Logging() const { return FLogging; }
    void SetLogging(bool Value);
    int32_t SpanningThreshold() const { return FSpanningThreshold; }
    void SetSpanningThreshold(int32_t Value) { FSpanningThreshold = Value; }
    const std::string& TempDirectory() const { return FTempDirectory; }
    void SetTempDirectory(const std::string& Value);
    const TAbRequestImageEvent& OnRequestImage() const { return FOnRequestImage; }
    // Called by the archive with itself as Sender.
    void SetOnRequestImage(TAbRequestImageEvent Value);

    // The archive object, or none.
    TAbArchive* Archive() const { return FArchive.get(); }

    // --- events (Sender: the component)
    TAbBrowserProgressEvent OnArchiveProgress;
    TAbBrowserItemProgressEvent OnArchiveItemProgress;
    TAbBrowserEvent OnChange;
    TAbBrowserItemConfirmEvent OnConfirmProcessItem;
    TAbBrowserEvent OnLoad;
    TAbBrowserItemFailureEvent OnProcessItemFailure;

protected:
    // Connects a newly created archive to the component; each level adds its
    // step. The base step: meters reset; spanning threshold, log file,
    // logging, temporary and base directory given to the archive (a missing
    // base directory raises EAbNoSuchDirectory here); events pointed at the
    // component's forwarders.
    virtual void ConnectArchive();
    // Saves (ignoring errors) and frees the archive, when there is one.
    void FreeArchive();
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // Forwarders of the archive's events.
    void DoArchiveProgress(uint8_t Progress, bool& Abort);
    void DoArchiveItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
    void DoConfirmProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm);
    void DoLoad();
    void DoProcessItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                              TAbErrorClass ErrorClass, int32_t ErrorCode);
    void DoChange();

    // EAbNoArchive without an archive.
    TAbArchive& RequireArchive() const;

    std::unique_ptr<TAbArchive> FArchive;
    int32_t FSpanningThreshold = 0;
    IAbProgressMeter* FItemProgressMeter = nullptr;
    IAbProgressMeter* FArchiveProgressMeter = nullptr;
    std::string FBaseDirectory;
    std::string FFileName;
    std::string FLogFile;
    bool FLogging = false;
    TAbRequestImageEvent FOnRequestImage;
    std::string FTempDirectory;
    TAbArchiveType FArchiveType = atUnknown;
    bool FForceType = false;

private:
    void SetMeter(IAbProgressMeter*& Slot, TComponent*& SlotComponent, IAbProgressMeter* Value);
    // The components behind the meters, when they are components (so that
    // a freed one clears its reference).
    TComponent* FItemMeterComponent = nullptr;
    TComponent* FArchiveMeterComponent = nullptr;
};

// ---------------------------------------------------------------------------
// TAbCustomZipBrowser: opening by name or stream, ZIP settings.

class TAbCustomZipBrowser : public TAbBaseBrowser {
public:
    explicit TAbCustomZipBrowser(TComponent* AOwner) : TAbBaseBrowser(AOwner) {}

    // Opening. A name that is no existing file raises EAbFileNotFound, an
    // empty file EAbBadStream; nothing has changed then. Otherwise the name
    // is taken, the old archive saved (errors ignored) and freed, and for a
    // non-empty name the type is detected (or ArchiveType with ForceType),
    // the archive created, connected and loaded, ArchiveType set and
    // OnChange fired. Types without a reader raise EAbUnhandledType. When
    // connecting or loading fails, the archive stays attached with what it
    // read, ArchiveType keeps its old value and OnChange does not fire.
    void SetFileName(const std::string& Value) override;
    // The same on a caller's stream, which the archive does not own;
    // FileName becomes "". nullptr only closes.
    void SetStream(TStream* Value);
    // The archive's stream, or none.
    TStream* Stream() const { return FArchive ? FArchive->Stream() : nullptr; }
    // Opens a view of Source's ZIP archive for another thread (see
    // TAbZipArchive's view constructor): the file opened again, the item
    // list Source read shared instead of read again. The archive is
    // connected as SetFileName connects it, so this component's settings
    // and events apply; FileName and ArchiveType become Source's. Call it on
    // Source's thread. EAbNoArchive when Source has no ZIP archive read from
    // a file; nothing has changed then.
    void OpenViewOf(TAbCustomZipBrowser& Source);

    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value);
    const TAbRequestDiskEvent& OnRequestLastDisk() const { return FOnRequestLastDisk; }
    void SetOnRequestLastDisk(TAbRequestDiskEvent Value);
    const TAbRequestNthDiskEvent& OnRequestNthDisk() const { return FOnRequestNthDisk; }
    void SetOnRequestNthDisk(TAbRequestNthDiskEvent Value);
    const TAbRequestDiskEvent& OnRequestBlankDisk() const { return FOnRequestBlankDisk; }
    void SetOnRequestBlankDisk(TAbRequestDiskEvent Value) {
        FOnRequestBlankDisk = std::move(Value);
    }
    bool TarAutoHandle() const { return FTarAutoHandle; }
    void SetTarAutoHandle(bool Value) { FTarAutoHandle = Value; }
    // Passed to a bzip2 archive before it is read (TAbBzip2Archive::
    // SetDecodeThreads); 1 by default.
    unsigned DecodeThreads() const { return FDecodeThreads; }
    void SetDecodeThreads(unsigned Value) { FDecodeThreads = Value; }
    // Passed to a ZIP archive before it is read (TAbZipArchive::
    // SetFindsShiftedOffsets); off by default.
    bool FindsShiftedOffsets() const { return FFindsShiftedOffsets; }
    void SetFindsShiftedOffsets(bool Value) { FFindsShiftedOffsets = Value; }

    // The ZIP archive, or none.
    TAbZipArchive* ZipArchive() const { return dynamic_cast<TAbZipArchive*>(FArchive.get()); }
    // An item of the open ZIP archive (EAbNoArchive without one).
    TAbZipItem* Items(int32_t Index) const;
    // The ZIP archive's comment; "" otherwise.
    std::string ZipfileComment() const;
    void SetZipfileComment(const std::string&) {} // read-only here

protected:
    // Adds: Password, OnRequestLastDisk and OnRequestNthDisk for a ZIP archive.
    void ConnectArchive() override;

    std::string FPassword;
    TAbRequestDiskEvent FOnRequestLastDisk;
    TAbRequestNthDiskEvent FOnRequestNthDisk;
    TAbRequestDiskEvent FOnRequestBlankDisk;
    bool FTarAutoHandle = false;
    unsigned FDecodeThreads = 1;
    bool FFindsShiftedOffsets = false;

private:
    // Creates the archive of Type over the named file or the stream.
    void CreateArchive(TAbArchiveType Type, const std::string& Name, TStream* Stream);
};

// ---------------------------------------------------------------------------
// TAbCustomUnZipper: extraction.

class TAbCustomUnZipper : public TAbCustomZipBrowser {
public:
    explicit TAbCustomUnZipper(TComponent* AOwner) : TAbCustomZipBrowser(AOwner) {}

    // Each raises EAbNoArchive without an archive, else runs the archive's
    // operation of the same name.
    void ExtractAt(int32_t Index, const std::string& NewName);
    void ExtractFiles(const std::string& FileMask);
    void ExtractFilesEx(const std::string& FileMask, const std::string& ExclusionMask);
    void ExtractToStream(const std::string& aFileName, TStream* aStream);
    void ExtractTaggedItems();
    void TestTaggedItems();

    TAbExtractOptions ExtractOptions() const { return FExtractOptions; }
    void SetExtractOptions(TAbExtractOptions Value);
    uint8_t PasswordRetries() const { return FPasswordRetries; }
    void SetPasswordRetries(uint8_t Value);

    // The target file of an item exists (Confirm starts true).
    TAbConfirmOverwriteEvent OnConfirmOverwrite;
    // An item was extracted, but not quite as stored (Message says how).
    std::function<void(TAbArchiveItem* Item, const std::string& Message)> OnItemWarning;
    // An encrypted item needs a (new) password; afterwards Password is set
    // to NewPassword.
    TAbBrowserNeedPasswordEvent OnNeedPassword;

protected:
    // Adds: extract options and the overwrite forwarder; for a ZIP archive
    // the password retries and request, and the driver's helpers.
    void ConnectArchive() override;
    void DoConfirmOverwrite(std::string& Name, bool& Confirm);
    void DoNeedPassword(std::string& NewPassword);

    TAbExtractOptions FExtractOptions{eoCreateDirs};
    uint8_t FPasswordRetries = 3;
};

// The component with its properties published; Version is always "5.0".
class TAbUnZipper : public TAbCustomUnZipper {
public:
    explicit TAbUnZipper(TComponent* AOwner) : TAbCustomUnZipper(AOwner) {}
    std::string Version() const { return "5.0"; }
    void SetVersion(const std::string&) {}
};

} // namespace kivo
