// kivo-unzip: lists, tests and extracts ZIP archives, tar archives (also
// inside gzip and bzip2 files) and gzip and bzip2 files with the archive
// engine.
//
//   kivo-unzip list [--tsv] ARCHIVE          readable listing / one tab-separated line per item
//   kivo-unzip x ARCHIVE [-d DIR] [MASK...]  extract with the stored folders
//   kivo-unzip e ARCHIVE [-d DIR] [MASK...]  extract every file into one folder
//   kivo-unzip t ARCHIVE [MASK...]           test every item
//
// Exit status: 0 when everything succeeded, 1 when an item failed (and for
// usage and output errors), 2 when the archive cannot be opened or the -d
// folder cannot be made. Failed items are reported one line each on stderr
// with the engine's message, then counted.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/AbBrowse.h"
#include "archive/AbExcept.h"
#include "archive/AbUnzper.h"
#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "platform/Terminal.h"
#include "runtime/Application.h"
#include "runtime/Classes.h"
#include "runtime/SysMessages.h"

using namespace kivo;

namespace {

constexpr const char* ProgramName = "kivo-unzip";
constexpr const char* ProgramVersion = "1.0.0";
constexpr const char* CabinetRefusal = "cabinet files are recognised but not extracted";

void PrintUsage(std::FILE* Out) {
    std::fprintf(
        Out,
        "Usage: %s list [--tsv] ARCHIVE\n"
        "       %s x ARCHIVE [-d DIR] [-p PASSWORD] [-o|-n] [-q] [MASK...] [-x MASK...]\n"
        "       %s e ARCHIVE [-d DIR] [-p PASSWORD] [-o|-n] [-q] [MASK...] [-x MASK...]\n"
        "       %s t ARCHIVE [-p PASSWORD] [-q] [MASK...] [-x MASK...]\n"
        "       %s --help | --version\n"
        "\n"
        "Lists, tests and extracts ZIP archives (Zip64, split sets, self-extractors,\n"
        "traditional encryption), tar archives (ustar, GNU, PAX), gzip and bzip2 files\n"
        "and tar archives inside them (.tar.gz, .tgz, .tar.bz2, .tbz). Cabinet files are\n"
        "recognised but not extracted. Tar links are extracted as empty files.\n"
        "\n"
        "  list ARCHIVE        readable listing with sizes, method, CRC-32, date and name\n"
        "  list --tsv ARCHIVE  one line per item with these tab-separated columns:\n"
        "                      stored name, uncompressed size, compressed size,\n"
        "                      method number, CRC-32 (8 hex digits),\n"
        "                      last modification (YYYY-MM-DD hh:mm:ss),\n"
        "                      attributes (2 hex digits), d for a directory else -,\n"
        "                      e for an encrypted item else -\n"
        "  x ARCHIVE           extract, restoring the stored folders\n"
        "  e ARCHIVE           extract every file into one folder, without the stored folders\n"
        "  t ARCHIVE           test every item: headers, decoding and CRC-32\n"
        "\n"
        "  -d DIR              extract into DIR (made when missing; default: the current folder)\n"
        "  -p PASSWORD         password of encrypted items; without it a terminal is asked\n"
        "  -o                  overwrite existing files without asking\n"
        "  -n                  never overwrite existing files\n"
        "  -q                  no progress display\n"
        "  MASK...             only items whose stored names match (* and ?; a mask with a\n"
        "                      folder part also matches the folders); default: all\n"
        "  -x MASK...          leave out items matching any of the masks that follow\n"
        "  --help              show this help\n"
        "  --version           show the version\n"
        "\n"
        "Without -o or -n an existing file or link is kept unless the terminal answers to\n"
        "replace it. A file is replaced only once its new contents are complete and have\n"
        "passed their CRC check; a failed item leaves the old file as it was (data that\n"
        "fails the check is kept only where no file was). Items are not extracted whose\n"
        "stored names lead outside DIR or whose way there passes a symbolic link inside\n"
        "DIR, nor data that runs past its declared size or overlaps another entry.\n"
        "Each failed item is reported on a line of its own and the others go on; a last\n"
        "line counts the failures. Control characters in names are shown as '?'.\n"
        "Exit status: 0 success, 1 an item failed (or a usage or output error),\n"
        "2 the archive cannot be opened or DIR cannot be made.\n",
        ProgramName, ProgramName, ProgramName, ProgramName, ProgramName);
}

// Output collected in a large buffer and written in big blocks.
class TOutput {
public:
    ~TOutput() { Flush(); }
    TOutput() { FBuffer.reserve(FlushAt + 4096); }
    void Add(std::string_view Text) { FBuffer.append(Text); }
    void Add(char C) { FBuffer.push_back(C); }
    void Number(uint64_t Value, int Width = 0) {
        char Buf[24];
        auto Res = std::to_chars(Buf, Buf + sizeof Buf, Value);
        for (int Pad = Width - static_cast<int>(Res.ptr - Buf); Pad > 0; --Pad)
            FBuffer.push_back(' ');
        FBuffer.append(Buf, Res.ptr);
    }
    void Hex(uint32_t Value, int Digits) {
        static const char Digit[] = "0123456789abcdef";
        for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4)
            FBuffer.push_back(Digit[(Value >> Shift) & 0xF]);
    }
    void TwoDigits(unsigned Value) {
        FBuffer.push_back(static_cast<char>('0' + Value / 10 % 10));
        FBuffer.push_back(static_cast<char>('0' + Value % 10));
    }
    // Names: control characters (which could steer a terminal or break a
    // line-based reader) become '?'.
    void Name(std::string_view Text) {
        for (char C : Text) {
            auto U = static_cast<unsigned char>(C);
            FBuffer.push_back(U < 0x20 || U == 0x7F ? '?' : C);
        }
    }
    void Flush() {
        if (FBuffer.empty()) return;
        if (std::fwrite(FBuffer.data(), 1, FBuffer.size(), stdout) != FBuffer.size())
            FFailed = true;
        FBuffer.clear();
    }
    // Called after each line, so the buffer stays near FlushAt bytes.
    void EndLine() {
        FBuffer.push_back('\n');
        if (FBuffer.size() >= FlushAt) Flush();
    }
    bool Failed() {
        Flush();
        if (std::fflush(stdout) != 0) FFailed = true;
        return FFailed;
    }

private:
    static constexpr size_t FlushAt = 256 * 1024;
    std::string FBuffer;
    bool FFailed = false;
};

