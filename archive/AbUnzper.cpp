#include "archive/AbUnzper.h"

#include "archive/AbBrowse.h"
#include "archive/AbUnzPrc.h"
#include "platform/FileSystem.h"

namespace kivo {

// ---------------------------------------------------------------------------
// TAbBaseBrowser

TAbBaseBrowser::TAbBaseBrowser(TComponent* AOwner) : TAbBaseComponent(AOwner) {}

TAbBaseBrowser::~TAbBaseBrowser() {
    // The archive's events point at this component: it goes first.
    FArchive.reset();
}

void TAbBaseBrowser::CloseArchive() {
    if (!FFileName.empty()) SetFileName("");
}

void TAbBaseBrowser::FreeArchive() {
    if (!FArchive) return;
    try {
        FArchive->Save();
    } catch (...) {
        // Closing goes on whatever saving says.
    }
    FArchive.reset();
}

TAbArchive& TAbBaseBrowser::RequireArchive() const {
    if (!FArchive) throw EAbNoArchive();
    return *FArchive;
}

void TAbBaseBrowser::ClearTags() {
    RequireArchive().ClearTags();
}
void TAbBaseBrowser::TagItems(const std::string& FileMask) {
    RequireArchive().TagItems(FileMask);
}
void TAbBaseBrowser::UnTagItems(const std::string& FileMask) {
    RequireArchive().UnTagItems(FileMask);
}

int32_t TAbBaseBrowser::FindItem(const TAbArchiveItem* aItem) const {
    return FArchive ? FArchive->FindItem(aItem) : -1;
}

int32_t TAbBaseBrowser::FindFile(const std::string& aFileName) const {
    return FArchive ? FArchive->FindFile(aFileName) : -1;
}

void TAbBaseBrowser::SetMeter(IAbProgressMeter*& Slot, TComponent*& SlotComponent,
                              IAbProgressMeter* Value) {
    if (Slot == Value) return;
    TComponent* Old = SlotComponent;
    Slot = Value;
    SlotComponent = dynamic_cast<TComponent*>(Value);
    if (SlotComponent != nullptr) FreeNotification(SlotComponent);
    // Keep the notification while the other slot still uses that component.
    if (Old != nullptr && Old != FItemMeterComponent && Old != FArchiveMeterComponent)
        RemoveFreeNotification(Old);
}

void TAbBaseBrowser::SetArchiveProgressMeter(IAbProgressMeter* Value) {
    SetMeter(FArchiveProgressMeter, FArchiveMeterComponent, Value);
}

void TAbBaseBrowser::SetItemProgressMeter(IAbProgressMeter* Value) {
    SetMeter(FItemProgressMeter, FItemMeterComponent, Value);
}

void TAbBaseBrowser::Notification(TComponent* AComponent, TOperation Operation) {
    TAbBaseComponent::Notification(AComponent, Operation);
    if (Operation != opRemove || AComponent == nullptr) return;
    if (AComponent == FItemMeterComponent) {
        FItemProgressMeter = nullptr;
        FItemMeterComponent = nullptr;
    }
    if (AComponent == FArchiveMeterComponent) {
        FArchiveProgressMeter = nullptr;
        FArchiveMeterComponent = nullptr;
    }
}

void TAbBaseBrowser::SetArchiveType(TAbArchiveType Value) {
    if (FArchive && FArchive->Status() != asIdle) throw EAbArchiveBusy();
    FArchiveType = Value;
}

void TAbBaseBrowser::SetBaseDirectory(const std::string& Value) {
    if (FArchive) {
        FArchive->SetBaseDirectory(Value);
        FBaseDirectory = FArchive->BaseDirectory();
    } else {
        FBaseDirectory = Value;
    }
}

void TAbBaseBrowser::SetLogFile(const std::string& Value) {
    FLogFile = Value;
    if (FArchive) FArchive->SetLogFile(Value);
    SetLogging(!Value.empty());
}

void TAbBaseBrowser::SetLogging(bool Value) {
    FLogging = Value;
    if (FArchive) FArchive->SetLogging(Value);
}

void TAbBaseBrowser::SetTempDirectory(const std::string& Value) {
    FTempDirectory = Value;
    if (FArchive) FArchive->SetTempDirectory(Value);
}

void TAbBaseBrowser::SetOnRequestImage(TAbRequestImageEvent Value) {
    FOnRequestImage = std::move(Value);
    if (FArchive) FArchive->OnRequestImage = FOnRequestImage;
}

void TAbBaseBrowser::ConnectArchive() {
    if (FItemProgressMeter != nullptr) FItemProgressMeter->ResetProgress();
    if (FArchiveProgressMeter != nullptr) FArchiveProgressMeter->ResetProgress();
    TAbArchive& A = *FArchive;
    A.SetSpanningThreshold(FSpanningThreshold);
    A.SetLogFile(FLogFile);
    A.SetLogging(FLogging);
    A.SetTempDirectory(FTempDirectory);
    A.SetBaseDirectory(FBaseDirectory);
    A.OnArchiveProgress = [this](TAbArchive*, uint8_t Progress, bool& Abort) {
        DoArchiveProgress(Progress, Abort);
    };
    A.OnArchiveItemProgress = [this](TAbArchive*, TAbArchiveItem* Item, uint8_t Progress,
                                     bool& Abort) { DoArchiveItemProgress(Item, Progress, Abort); };
    A.OnConfirmProcessItem = [this](TAbArchive*, TAbArchiveItem* Item, TAbProcessType ProcessType,
                                    bool& Confirm) {
        DoConfirmProcessItem(Item, ProcessType, Confirm);
    };
    A.OnLoad = [this](TAbArchive*) { DoLoad(); };
    A.OnProcessItemFailure = [this](TAbArchive*, TAbArchiveItem* Item, TAbProcessType ProcessType,
                                    TAbErrorClass ErrorClass, int32_t ErrorCode) {
        DoProcessItemFailure(Item, ProcessType, ErrorClass, ErrorCode);
    };
    A.OnRequestImage = FOnRequestImage;
}

void TAbBaseBrowser::DoArchiveProgress(uint8_t Progress, bool& Abort) {
    Abort = false;
    if (FArchiveProgressMeter != nullptr) FArchiveProgressMeter->ShowProgress(Progress);
    if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbBaseBrowser::DoArchiveItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
    Abort = false;
    if (FItemProgressMeter != nullptr) FItemProgressMeter->ShowProgress(Progress);
    if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbBaseBrowser::DoConfirmProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                          bool& Confirm) {
    if (FItemProgressMeter != nullptr) FItemProgressMeter->ResetProgress();
    Confirm = true;
    if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
}

void TAbBaseBrowser::DoLoad() {
    if (OnLoad) OnLoad(this);
}

void TAbBaseBrowser::DoProcessItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                          TAbErrorClass ErrorClass, int32_t ErrorCode) {
    if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbBaseBrowser::DoChange() {
    if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------
// TAbCustomZipBrowser

namespace {

// An archive of class T over Stream, or over the file Name opened for reading
// when there is no stream.
template <class T> std::unique_ptr<T> OpenArchiveAs(TStream* Stream, const std::string& Name) {
    if (Stream != nullptr) return std::make_unique<T>(Stream, Name);
    return std::make_unique<T>(Name, fmOpenRead | fmShareDenyNone);
}

} // namespace

void TAbCustomZipBrowser::CreateArchive(TAbArchiveType Type, const std::string& Name,
                                        TStream* Stream) {
    switch (Type) {
    case atZip:
    case atSpannedZip:
    case atSelfExtZip: FArchive = OpenArchiveAs<TAbZipArchive>(Stream, Name); break;
    case atTar: FArchive = OpenArchiveAs<TAbTarArchive>(Stream, Name); break;
    case atGzip:
    case atGzippedTar: {
        auto Gzip = OpenArchiveAs<TAbGzipArchive>(Stream, Name);
        Gzip->SetIsGzippedTar(Type == atGzippedTar);
        Gzip->SetTarAutoHandle(FTarAutoHandle);
        FArchive = std::move(Gzip);
        break;
    }
    case atBzip2:
    case atBzippedTar: {
        auto Bzip2 = OpenArchiveAs<TAbBzip2Archive>(Stream, Name);
        Bzip2->SetIsBzippedTar(Type == atBzippedTar);
        Bzip2->SetTarAutoHandle(FTarAutoHandle);
        Bzip2->SetDecodeThreads(FDecodeThreads);
        FArchive = std::move(Bzip2);
        break;
    }
    default:
        // Cabinet files are only recognised; unknown content is not read.
        throw EAbUnhandledType();
    }
}

void TAbCustomZipBrowser::SetFileName(const std::string& Value) {
    if (!Value.empty()) {
        if (!FileExists(Value)) throw EAbFileNotFound();
        if (FileSizeOf(Value) <= 0) throw EAbBadStream();
    }
    FFileName = Value;
    if ((ComponentState() & csDesigning) != 0) return;
    FreeArchive();
    if (!Value.empty()) {
        const TAbArchiveType Type = FForceType ? FArchiveType : DetectArchiveType(Value);
        CreateArchive(Type, Value, nullptr);
        ConnectArchive();
        FArchive->Load();
        FArchiveType = Type;
    }
    DoChange();
}

void TAbCustomZipBrowser::SetStream(TStream* Value) {
    FFileName.clear();
    if ((ComponentState() & csDesigning) != 0) return;
    FreeArchive();
    if (Value != nullptr) {
        const TAbArchiveType Type = FForceType ? FArchiveType : DetectStreamArchiveType(Value);
        CreateArchive(Type, "", Value);
        ConnectArchive();
        FArchive->Load();
        FArchiveType = Type;
    }
    DoChange();
}

void TAbCustomZipBrowser::OpenViewOf(TAbCustomZipBrowser& Source) {
    TAbZipArchive* Zip = Source.ZipArchive();
    if (Zip == nullptr) throw EAbNoArchive();
    auto View = std::make_unique<TAbZipArchive>(*Zip, TAbZipArchive::TViewOf{});
    FreeArchive();
    FFileName = Source.FileName();
    FArchive = std::move(View);
    ConnectArchive();
    FArchiveType = Source.ArchiveType();
    DoChange();
}

void TAbCustomZipBrowser::SetPassword(const std::string& Value) {
    FPassword = Value;
    if (TAbZipArchive* Zip = ZipArchive()) Zip->SetPassword(Value);
}

void TAbCustomZipBrowser::SetOnRequestLastDisk(TAbRequestDiskEvent Value) {
    FOnRequestLastDisk = std::move(Value);
    if (TAbZipArchive* Zip = ZipArchive()) Zip->OnRequestLastDisk = FOnRequestLastDisk;
}

void TAbCustomZipBrowser::SetOnRequestNthDisk(TAbRequestNthDiskEvent Value) {
    FOnRequestNthDisk = std::move(Value);
    if (TAbZipArchive* Zip = ZipArchive()) Zip->OnRequestNthDisk = FOnRequestNthDisk;
}

TAbZipItem* TAbCustomZipBrowser::Items(int32_t Index) const {
    TAbZipArchive* Zip = ZipArchive();
    if (Zip == nullptr) throw EAbNoArchive();
    return Zip->ZipItems(Index);
}

std::string TAbCustomZipBrowser::ZipfileComment() const {
    TAbZipArchive* Zip = ZipArchive();
    return Zip != nullptr ? Zip->ZipfileComment() : std::string();
}

void TAbCustomZipBrowser::ConnectArchive() {
    TAbBaseBrowser::ConnectArchive();
    if (TAbZipArchive* Zip = ZipArchive()) {
        Zip->SetPassword(FPassword);
        Zip->SetFindsShiftedOffsets(FFindsShiftedOffsets);
        Zip->OnRequestLastDisk = FOnRequestLastDisk;
        Zip->OnRequestNthDisk = FOnRequestNthDisk;
    }
}

// ---------------------------------------------------------------------------
// TAbCustomUnZipper

void TAbCustomUnZipper::ExtractAt(int32_t Index, const std::string& NewName) {
    RequireArchive().ExtractAt(Index, NewName);
}

void TAbCustomUnZipper::ExtractFiles(const std::string& FileMask) {
    RequireArchive().ExtractFiles(FileMask);
}

void TAbCustomUnZipper::ExtractFilesEx(const std::string& FileMask,
                                       const std::string& ExclusionMask) {
    RequireArchive().ExtractFilesEx(FileMask, ExclusionMask);
}

void TAbCustomUnZipper::ExtractToStream(const std::string& aFileName, TStream* aStream) {
    RequireArchive().ExtractToStream(aFileName, aStream);
}

void TAbCustomUnZipper::ExtractTaggedItems() {
    RequireArchive().ExtractTaggedItems();
}

void TAbCustomUnZipper::TestTaggedItems() {
    RequireArchive().TestTaggedItems();
}

void TAbCustomUnZipper::SetExtractOptions(TAbExtractOptions Value) {
    FExtractOptions = Value;
    if (FArchive) FArchive->SetExtractOptions(Value);
}

void TAbCustomUnZipper::SetPasswordRetries(uint8_t Value) {
    FPasswordRetries = Value;
    if (TAbZipArchive* Zip = ZipArchive()) Zip->SetPasswordRetries(Value);
}

void TAbCustomUnZipper::ConnectArchive() {
    TAbCustomZipBrowser::ConnectArchive();
    FArchive->SetExtractOptions(FExtractOptions);
    FArchive->OnConfirmOverwrite = [this](std::string& Name, bool& Confirm) {
        DoConfirmOverwrite(Name, Confirm);
    };
    FArchive->OnItemWarning = [this](TAbArchive*, TAbArchiveItem* Item,
                                     const std::string& Message) {
        if (OnItemWarning) OnItemWarning(Item, Message);
    };
    if (TAbZipArchive* Zip = ZipArchive()) {
        Zip->SetPasswordRetries(FPasswordRetries);
        Zip->OnNeedPassword = [this](TAbArchive*, std::string& NewPassword) {
            DoNeedPassword(NewPassword);
        };
        Zip->ExtractHelper = [Zip](TAbArchive*, TAbArchiveItem* Item, const std::string& NewName) {
            WriteItemToFile(*Zip, static_cast<TAbZipItem*>(Item), NewName);
        };
        Zip->ExtractToStreamHelper = [Zip](TAbArchive*, TAbArchiveItem* Item, TStream* OutStream) {
            WriteItemToStream(*Zip, static_cast<TAbZipItem*>(Item), OutStream);
        };
        Zip->TestHelper = [Zip](TAbArchive*, TAbArchiveItem* Item) {
            VerifyZipItem(*Zip, static_cast<TAbZipItem*>(Item));
        };
    }
}

void TAbCustomUnZipper::DoConfirmOverwrite(std::string& Name, bool& Confirm) {
    Confirm = true;
    if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

void TAbCustomUnZipper::DoNeedPassword(std::string& NewPassword) {
    if (!OnNeedPassword) return;
    OnNeedPassword(this, NewPassword);
    SetPassword(NewPassword);
}

} // namespace kivo
