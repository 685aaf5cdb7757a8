// File copies of TWebCopy: one file from a local path, or from a network
// share the job connects with its own credentials, into a local folder.
#include <vector>

#include "platform/FileSystem.h"
#include "platform/NetShare.h"
#include "platform/ReplacingFile.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {

// The block size of a copy. 32 KiB blocks made a copy of 1 GiB cost 32,768
// system calls, which left it at 0.6 to 0.8 of cp's speed; with 1 MiB blocks
// it keeps up with cp, and the dialog still moves several times a second.
constexpr size_t CopyBufferSize = 1024 * 1024;

bool IsPathSeparator(char C) {
    return C == '/' || C == '\\';
}

// Path without a leading "FILE://" (any letter case).
std::string WithoutFilePrefix(const std::string& Path) {
    constexpr std::string_view Prefix = "FILE://";
    if (Path.size() >= Prefix.size() && SameTextAscii(Path.substr(0, Prefix.size()), Prefix))
        return Path.substr(Prefix.size());
    return Path;
}

// The folder part of a path as the file line names it: the path without its
// last component; a separator that follows a separator or a drive's colon
// (a root) is kept.
std::string FolderText(const std::string& Path) {
    const size_t Last = Path.find_last_of("/\\");
    if (Last == std::string::npos) return std::string();
    size_t End = Last + 1;
    if (Last > 0 && IsPathSeparator(Path[Last]) && !IsPathSeparator(Path[Last - 1]) &&
        Path[Last - 1] != ':')
        End = Last;
    return Path.substr(0, End);
}

// The new file beside the target; nullptr when the target cannot be
// replaced (no name, a folder or a read-only file in its place) or the new
// file cannot be made.
std::unique_ptr<TReplacingFile> CreateCopyTarget(const std::string& Path) {
    const std::string Name = ExtractFileName(Path);
    if (Name.empty() || Name == "." || Name == ".." || Name.size() > MaxFileNameLength)
        return nullptr;
    if (ReplaceRefusal(Path) != 0) return nullptr;
    try {
        return std::make_unique<TReplacingFile>(Path);
    } catch (const EFCreateError&) {
        return nullptr;
    }
}

} // namespace

bool TWebCopy::FileCopy(TWebCopyJob& Job) {
    PlayClip(0);
    SetFileLine(FDlgFileLabel + " " + CounterText() + URLFileName(Job.URL) + " " +
                FDlgFromServerLabel + " " + (Job.Host.empty() ? FolderText(Job.URL) : Job.Host));
    if (Job.Host.empty()) return CopySourceFile(Job);

    TNetResource Share;
    Share.RemoteName = Job.Host;
    if (WNetAddConnection2W(Share, Job.Password, Job.UserID, 0) != 0) {
        // Nothing was connected, so there is nothing to disconnect either.
        if (OnConnectError) OnConnectError(this);
        return false;
    }
    bool Ok = false;
    try {
        Ok = CopySourceFile(Job);
    } catch (...) {
        (void)WNetCancelConnection2W(Job.Host, CONNECT_UPDATE_PROFILE, true);
        throw;
    }
    if (WNetCancelConnection2W(Job.Host, CONNECT_UPDATE_PROFILE, true) != 0) {
        if (OnConnectError) OnConnectError(this);
        Ok = false;
    }
    return Ok;
}

bool TWebCopy::CopySourceFile(TWebCopyJob& Job) {
    const uint64_t Start = GetTickCount64();
    const std::string Source =
        WithoutFilePrefix(Job.Host.empty() ? Job.URL : Job.Host + "\\" + Job.URL);
    std::string Target = JoinPath(Job.TargetDir, Job.TargetFilename.empty() ? URLFileName(Job.URL)
                                                                            : Job.TargetFilename);
    FLastFile = Target;
    FLastDir = Job.TargetDir;
    const std::string IdenticalText = "Cannot copy identical files " + Source;
    if (Source == Target) {
        ReportError(wceIdenticalFiles, IdenticalText);
        return false;
    }

    uint32_t OpenError = 0;
    std::unique_ptr<TReadableFile> File = OpenReadableFile(Source, OpenError);
    if (!File) {
        ReportError(wceOpenSource, "Cannot open source file " + Source);
        return false;
    }
    // The same file under another spelling: copying it onto itself would
    // gain nothing and, written in place, would destroy it.
    if (File->IsSameFileAs(Target)) {
        ReportError(wceIdenticalFiles, IdenticalText);
        return false;
    }
    if (!SourceDateAllows(Job, *File, Source)) return false;

    const int64_t Size = File->Seek(0, soEnd);
    if (Size < 0 || File->Seek(0, soBeginning) != 0) {
        ReportError(wceZeroLengthSource, "Zero length source file " + Source);
        return false;
    }

    std::unique_ptr<TReplacingFile> Out = OpenCopyTarget(Target);
    if (!Out) return false;
    return CopyBlocks(*File, *Out, Source, static_cast<uint64_t>(Size), Start);
}