// "YYYY-MM-DD hh:mm:ss" of DOS date and time words; the zero date-time when
// they do not form a valid date and time.
void AddDosDateTime(TOutput& Out, uint16_t Date, uint16_t Time) {
    if (DosToDateTime(Date, Time) == 0.0) {
        Out.Add("1899-12-30 00:00:00");
        return;
    }
    Out.Number(1980u + (Date >> 9));
    Out.Add('-');
    Out.TwoDigits((Date >> 5) & 15);
    Out.Add('-');
    Out.TwoDigits(Date & 31);
    Out.Add(' ');
    Out.TwoDigits(Time >> 11);
    Out.Add(':');
    Out.TwoDigits((Time >> 5) & 63);
    Out.Add(':');
    Out.TwoDigits((Time & 31) * 2);
}

std::string MethodName(uint8_t Method) {
    switch (Method) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 2:
    case 3:
    case 4:
    case 5: return "reduced" + std::to_string(Method - 1);
    case 6: return "imploded";
    case 8: return "deflated";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "lzma";
    case 97: return "wavpack";
    case 98: return "ppmd";
    default: return "method" + std::to_string(Method);
    }
}

// The method column: ZIP's method number; a gzip item deflated (8), a bzip2
// item bzip2 (12), a tar item stored (0).
uint8_t MethodOf(const TAbArchiveItem* Item) {
    if (const auto* Zip = dynamic_cast<const TAbZipItem*>(Item)) return Zip->CompressionMethod();
    if (dynamic_cast<const TAbGzipItem*>(Item) != nullptr) return 8;
    if (dynamic_cast<const TAbBzip2Item*>(Item) != nullptr) return 12;
    return 0;
}

void ListTsv(TAbArchive& Archive, TOutput& Out) {
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        const TAbArchiveItem* Item = Archive.Items(I);
        Out.Name(Item->FileNameView());
        Out.Add('\t');
        Out.Number(static_cast<uint64_t>(Item->UncompressedSize()));
        Out.Add('\t');
        Out.Number(static_cast<uint64_t>(Item->CompressedSize()));
        Out.Add('\t');
        Out.Number(MethodOf(Item));
        Out.Add('\t');
        Out.Hex(Item->CRC32(), 8);
        Out.Add('\t');
        AddDosDateTime(Out, Item->LastModFileDate(), Item->LastModFileTime());
        Out.Add('\t');
        Out.Hex(Item->NativeFileAttributes() & 0xFF, 2);
        Out.Add('\t');
        Out.Add(Item->IsDirectory() ? 'd' : '-');
        Out.Add('\t');
        Out.Add(Item->IsEncrypted() ? 'e' : '-');
        Out.EndLine();
    }
}

void ListReadable(TAbArchive& Archive, const std::string& FileName, TOutput& Out) {
    Out.Add("Archive: ");
    Out.Name(FileName);
    Out.Add("\n    Length  Compressed  Method     CRC-32    Date       Time      Name\n");
    Out.Add("----------  ----------  ---------  --------  ---------- --------  ----\n");
    uint64_t TotalSize = 0;
    uint64_t TotalCompressed = 0;
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        const TAbArchiveItem* Item = Archive.Items(I);
        Out.Number(static_cast<uint64_t>(Item->UncompressedSize()), 10);
        Out.Add("  ");
        Out.Number(static_cast<uint64_t>(Item->CompressedSize()), 10);
        Out.Add("  ");
        std::string Method = MethodName(MethodOf(Item));
        if (Item->IsEncrypted()) Method += '*';
        Method.resize(std::max<size_t>(Method.size(), 9), ' ');
        Out.Add(Method);
        Out.Add("  ");
        Out.Hex(Item->CRC32(), 8);
        Out.Add("  ");
        AddDosDateTime(Out, Item->LastModFileDate(), Item->LastModFileTime());
        Out.Add("  ");
        Out.Name(Item->FileNameView());
        Out.EndLine();
        TotalSize += static_cast<uint64_t>(Item->UncompressedSize());
        TotalCompressed += static_cast<uint64_t>(Item->CompressedSize());
    }
    Out.Add("----------  ----------                                             ----\n");
    Out.Number(TotalSize, 10);
    Out.Add("  ");
    Out.Number(TotalCompressed, 10);
    Out.Add("                                             ");
    Out.Number(static_cast<uint64_t>(Archive.Count()));
    Out.Add(Archive.Count() == 1 ? " item\n" : " items\n");
    const auto* Zip = dynamic_cast<const TAbZipArchive*>(&Archive);
    if (Zip != nullptr && !Zip->ZipfileComment().empty()) {
        Out.Add("Comment: ");
        Out.Name(Zip->ZipfileComment());
        Out.Add('\n');
    }
    bool AnyEncrypted = false;
    for (int32_t I = 0; I < Archive.Count() && !AnyEncrypted; ++I)
        AnyEncrypted = Archive.Items(I)->IsEncrypted();
    if (AnyEncrypted) Out.Add("(* encrypted)\n");
}

// Opens the archive as the unzipper does, a tar archive inside a gzip or
// bzip2 file as that tar archive. Content of no known type is read as ZIP,
// whose reader then says what is wrong with it; a cabinet is refused.
void OpenArchive(TAbUnZipper& UnZipper, const std::string& FileName) {
    // The same checks the unzipper makes before it opens a file.
    if (!FileExists(FileName)) throw EAbFileNotFound();
    if (FileSizeOf(FileName) <= 0) throw EAbBadStream();
    TAbArchiveType Type = DetectArchiveType(FileName);
    if (Type == atCab) throw EAbException(CabinetRefusal);
    if (Type == atUnknown) Type = atZip;
    UnZipper.SetTarAutoHandle(true);
    UnZipper.SetForceType(true);
    UnZipper.SetArchiveType(Type);
    UnZipper.SetFileName(FileName);
}