bool TWebCopy::SourceDateAllows(TWebCopyJob& Job, TReadableFile& File, const std::string& Source) {
    if (!Job.CopyNewerOnly && !OnFileDateCheck) return true;
    TFileStatus Status;
    const TDateTime SourceDate = File.GetStatus(Status) ? Status.LastWriteTime : 0;
    if (OnFileDateCheck) {
        bool Allow = true;
        OnFileDateCheck(this, Job.Idx, SourceDate, Allow);
        if (!Allow) return false;
    } else if (Job.Date >= SourceDate) {
        Job.NoNewVersion = true;
        Job.Date = SourceDate;
        if (OnNoNewFileFound) OnNoNewFileFound(this, Source, SourceDate, SourceDate);
        return false;
    }
    Job.Date = SourceDate;
    return true;
}

std::unique_ptr<TReplacingFile> TWebCopy::OpenCopyTarget(std::string& Target) {
    if (FileExists(Target)) {
        bool Allow = true;
        if (OnCopyOverWrite) OnCopyOverWrite(this, Target, Allow);
        if (!Allow) return nullptr;
        if (FCreateUniqueFilenames) {
            Target = UniqueFileName(Target);
            FLastFile = Target;
        }
    }
    (void)ForceDirectories(ExtractFilePath(Target));
    std::unique_ptr<TReplacingFile> Out = CreateCopyTarget(Target);
    if (!Out) ReportError(wceCreateFile, "Cannot create target file " + Target);
    return Out;
}

namespace {

// One block from In to Out: inside the kernel while that works for two local
// files, else read into Buffer and written. The bytes copied, 0 at the end,
// -1 on a read error; EInOutError on a write error.
int64_t CopyBlock(TReadableFile& In, TReplacingFile& Out, std::vector<uint8_t>& Buffer,
                  bool& InKernel) {
    const auto Count = static_cast<int64_t>(Buffer.size());
    if (InKernel) {
        const int64_t Got = Out.SpliceFrom(In.LocalHandle(), Count);
        if (Got > 0) return Got;
        // Nothing was copied: the block is read and written below, which
        // tells which side failed, and the end is confirmed by a read (some
        // kernels copy nothing from files that report no size, such as
        // those of /proc).
        InKernel = false;
    }
    const int64_t Got = In.Read(Buffer.data(), Count);
    if (Got > 0) Out.Write(Buffer.data(), Got);
    return Got;
}

} // namespace

bool TWebCopy::CopyBlocks(TReadableFile& In, TReplacingFile& Out, const std::string& Source,
                          uint64_t Size, uint64_t Start) {
    std::vector<uint8_t> Buffer(CopyBufferSize);
    bool InKernel = In.LocalHandle() >= 0;
    FCancelled = false;
    uint64_t Total = 0;
    int64_t Got = 0;
    do {
        try {
            Got = CopyBlock(In, Out, Buffer, InKernel);
        } catch (const EInOutError&) {
            ReportError(wceWriteTarget, "Error writing to destination file " + Out.TargetName());
            return false;
        }
        if (Got < 0) {
            ReportError(wceReadSource, "Error reading source file " + Source);
            return false;
        }
        Total += static_cast<uint64_t>(Got);
        ShowCopyProgress(Total, Size, Start);
        if (OnCopyProgress)
            OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total),
                           static_cast<uint32_t>(Size));
        ProcessMessages();
    } while (Got > 0 && !FCancelled);

    // Only a whole copy replaces the target; a cancelled one goes with Out.
    if (FCancelled) return false;
    try {
        Out.Commit();
    } catch (const EInOutError&) {
        ReportError(wceWriteTarget, "Error writing to destination file " + Out.TargetName());
        return false;
    } catch (const EFCreateError&) {
        ReportError(wceCreateFile, "Cannot create target file " + Out.TargetName());
        return false;
    }
    return true;
}

void TWebCopy::ShowCopyProgress(uint64_t Done, uint64_t Size, uint64_t StartTick) {
    const bool Alive = DialogAlive();
    const int Position =
        Size > 0 ? static_cast<int>(
                       RoundHalfEven(static_cast<double>(Done) / static_cast<double>(Size) * 100.0))
                 : 100;
    if (Alive) {
        FProgress->SetPosition(Position);
        FSizeLbl->SetCaption(FDlgProgressLabel + " " + SizeText(static_cast<int64_t>(Done)) + " " +
                             FDlgFileOfLabel + " " + SizeText(static_cast<int64_t>(Size)));
    }

    uint64_t Elapsed = GetTickCount64() - StartTick;
    FRateStr = RateText(
        RoundHalfEven(static_cast<double>(Done) / static_cast<double>(Elapsed + 1) * 1000.0));
    if (Alive) FRateLbl->SetCaption(FDlgRateLabel + " " + FRateStr);

    if (FShowCompletion && Alive)
        FForm->SetCaption(FDlgCopying + " : " + IntToStr(FProgress->Position()) + "% " +
                          FDlgCompleted);

    Elapsed = GetTickCount64() - StartTick;
    FTimeLeftStr = TimeText(Elapsed, Done, Size, FDlgTimeSec, FDlgTimeMin);
    if (Alive) FTimeLbl->SetCaption(FDlgTimeLabel + " " + FTimeLeftStr);

    Elapsed = GetTickCount64() - StartTick;
    FElapsedTimeStr = TimeText(Elapsed, 0, Size, FDlgTimeSec, FDlgTimeMin);
    if (Alive) FElapsedTimeLbl->SetCaption(FDlgElapsedTimeLabel + " " + FElapsedTimeStr);
}

} // namespace kivo::webcopy