int List(const std::string& FileName, bool Tsv) {
    TAbUnZipper UnZipper(nullptr);
    try {
        OpenArchive(UnZipper, FileName);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, FileName.c_str(), E.what());
        return 2;
    }
    TOutput Out;
    if (Tsv)
        ListTsv(*UnZipper.Archive(), Out);
    else
        ListReadable(*UnZipper.Archive(), FileName, Out);
    if (Out.Failed()) {
        std::fprintf(stderr, "%s: cannot write the listing: %s\n", ProgramName,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}

int UsageError(const std::string& Message) {
    std::fprintf(stderr, "%s: %s\n", ProgramName, Message.c_str());
    std::fprintf(stderr, "Try '%s --help' for more information.\n", ProgramName);
    return 1;
}

// ---------------------------------------------------------------------------
// Extraction and testing

// A name for the terminal: control characters become '?'.
std::string Printable(std::string_view Text) {
    std::string Result(Text);
    for (char& C : Result) {
        auto U = static_cast<unsigned char>(C);
        if (U < 0x20 || U == 0x7F) C = '?';
    }
    return Result;
}

// "12.3 MiB"
std::string HumanBytes(double Bytes) {
    static const char* const Units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int U = 0;
    while (Bytes >= 1024.0 && U < 4) {
        Bytes /= 1024.0;
        ++U;
    }
    char Buf[32];
    std::snprintf(Buf, sizeof Buf, U == 0 ? "%.0f %s" : "%.1f %s", Bytes, Units[U]);
    return Buf;
}

// One status line on a terminal (stderr): archive progress by bytes, items,
// bytes and rate, the current item and its progress. Redrawn at most ten
// times a second.
class TProgressLine {
public:
    explicit TProgressLine(bool Enabled) : FEnabled(Enabled) {}

    void Start(int64_t TotalBytes, int32_t TotalItems) {
        FTotalBytes = TotalBytes;
        FTotalItems = TotalItems;
        FStart = Clock::now();
        FLastDraw = FStart - std::chrono::seconds(1);
    }
    // A new item begins; the previous one counts as done.
    void BeginItem(const std::string& Name, int64_t Size) {
        FDoneBytes += FItemSize;
        FItemSize = Size;
        FItemPercent = 0;
        FItemName = Name;
        ++FItems;
        Draw();
    }
    void ItemProgress(uint8_t Percent) {
        FItemPercent = Percent;
        Draw();
    }
    // Erases the line before other output; the next update draws it again.
    void Clear() {
        if (!FEnabled || !FShown) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        FShown = false;
    }
    void Finish() {
        FDoneBytes += FItemSize;
        FItemSize = 0;
        Clear();
    }
    int64_t DoneBytes() const { return FDoneBytes + FItemSize; }
    double Seconds() const { return std::chrono::duration<double>(Clock::now() - FStart).count(); }

private:
    using Clock = std::chrono::steady_clock;

    void Draw() {
        if (!FEnabled) return;
        const auto Now = Clock::now();
        if (Now - FLastDraw < std::chrono::milliseconds(100)) return;
        FLastDraw = Now;
        const double Done =
            static_cast<double>(FDoneBytes) + static_cast<double>(FItemSize) * FItemPercent / 100.0;
        const int Percent =
            FTotalBytes > 0 ? static_cast<int>(Done * 100.0 / static_cast<double>(FTotalBytes)) : 0;
        const double Elapsed = std::chrono::duration<double>(Now - FStart).count();
        char Head[160];
        std::snprintf(Head, sizeof Head, "[%3d%%] %d/%d  %s of %s  %s/s  item %3d%% ",
                      std::min(Percent, 100), FItems, FTotalItems, HumanBytes(Done).c_str(),
                      HumanBytes(static_cast<double>(FTotalBytes)).c_str(),
                      HumanBytes(Elapsed > 0.05 ? Done / Elapsed : 0.0).c_str(), FItemPercent);
        std::string Line = Head;
        const auto Width = static_cast<size_t>(TerminalColumns(ssError, 80));
        if (Line.size() + 4 >= Width) Line.resize(Width > 5 ? Width - 5 : 0);
        // Keep the end of a long name, which tells the files apart; the name
        // is counted in characters and cut only between them.
        std::string_view Name = FItemName;
        const size_t Room = Width - Line.size() - 1;
        size_t Chars = 0;
        for (char C : Name)
            Chars += (static_cast<unsigned char>(C) & 0xC0) != 0x80;
        if (Chars > Room) {
            size_t Skip = Chars - (Room > 3 ? Room - 3 : 0);
            size_t At = 0;
            while (At < Name.size() && Skip > 0) {
                ++At;
                while (At < Name.size() && (static_cast<unsigned char>(Name[At]) & 0xC0) == 0x80)
                    ++At;
                --Skip;
            }
            Line += Room > 3 ? "..." : "";
            Name.remove_prefix(At);
        }
        Line += Printable(Name);
        std::fprintf(stderr, "\r\x1b[K%s", Line.c_str());
        std::fflush(stderr);
        FShown = true;
    }

    bool FEnabled;
    bool FShown = false;
    int64_t FTotalBytes = 0;
    int32_t FTotalItems = 0;
    int64_t FDoneBytes = 0;
    int64_t FItemSize = 0;
    int32_t FItems = 0;
    int FItemPercent = 0;
    std::string FItemName;
    Clock::time_point FStart{};
    Clock::time_point FLastDraw{};
};

enum TCommand { cmExtract, cmExtractFlat, cmTest };
enum TOverwrite { owAsk, owAlways, owNever };

struct TOptions {
    TCommand Command = cmExtract;
    std::string Archive;
    std::string Directory;
    std::string Password;
    bool HavePassword = false;
    TOverwrite Overwrite = owAsk;
    bool Quiet = false;
    std::vector<std::string> Masks;
    std::vector<std::string> Exclusions;
};

// The engine's text for a failure reported without an error object.
std::string FailureText(TAbErrorClass ErrorClass, int32_t ErrorCode) {
    if (ErrorClass == ecInOutError) return ErrnoMessage(ErrorCode);
    if (ErrorClass == ecMorvanta) {
        switch (ErrorCode) {
        case AbErrZipVersion: return EAbZipVersion().Message();
        case AbErrZipInvalidMethod: return EAbZipInvalidMethod().Message();
        case AbErrZipInvalidPassword: return EAbZipInvalidPassword().Message();
        case AbErrUserAbort: return EAbUserAbort().Message();
        case AbErrBadStream: return EAbBadStream().Message();
        case AbErrZipBadCRC: return EAbZipBadCRC().Message();
        case AbErrZipInvalidLFH: return EAbZipInvalidLFH().Message();
        case AbErrZipInvalid: return EAbZipInvalid().Message();
        case AbErrUnsafePath: return EAbUnsafePath().Message();
        default: break;
        }
    }
    return Format("failed (error class %d, code %d)", static_cast<int>(ErrorClass), ErrorCode);
}

// What a failed item is reported with: the message of its error object,
// else the text of its error class and code.
std::string FailureMessage(const std::exception_ptr& Failure, TAbErrorClass ErrorClass,
                           int32_t ErrorCode) {
    if (Failure) {
        try {
            std::rethrow_exception(Failure);
        } catch (const std::exception& E) {
            return E.what();
        } catch (...) {
        }
    }
    return FailureText(ErrorClass, ErrorCode);
}

std::string JoinMasks(const std::vector<std::string>& Masks) {
    std::string Result;
    for (const std::string& M : Masks) {
        if (!Result.empty()) Result += ';';
        Result += M;
    }
    return Result;
}

// One run of x, e or t.
class TExtraction {
public:
    explicit TExtraction(const TOptions& Options)
        : FOptions(Options), FUnZipper(nullptr),
          FTerminal(IsTerminal(ssInput) ? std::make_unique<TTerminal>() : nullptr),
          FProgress(!Options.Quiet && IsTerminal(ssError)), FOverwrite(Options.Overwrite) {}

    int Run();

private:
    bool Open();
    void Connect();
    void BeginItem(TAbArchiveItem* Item);
    void ReportFailure(TAbArchiveItem* Item, const std::string& Message);
    void AskPassword(std::string& NewPassword);
    void ConfirmOverwrite(std::string& Name, bool& Confirm);
    void Select();
    // Tests the tagged items of a container that is no ZIP archive, each
    // failure reported on its own.
    void TestItems();
    bool CanAsk() const { return FTerminal != nullptr && FTerminal->Available(); }

    const TOptions& FOptions;
    TAbUnZipper FUnZipper;
    // Questions go to the controlling terminal when standard input is one.
    std::unique_ptr<TTerminal> FTerminal;
    TProgressLine FProgress;
    TOverwrite FOverwrite;
    std::string FMask;
    std::string FExclusion;
    TAbArchiveItem* FCurrent = nullptr;
    bool FPasswordDeclined = false;
    int32_t FFailures = 0;
    int32_t FProcessed = 0;
};

bool TExtraction::Open() {
    try {
        // The engine's own checks, so that a bad name never creates DIR.
        if (FOptions.HavePassword) FUnZipper.SetPassword(FOptions.Password);
        FUnZipper.SetExtractOptions(FOptions.Command == cmExtract
                                        ? TAbExtractOptions{eoCreateDirs, eoRestorePath}
                                        : TAbExtractOptions{eoCreateDirs});
        if (FileExists(FOptions.Archive) && FileSizeOf(FOptions.Archive) > 0 &&
            DetectArchiveType(FOptions.Archive) == atCab) {
            throw EAbException(CabinetRefusal);
        }
        FUnZipper.SetTarAutoHandle(true);
        FUnZipper.SetFileName(FOptions.Archive);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, Printable(FOptions.Archive).c_str(),
                     E.what());
        return false;
    }
    const std::string& Dir = FOptions.Directory;
    if (FOptions.Command == cmTest || Dir.empty()) return true;
    try {
        if (!DirectoryExists(Dir) && !ForceDirectories(Dir)) throw EInOutError(errno);
        FUnZipper.SetBaseDirectory(Dir);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: cannot make the folder: %s\n", ProgramName,
                     Printable(Dir).c_str(), E.what());
        return false;
    }
    return true;
}

// Tags the items the masks select (x and e both create folders, so folder
// entries are selected too; e then skips them). Without masks every item
// is selected, also one whose name is empty, which no mask can match: it
// is reported as a failure instead of being left out unseen.
void TExtraction::Select() {
    FUnZipper.ClearTags();
    FUnZipper.TagItems(FMask);
    if (!FExclusion.empty()) FUnZipper.UnTagItems(FExclusion);
    if (!FOptions.Masks.empty()) return;
    for (int32_t I = 0; I < FUnZipper.Count(); ++I) {
        TAbArchiveItem* Item = FUnZipper.Archive()->Items(I);
        if (Item->FileNameView().empty()) Item->SetTagged(true);
    }
}

void TExtraction::TestItems() {
    TAbArchive& Archive = *FUnZipper.Archive();
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        TAbArchiveItem* Item = Archive.Items(I);
        if (!Item->Tagged()) continue;
        BeginItem(Item);
        try {
            Archive.VerifyItem(I);
        } catch (const std::exception& E) {
            if (StopRequested()) throw;
            ReportFailure(Item, E.what());
        }
        if (StopRequested()) throw EAbUserAbort();
    }
}

void TExtraction::BeginItem(TAbArchiveItem* Item) {
    FCurrent = Item;
    ++FProcessed;
    FProgress.BeginItem(Item->FileName(), Item->UncompressedSize());
}

void TExtraction::ReportFailure(TAbArchiveItem* Item, const std::string& Message) {
    ++FFailures;
    FProgress.Clear();
    const std::string Name = Item == nullptr                ? std::string("?")
                             : Item->FileNameView().empty() ? std::string("(no name)")
                                                            : Printable(Item->FileName());
    std::fprintf(stderr, "%s: %s: %s\n", ProgramName, Name.c_str(), Message.c_str());
    std::fflush(stderr);
}

void TExtraction::AskPassword(std::string& NewPassword) {
    // Without a terminal the engine goes on with what it has.
    if (!CanAsk() || FPasswordDeclined) return;
    FProgress.Clear();
    const std::string Name =
        FCurrent != nullptr ? Printable(FCurrent->FileName()) : std::string("?");
    std::string Answer;
    if (!FTerminal->ReadLine(NewPassword.empty() ? Name + " is encrypted; password: "
                                                 : "Wrong password for " + Name + "; password: ",
                             Answer, false) ||
        Answer.empty()) {
        // No answer: this item is given up, and nobody is asked again.
        FPasswordDeclined = true;
        NewPassword.clear();
        return;
    }
    NewPassword = Answer;
}

void TExtraction::ConfirmOverwrite(std::string& Name, bool& Confirm) {
    if (FOverwrite == owAlways) {
        Confirm = true;
        return;
    }
    if (FOverwrite == owNever) {
        Confirm = false;
        return;
    }
    FProgress.Clear();
    if (!CanAsk()) {
        std::fprintf(stderr, "%s: %s exists; not replaced (-o replaces existing files)\n",
                     ProgramName, Printable(Name).c_str());
        Confirm = false;
        return;
    }
    for (;;) {
        std::string Answer;
        if (!FTerminal->ReadLine(
                "replace " + Printable(Name) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ", Answer,
                true)) {
            FTerminal->Write("\n");
            FOverwrite = owNever; // the end of input answers every question
            Confirm = false;
            return;
        }
        if (Answer == "y" || Answer == "Y" || Answer == "yes") {
            Confirm = true;
            return;
        }
        if (Answer == "n" || Answer == "no") {
            Confirm = false;
            return;
        }
        if (Answer == "A") {
            FOverwrite = owAlways;
            Confirm = true;
            return;
        }
        if (Answer == "N") {
            FOverwrite = owNever;
            Confirm = false;
            return;
        }
        if (Answer == "r" || Answer == "R") {
            std::string NewName;
            if (!FTerminal->ReadLine("new name: ", NewName, true) || NewName.empty()) continue;
            if (NewName.find(PathDelim) != std::string::npos || NewName == "." || NewName == "..") {
                FTerminal->Write("a name without folders, please\n");
                continue;
            }
            std::string Dir = ExtractFilePath(Name);
            Name = Dir + NewName;
            if (!PathExists(Name)) {
                Confirm = true;
                return;
            }
            continue; // that one exists too: ask about it
        }
    }
}

void TExtraction::Connect() {
    FUnZipper.OnConfirmProcessItem = [this](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType,
                                            bool&) { BeginItem(Item); };
    FUnZipper.OnArchiveItemProgress = [this](TAbBaseBrowser*, TAbArchiveItem*, uint8_t Progress,
                                             bool& Abort) {
        FProgress.ItemProgress(Progress);
        Abort = StopRequested();
    };
    FUnZipper.OnArchiveProgress = [](TAbBaseBrowser*, uint8_t, bool& Abort) {
        Abort = StopRequested();
    };
    FUnZipper.OnProcessItemFailure = [this](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType,
                                            TAbErrorClass ErrorClass, int32_t ErrorCode) {
        // The item that Ctrl-C stopped is no failure of its own.
        if (StopRequested() && ErrorClass == ecMorvanta && ErrorCode == AbErrUserAbort) return;
        ReportFailure(Item,
                      FailureMessage(FUnZipper.Archive()->CurrentFailure(), ErrorClass, ErrorCode));
    };
    FUnZipper.OnNeedPassword = [this](TAbBaseBrowser*, std::string& NewPassword) {
        AskPassword(NewPassword);
    };
    FUnZipper.OnConfirmOverwrite = [this](std::string& Name, bool& Confirm) {
        ConfirmOverwrite(Name, Confirm);
    };

    TAbZipArchive* Zip = FUnZipper.ZipArchive();
    if (Zip == nullptr) return; // the other formats are tested by TestItems
    // Testing stops at the first error object; each item's error is
    // reported here instead, so every item is tested.
    auto Test = Zip->TestHelper;
    Zip->TestHelper = [this, Test](TAbArchive* Sender, TAbArchiveItem* Item) {
        BeginItem(Item);
        // An item without a name cannot be extracted, whatever its data.
        if (Item->FileNameView().empty()) {
            ReportFailure(Item, EAbUnsafePath().Message());
            return;
        }
        try {
            Test(Sender, Item);
        } catch (const std::exception& E) {
            if (StopRequested()) throw;
            ReportFailure(Item, E.what());
        }
    };
}

int TExtraction::Run() {
    if (!Open()) return 2;
    Connect();
    FMask = FOptions.Masks.empty() ? std::string("*.*") : JoinMasks(FOptions.Masks);
    FExclusion = JoinMasks(FOptions.Exclusions);

    Select();
    int64_t TotalBytes = 0;
    int32_t TotalItems = 0;
    for (int32_t I = 0; I < FUnZipper.Count(); ++I) {
        const TAbArchiveItem* Item = FUnZipper.Archive()->Items(I);
        if (!Item->Tagged()) continue;
        // Declared sizes come from the archive: the sum saturates.
        TotalBytes += std::min(Item->UncompressedSize(), INT64_MAX - TotalBytes);
        ++TotalItems;
    }
    if (TotalItems == 0 && !FOptions.Masks.empty()) {
        std::fprintf(stderr, "%s: %s: no item matches %s\n", ProgramName,
                     Printable(FOptions.Archive).c_str(), Printable(FMask).c_str());
        return 1;
    }
    // Ctrl-C and friends stop after the current block; the engine then removes
    // the unfinished file. A question waiting for an answer gives up.
    CatchStopRequests(srInterrupt | srTerminate | srHangup);
    FProgress.Start(TotalBytes, TotalItems);
    try {
        if (FOptions.Command == cmTest && FUnZipper.ZipArchive() == nullptr)
            TestItems();
        else if (FOptions.Command == cmTest)
            FUnZipper.TestTaggedItems();
        else
            FUnZipper.ExtractTaggedItems();
    } catch (const std::exception& E) {
        FProgress.Clear();
        if (StopRequested())
            std::fprintf(stderr, "%s: interrupted\n", ProgramName);
        else
            std::fprintf(stderr, "%s: %s\n", ProgramName, E.what());
        return 1;
    }
    FProgress.Finish();
    if (StopRequested()) {
        std::fprintf(stderr, "%s: interrupted\n", ProgramName);
        return 1;
    }
    if (FFailures > 0) {
        std::fprintf(stderr, "%s: %d of %d items failed\n", ProgramName, FFailures, FProcessed);
        return 1;
    }
    if (FOptions.Command == cmTest) {
        std::printf("No errors: %d %s tested in %s\n", FProcessed,
                    FProcessed == 1 ? "item" : "items", Printable(FOptions.Archive).c_str());
        if (std::fflush(stdout) != 0) return 1;
    } else if (!FOptions.Quiet && IsTerminal(ssError)) {
        std::fprintf(stderr, "%s: %d %s, %s in %.1f s\n", ProgramName, FProcessed,
                     FProcessed == 1 ? "item" : "items",
                     HumanBytes(static_cast<double>(FProgress.DoneBytes())).c_str(),
                     FProgress.Seconds());
    }
    return 0;
}

int ParseAndRunExtraction(TCommand Command, const std::vector<std::string>& Args) {
    TOptions Options;
    Options.Command = Command;
    bool OptionsDone = false;
    bool Excluding = false;
    for (size_t I = 1; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        auto Value = [&](const char* What) -> const std::string* {
            if (I + 1 >= Args.size()) return nullptr;
            (void)What;
            return &Args[++I];
        };
        if (!OptionsDone && A == "--") {
            OptionsDone = true;
        } else if (!OptionsDone && A == "--help") {
            PrintUsage(stdout);
            return 0;
        } else if (!OptionsDone && A == "-d" && Command != cmTest) {
            const std::string* V = Value("-d");
            if (V == nullptr || V->empty()) return UsageError("-d needs a folder");
            Options.Directory = *V;
        } else if (!OptionsDone && A == "-p") {
            const std::string* V = Value("-p");
            if (V == nullptr) return UsageError("-p needs a password");
            Options.Password = *V;
            Options.HavePassword = true;
        } else if (!OptionsDone && A == "-o" && Command != cmTest) {
            if (Options.Overwrite == owNever) return UsageError("-o and -n exclude each other");
            Options.Overwrite = owAlways;
        } else if (!OptionsDone && A == "-n" && Command != cmTest) {
            if (Options.Overwrite == owAlways) return UsageError("-o and -n exclude each other");
            Options.Overwrite = owNever;
        } else if (!OptionsDone && A == "-q") {
            Options.Quiet = true;
        } else if (!OptionsDone && A == "-x") {
            Excluding = true;
        } else if (!OptionsDone && A.size() > 1 && A[0] == '-') {
            return UsageError("unknown option '" + A + "'");
        } else if (Options.Archive.empty()) {
            Options.Archive = A;
        } else if (Excluding) {
            Options.Exclusions.push_back(A);
        } else {
            Options.Masks.push_back(A);
        }
    }
    if (Options.Archive.empty()) return UsageError("missing archive name");
    if (Excluding && Options.Exclusions.empty()) return UsageError("-x needs at least one mask");
    TExtraction Run(Options);
    return Run.Run();
}

} // namespace

int main(int argc, char** argv) {
    // The arguments as the runtime has them: in UTF-8 also on Windows.
    SetProgramArguments(argc, argv);
    std::vector<std::string> Args;
    for (int I = 1; I <= ParamCount(); ++I)
        Args.push_back(ParamStr(I));
    if (Args.empty()) return UsageError("missing command");
    if (Args[0] == "--help" || Args[0] == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (Args[0] == "--version") {
        std::printf("%s %s\n", ProgramName, ProgramVersion);
        return 0;
    }
    if (Args[0] == "x") return ParseAndRunExtraction(cmExtract, Args);
    if (Args[0] == "e") return ParseAndRunExtraction(cmExtractFlat, Args);
    if (Args[0] == "t") return ParseAndRunExtraction(cmTest, Args);
    if (Args[0] != "list") return UsageError("unknown command '" + Args[0] + "'");
    bool Tsv = false;
    std::string Archive;
    bool OptionsDone = false;
    for (size_t I = 1; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        if (!OptionsDone && A == "--tsv") {
            Tsv = true;
        } else if (!OptionsDone && A == "--") {
            OptionsDone = true;
        } else if (!OptionsDone && A == "--help") {
            PrintUsage(stdout);
            return 0;
        } else if (!OptionsDone && A.size() > 1 && A[0] == '-') {
            return UsageError("unknown option '" + A + "'");
        } else if (Archive.empty()) {
            Archive = A;
        } else {
            return UsageError("more than one archive given");
        }
    }
    if (Archive.empty()) return UsageError("missing archive name");
    return List(Archive, Tsv);
}
