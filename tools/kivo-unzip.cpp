// kivo-unzip: lists, tests and extracts ZIP archives, tar archives (also
// inside gzip and bzip2 files) and gzip and bzip2 files with the archive
// engine.
//
//   kivo-unzip list [--tsv|--json] ARCHIVE   readable listing / one line or object per item
//   kivo-unzip x ARCHIVE [-d DIR] [MASK...]  extract with the stored folders
//   kivo-unzip e ARCHIVE [-d DIR] [MASK...]  extract every file into one folder
//   kivo-unzip t ARCHIVE [MASK...]           test every item
//   kivo-unzip p ARCHIVE [MASK...]           write the files' data to standard output
//
// Exit status: 0 when everything succeeded, 1 when an item failed, existing
// files were kept without anyone to ask (and for usage and output errors),
// 2 when the archive cannot be opened (or a part of it is missing) or the
// -d folder cannot be made or written, 130 after Ctrl-C. Failed items are
// reported one English line each on stderr, then counted.
#include <algorithm>
#include <atomic>
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
#include <thread>
#include <unordered_map>
#include <utility>
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
#include "runtime/Text.h"
#include "tools/NameMask.h"
#include "tools/OrderedJobs.h"
#include "tools/ToolOptions.h"
#include "tools/UnzipMessages.h"

using namespace kivo;
using namespace kivo::tools;

namespace {

constexpr const char* ProgramName = "kivo-unzip";
constexpr const char* ProgramVersion = "1.0.0";
constexpr unsigned MaxJobs = 256;
constexpr const char* CabinetRefusal = "cabinet files are recognised but not extracted";

void PrintUsage(std::FILE* Out) {
    std::fprintf(
        Out,
        "Usage: %s list [--tsv|--json] ARCHIVE\n"
        "       %s x ARCHIVE [-d DIR] [-p PASSWORD] [-o|-n] [-q] [-v] [-j N] [MASK...]\n"
        "                    [-x MASK...]\n"
        "       %s e ARCHIVE [-d DIR] [-p PASSWORD] [-o|-n] [-q] [-v] [-j N] [MASK...]\n"
        "                    [-x MASK...]\n"
        "       %s t ARCHIVE [-p PASSWORD] [-q] [-v] [-j N] [MASK...] [-x MASK...]\n"
        "       %s p ARCHIVE [-p PASSWORD] [MASK...] [-x MASK...]\n"
        "       %s --help | --version\n"
        "\n"
        "Lists, tests and extracts ZIP archives (Zip64, split sets, self-extractors and\n"
        "archives behind a program stub, traditional and AES encryption), tar archives\n"
        "(ustar, GNU, PAX), gzip and bzip2 files and tar archives inside them (.tar.gz,\n"
        ".tgz, .tar.bz2, .tbz). Cabinet files are recognised but not extracted. Tar links\n"
        "are extracted as empty files.\n"
        "\n"
        "  list ARCHIVE         readable listing with sizes, method, CRC-32, date and name\n"
        "  list --tsv ARCHIVE   one line per item with these tab-separated columns:\n"
        "                       stored name, uncompressed size, compressed size,\n"
        "                       method number, CRC-32 (8 hex digits),\n"
        "                       last modification (YYYY-MM-DD hh:mm:ss),\n"
        "                       attributes (2 hex digits), d for a directory else -,\n"
        "                       e for an encrypted item else -\n"
        "  list --json ARCHIVE  a JSON array with one object per item (and per line):\n"
        "                       name, size, compressed, method, method_name, crc32,\n"
        "                       modified, attributes, directory, encrypted\n"
        "  x ARCHIVE            extract, restoring the stored folders\n"
        "  e ARCHIVE            extract every file into one folder, without the stored folders\n"
        "  t ARCHIVE            test every item: headers, decoding and CRC-32\n"
        "  p ARCHIVE            write the data of the selected files to standard output\n"
        "\n"
        "  -d, --directory=DIR  extract into DIR (made when missing; default: the current\n"
        "                       folder)\n"
        "  -p, --password=PASSWORD\n"
        "                       password of encrypted items; without it a terminal is asked\n"
        "  -o, --overwrite      overwrite existing files without asking\n"
        "  -n, --never-overwrite\n"
        "                       never overwrite existing files\n"
        "  -q, --quiet          no progress display and no summary\n"
        "  -v, --verbose        name each item as it is extracted or tested\n"
        "  -j, --jobs=N         extract or test the items of a ZIP archive with N workers\n"
        "                       at once (1 to 256; default: the number of cores); what\n"
        "                       they report and ask comes in the order of the items\n"
        "  MASK...              only items whose stored names match; default: all\n"
        "  -x, --exclude MASK...\n"
        "                       leave out items matching any of the masks that follow\n"
        "  -h, --help           show this help\n"
        "  --version            show the version\n"
        "\n"
        "Short options combine (-qo) and take their values attached or apart (-dDIR,\n"
        "-d DIR); long ones take them after '=' or apart; '--' ends the options.\n"
        "\n"
        "Masks: '*' any characters ('/' included), '?' one character, '[a-z]' one of a\n"
        "set ('[!a-z]' one not in it); letters match in either case. A mask without '/'\n"
        "is compared with the last part of each name, one with '/' with the whole name.\n"
        "A mask naming a folder (src/lib, src/lib/, or a top folder such as src) selects\n"
        "the folder and everything under it. Quote masks so that the shell leaves them.\n"
        "\n"
        "Files made on Unix get their stored permission bits (never set-user-ID,\n"
        "set-group-ID or sticky; the umask applies). Symbolic links are made when their\n"
        "target stays inside DIR; otherwise they are extracted as a file holding the\n"
        "target, with a warning.\n"
        "\n"
        "Without -o or -n an existing file or link is kept unless the terminal answers to\n"
        "replace it. A file is replaced only once its new contents are complete and have\n"
        "passed their CRC check; a failed item leaves the old file as it was (data that\n"
        "fails the check is kept only where no file was). Items are not extracted whose\n"
        "stored names lead outside DIR or whose way there passes a symbolic link inside\n"
        "DIR, nor data that runs past its declared size or overlaps another entry.\n"
        "Each failed item is reported on a line of its own and the others go on; a last\n"
        "line counts the failures. Without a terminal a last line sums up what was\n"
        "extracted. Control characters in names are shown as '?'.\n"
        "\n"
        "Exit status: 0 success; 1 an item failed, existing files were kept without a\n"
        "terminal to ask, or a usage or output error; 2 the archive cannot be opened, a\n"
        "part of a split archive is missing, or DIR cannot be made or written; 130 the\n"
        "run was interrupted (Ctrl-C).\n",
        ProgramName, ProgramName, ProgramName, ProgramName, ProgramName, ProgramName);
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

// The length of the well-formed UTF-8 sequence Text starts with; 0 when it
// starts with none.
size_t Utf8SequenceLength(std::string_view Text) {
    const auto Lead = static_cast<unsigned char>(Text[0]);
    size_t Length = 0;
    uint32_t Min = 0;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Length = 2;
        Min = 0x80;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Length = 3;
        Min = 0x800;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Length = 4;
        Min = 0x10000;
    } else {
        return 0;
    }
    if (Text.size() < Length) return 0;
    uint32_t Code = Lead & (0x7F >> Length);
    for (size_t I = 1; I < Length; ++I) {
        const auto U = static_cast<unsigned char>(Text[I]);
        if ((U & 0xC0) != 0x80) return 0;
        Code = Code << 6 | (U & 0x3F);
    }
    if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return 0;
    return Length;
}

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
    case 99: return "aes";
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

// A JSON string: quotes, backslashes and control characters escaped, bytes
// that are no UTF-8 replaced by U+FFFD, so that any stored name gives valid
// JSON.
void AddJsonString(TOutput& Out, std::string_view Text) {
    Out.Add('"');
    for (size_t I = 0; I < Text.size();) {
        const auto U = static_cast<unsigned char>(Text[I]);
        if (U == '"' || U == '\\') {
            Out.Add('\\');
            Out.Add(static_cast<char>(U));
            ++I;
        } else if (U < 0x20 || U == 0x7F) {
            Out.Add("\\u00");
            Out.Hex(U, 2);
            ++I;
        } else if (U < 0x80) {
            Out.Add(static_cast<char>(U));
            ++I;
        } else {
            const size_t Length = Utf8SequenceLength(Text.substr(I));
            if (Length == 0) {
                Out.Add("\\ufffd");
                ++I;
            } else {
                Out.Add(Text.substr(I, Length));
                I += Length;
            }
        }
    }
    Out.Add('"');
}

// One JSON object per item, one per line, inside one array.
void ListJson(TAbArchive& Archive, TOutput& Out) {
    Out.Add('[');
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        const TAbArchiveItem* Item = Archive.Items(I);
        Out.Add(I == 0 ? "\n" : ",\n");
        Out.Add("{\"name\":");
        AddJsonString(Out, Item->FileNameView());
        Out.Add(",\"size\":");
        Out.Number(static_cast<uint64_t>(Item->UncompressedSize()));
        Out.Add(",\"compressed\":");
        Out.Number(static_cast<uint64_t>(Item->CompressedSize()));
        Out.Add(",\"method\":");
        Out.Number(MethodOf(Item));
        Out.Add(",\"method_name\":\"");
        Out.Add(MethodName(MethodOf(Item)));
        Out.Add("\",\"crc32\":\"");
        Out.Hex(Item->CRC32(), 8);
        Out.Add("\",\"modified\":\"");
        AddDosDateTime(Out, Item->LastModFileDate(), Item->LastModFileTime());
        Out.Add("\",\"attributes\":");
        Out.Number(Item->NativeFileAttributes() & 0xFF);
        Out.Add(",\"directory\":");
        Out.Add(Item->IsDirectory() ? "true" : "false");
        Out.Add(",\"encrypted\":");
        Out.Add(Item->IsEncrypted() ? "true" : "false");
        Out.Add('}');
    }
    Out.Add(Archive.Count() == 0 ? "]" : "\n]");
    Out.EndLine();
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

std::string Printable(std::string_view Text);

enum TListFormat { lfReadable, lfTsv, lfJson };

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
    UnZipper.SetFindsShiftedOffsets(true);
    UnZipper.SetForceType(true);
    UnZipper.SetArchiveType(Type);
    UnZipper.SetFileName(FileName);
}

// Why the archive FileName could not be opened, in English.
std::string OpenFailureCause(const std::string& FileName, const std::exception& E) {
    if (DirectoryExists(FileName)) return "is a folder, not an archive";
    if (!FileExists(FileName)) return "no such file";
    if (FileSizeOf(FileName) <= 0) return "is empty, not an archive";
    if (dynamic_cast<const EAbZipInvalid*>(&E) != nullptr ||
        dynamic_cast<const EAbUnhandledType*>(&E) != nullptr) {
        return "not a ZIP, tar, gzip or bzip2 archive, or its ZIP directory is damaged";
    }
    return EnglishCause(E);
}

int List(const std::string& FileName, TListFormat Format) {
    TAbUnZipper UnZipper(nullptr);
    try {
        OpenArchive(UnZipper, FileName);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, Printable(FileName).c_str(),
                     OpenFailureCause(FileName, E).c_str());
        return 2;
    }
    TOutput Out;
    if (Format == lfTsv)
        ListTsv(*UnZipper.Archive(), Out);
    else if (Format == lfJson)
        ListJson(*UnZipper.Archive(), Out);
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

enum TCommand { cmExtract, cmExtractFlat, cmTest, cmPrint };
enum TOverwrite { owAsk, owAlways, owNever };

struct TOptions {
    TCommand Command = cmExtract;
    std::string Archive;
    std::string Directory;
    std::string Password;
    bool HavePassword = false;
    TOverwrite Overwrite = owAsk;
    bool Quiet = false;
    bool Verbose = false;
    // Workers that extract or test ZIP items at once; 1 works in one thread.
    unsigned Jobs = 1;
    std::vector<std::string> Masks;
    std::vector<std::string> Exclusions;
};

// What a failed item is reported with: the English cause of its error
// object, else of its error class and code.
std::string FailureMessage(const std::exception_ptr& Failure, TAbErrorClass ErrorClass,
                           int32_t ErrorCode) {
    if (Failure) {
        try {
            std::rethrow_exception(Failure);
        } catch (const std::exception& E) {
            return EnglishCause(E);
        } catch (...) {
        }
    }
    return EnglishCause(ErrorClass, ErrorCode);
}

// The name of the split part E could not open; empty when E is about
// something else.
std::string MissingPartOf(const std::exception& E, const std::string& Archive) {
    const auto* Open = dynamic_cast<const EFOpenError*>(&E);
    return Open != nullptr && Open->FileName != Archive ? Open->FileName : std::string();
}

// A stored name as the order check compares it: the parts between '/' and
// '\\' joined by '/', empty and "." parts dropped, letters folded (ASCII
// ones to lower case, others to the system's upper case, as file systems
// that ignore case compare them); only the last part for e. Ends holds the
// length of each leading folder path and of the whole.
void FoldedPath(std::string_view Stored, bool Flat, std::string& Path, std::vector<size_t>& Ends) {
    const bool Ascii = std::all_of(Stored.begin(), Stored.end(),
                                   [](char C) { return static_cast<unsigned char>(C) < 0x80; });
    const std::string Upper = Ascii ? std::string() : AnsiUpperCase(Stored);
    const std::string_view Name = Ascii ? Stored : std::string_view(Upper);
    Path.clear();
    Ends.clear();
    size_t Start = 0;
    for (size_t I = 0; I <= Name.size(); ++I) {
        if (I < Name.size() && Name[I] != '/' && Name[I] != '\\') continue;
        const std::string_view Part = Name.substr(Start, I - Start);
        Start = I + 1;
        if (Part.empty() || Part == ".") continue;
        if (!Path.empty()) Path.push_back('/');
        for (char C : Part)
            Path.push_back(AsciiLower(C));
        Ends.push_back(Path.size());
    }
    if (Flat && Ends.size() > 1) {
        Path.erase(0, Ends[Ends.size() - 2] + 1);
        Ends.assign(1, Path.size());
    }
    if (Ends.empty()) Ends.push_back(0); // no name: all such items count as one
}

// Whether an item must wait until every item before it has finished: an
// earlier item puts a file (or link) where it needs a folder or the same
// name, or needs a folder where it puts a file, or names the same file.
// Items in such a relation depend on their order (the first one wins); all
// others may be written in any order. Paths are compared as FoldedPath makes
// them, by a 64-bit hash: folding more than a file system does and two paths
// of one hash only make an item wait without need. Items are asked about in
// archive order, so that workers may start on the first ones while the rest
// are still compared.
class TOrderCheck {
public:
    explicit TOrderCheck(bool Flat, size_t Items) : FFlat(Flat) { FSeen.reserve(Items * 2); }

    bool Waits(const TAbArchiveItem& Item) {
        const bool Folder = Item.IsDirectory();
        if (FFlat && Folder) return false; // e makes no folders
        FoldedPath(Item.FileNameView(), FFlat, FPath, FEnds);
        bool Wait = false;
        for (size_t P = 0; P < FEnds.size(); ++P) {
            uint8_t& At =
                FSeen[std::hash<std::string_view>()(std::string_view(FPath).substr(0, FEnds[P]))];
            const bool Last = P + 1 == FEnds.size();
            Wait = Wait || (At & FileThere) != 0 ||
                   (Last && !Folder && (At & (FolderThere | FilesBelow)) != 0);
            At |= !Last ? FilesBelow : Folder ? FolderThere : FileThere;
        }
        return Wait;
    }

private:
    enum : uint8_t { FileThere = 1, FolderThere = 2, FilesBelow = 4 };
    bool FFlat;
    std::unordered_map<uint64_t, uint8_t> FSeen;
    std::string FPath;
    std::vector<size_t> FEnds;
};

// One run of x, e, t or p.
class TExtraction {
public:
    explicit TExtraction(const TOptions& Options)
        : FOptions(Options), FUnZipper(nullptr),
          FTerminal(IsTerminal(ssInput) ? std::make_unique<TTerminal>() : nullptr),
          FProgress(!Options.Quiet && Options.Command != cmPrint && IsTerminal(ssError)),
          FOverwrite(Options.Overwrite) {}

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
    // Writes the data of the tagged files to standard output, one after the
    // other.
    void PrintItems();
    // The last line on stderr: what was done, and what went wrong.
    int Finish();
    bool CanAsk() const { return FTerminal != nullptr && FTerminal->Available(); }

    // x, e and t of a ZIP archive on several workers, each with its own
    // unzipper on the archive; what they report is shown in item order on
    // this thread, and the questions are asked here.
    void RunParallel(unsigned Workers);
    void Work(TAbUnZipper& UnZipper, TOrderedJobs& Jobs);
    std::unique_ptr<TAbUnZipper> OpenView();
    void ConnectWorker(TAbUnZipper& UnZipper, TOrderedJobs& Jobs, const int32_t& Job);
    void BeginWorkerItem(TAbUnZipper& UnZipper, TOrderedJobs& Jobs, int32_t Job,
                         const TAbArchiveItem* Item);
    void PostFailure(TOrderedJobs& Jobs, int32_t Job, const std::exception_ptr& Failure,
                     TAbErrorClass ErrorClass, int32_t ErrorCode);
    TAbArchiveItem* SelectedItem(int32_t Job) const {
        return FUnZipper.Archive()->Items(FSelected[static_cast<size_t>(Job)]);
    }

    const TOptions& FOptions;
    TAbUnZipper FUnZipper;
    // Questions go to the controlling terminal when standard input is one.
    std::unique_ptr<TTerminal> FTerminal;
    TProgressLine FProgress;
    TOverwrite FOverwrite;
    TAbArchiveItem* FCurrent = nullptr;
    bool FPasswordDeclined = false;
    int32_t FFailures = 0;
    int32_t FProcessed = 0;
    // Existing files kept, and those of them kept because nobody could be asked.
    int32_t FKept = 0;
    int32_t FKeptUnasked = 0;
    // A part of a split archive that could not be opened: every item after
    // it fails the same way, so it is reported once, at the end.
    std::string FMissingPart;
    bool NotedMissingPart(const std::exception& E) {
        return NotedMissingPart(MissingPartOf(E, FOptions.Archive));
    }
    bool NotedMissingPart(const std::string& Missing) {
        if (FMissingPart.empty()) FMissingPart = Missing;
        return !FMissingPart.empty();
    }

    // The indexes of the selected items, in archive order.
    std::vector<int32_t> FSelected;
    // Of a parallel run: whether a terminal can be asked, the password the
    // one unzipper of a sequential run would hold now, the folder modes the
    // workers noted (in item order), the progress of each item, and the
    // item whose progress is shown.
    bool FInteractive = false;
    std::string FPassword;
    std::vector<std::pair<std::string, uint32_t>> FFolderModes;
    std::unique_ptr<std::atomic<uint8_t>[]> FItemPercent;
    std::vector<uint8_t> FWaits;
    int32_t FShownJob = -1;
};

bool TExtraction::Open() {
    try {
        if (FOptions.HavePassword) FUnZipper.SetPassword(FOptions.Password);
        // Unix permission bits and symbolic links are restored as unzip does.
        FUnZipper.SetExtractOptions(
            FOptions.Command == cmExtract
                ? TAbExtractOptions{eoCreateDirs, eoRestorePath, eoRestoreModes, eoMakeLinks}
                : TAbExtractOptions{eoCreateDirs, eoRestoreModes, eoMakeLinks});
        // A .tar.bz2 is decoded by as many threads as ZIP items would be.
        FUnZipper.SetDecodeThreads(FOptions.Jobs);
        // The engine's own checks come first, so that a bad name never
        // creates DIR.
        OpenArchive(FUnZipper, FOptions.Archive);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, Printable(FOptions.Archive).c_str(),
                     OpenFailureCause(FOptions.Archive, E).c_str());
        return false;
    }
    const std::string& Dir = FOptions.Directory;
    if (FOptions.Command == cmTest || FOptions.Command == cmPrint || Dir.empty()) return true;
    const std::string Shown = Printable(Dir);
    if (!DirectoryExists(Dir) && !ForceDirectories(Dir)) {
        const int Err = errno;
        std::fprintf(stderr, "%s: %s: cannot create the folder: %s\n", ProgramName, Shown.c_str(),
                     EnglishErrno(PathExists(Dir) && Err == 0 ? ENOTDIR : Err).c_str());
        return false;
    }
    if (!FileIsWritable(Dir)) {
        std::fprintf(stderr, "%s: %s: cannot write in the folder: %s\n", ProgramName, Shown.c_str(),
                     EnglishErrno(EACCES).c_str());
        return false;
    }
    try {
        FUnZipper.SetBaseDirectory(Dir);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: cannot use the folder: %s\n", ProgramName, Shown.c_str(),
                     EnglishCause(E).c_str());
        return false;
    }
    return true;
}

// Tags the items the masks select (x and e both create folders, so folder
// entries are selected too; e then skips them). Without masks every item
// is selected, also one whose name is empty, which no mask can match: it
// is reported as a failure instead of being left out unseen.
void TExtraction::Select() {
    auto SelectedBy = [](const std::vector<std::string>& Masks, std::string_view Name) {
        return std::any_of(Masks.begin(), Masks.end(),
                           [Name](const std::string& Mask) { return MaskSelects(Mask, Name); });
    };
    for (int32_t I = 0; I < FUnZipper.Count(); ++I) {
        TAbArchiveItem* Item = FUnZipper.Archive()->Items(I);
        const std::string_view Name = Item->FileNameView();
        const bool Selected = FOptions.Masks.empty() || SelectedBy(FOptions.Masks, Name);
        Item->SetTagged(Selected && !SelectedBy(FOptions.Exclusions, Name));
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
            ReportFailure(Item, EnglishCause(E));
        }
        if (StopRequested()) throw EAbUserAbort();
    }
}

// Standard output as a stream the engine writes an item's data to.
class TStandardOutput : public TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* Buffer, int64_t Count) override {
        if (Count > 0 && std::fwrite(Buffer, 1, static_cast<size_t>(Count), stdout) !=
                             static_cast<size_t>(Count))
            throw EInOutError(errno);
        return Count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

void TExtraction::PrintItems() {
    TAbArchive& Archive = *FUnZipper.Archive();
    SetBinaryStandardOutput(); // the items' bytes as they are
    TStandardOutput Out;
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        TAbArchiveItem* Item = Archive.Items(I);
        if (!Item->Tagged() || Item->IsDirectory()) continue;
        BeginItem(Item);
        try {
            Archive.ExtractItemToStream(I, &Out);
        } catch (const std::exception& E) {
            if (StopRequested()) throw;
            if (!NotedMissingPart(E)) ReportFailure(Item, EnglishCause(E));
        }
        if (StopRequested()) throw EAbUserAbort();
    }
    if (std::fflush(stdout) != 0) throw EInOutError(errno);
}

void TExtraction::BeginItem(TAbArchiveItem* Item) {
    FCurrent = Item;
    ++FProcessed;
    FProgress.BeginItem(Item->FileName(), Item->UncompressedSize());
    if (FOptions.Verbose) {
        FProgress.Clear();
        std::printf("%s: %s\n", FOptions.Command == cmTest ? "testing" : "extracting",
                    Printable(Item->FileName()).c_str());
        std::fflush(stdout);
    }
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
        ++FKept;
        Confirm = false;
        return;
    }
    FProgress.Clear();
    if (!CanAsk()) {
        std::fprintf(stderr, "%s: %s exists; not replaced (-o replaces existing files)\n",
                     ProgramName, Printable(Name).c_str());
        ++FKeptUnasked;
        ++FKept;
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
            ++FKept;
            Confirm = false;
            return;
        }
        if (Answer == "y" || Answer == "Y" || Answer == "yes") {
            Confirm = true;
            return;
        }
        if (Answer == "n" || Answer == "no") {
            ++FKept;
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
            ++FKept;
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
        const std::exception_ptr Failure = FUnZipper.Archive()->CurrentFailure();
        if (Failure) {
            try {
                std::rethrow_exception(Failure);
            } catch (const std::exception& E) {
                if (NotedMissingPart(E)) return;
            } catch (...) {
            }
        }
        ReportFailure(Item, FailureMessage(Failure, ErrorClass, ErrorCode));
    };
    FUnZipper.OnNeedPassword = [this](TAbBaseBrowser*, std::string& NewPassword) {
        AskPassword(NewPassword);
    };
    FUnZipper.OnConfirmOverwrite = [this](std::string& Name, bool& Confirm) {
        ConfirmOverwrite(Name, Confirm);
    };
    FUnZipper.OnItemWarning = [this](TAbArchiveItem* Item, const std::string& Message) {
        FProgress.Clear();
        std::fprintf(stderr, "%s: %s: warning: %s\n", ProgramName,
                     Printable(Item->FileName()).c_str(), Printable(Message).c_str());
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
            if (!NotedMissingPart(E)) ReportFailure(Item, EnglishCause(E));
        }
    };
}

// ---------------------------------------------------------------------------
// Parallel extraction and testing of ZIP items

void TExtraction::RunParallel(unsigned Workers) {
    FInteractive = CanAsk();
    FPassword = FOptions.HavePassword ? FOptions.Password : std::string();
    FItemPercent = std::make_unique<std::atomic<uint8_t>[]>(FSelected.size());
    // Each worker's unzipper is a view of this one's archive, made here
    // before any worker runs: the file opened again, the item list shared.
    std::vector<std::unique_ptr<TAbUnZipper>> Views;
    for (unsigned I = 0; I < Workers; ++I)
        Views.push_back(OpenView());
    // Whether an item waits for its turn; written here before the item is
    // released to the workers (one byte each: no bit shares a word).
    FWaits.assign(FSelected.size(), 0);
    // On a terminal each item is shown as soon as it can be; otherwise in
    // batches, which leaves the cores to the workers.
    TOrderedJobs Jobs(static_cast<int32_t>(FSelected.size()),
                      IsTerminal(ssOutput) || IsTerminal(ssError) || FInteractive);
    // Folder modes wait until every worker has written everything.
    auto EndRun = [this, &Jobs] {
        Jobs.End();
        FUnZipper.Archive()->ApplyFolderModes(std::move(FFolderModes));
    };
    for (unsigned I = 0; I < Workers; ++I)
        Jobs.Start(1, [this, View = Views[I].get()](TOrderedJobs& Run) { Work(*View, Run); });
    try {
        // Testing writes nothing: no item depends on another. Otherwise the
        // names are compared here while the workers start on the items
        // already compared.
        const auto Count = static_cast<int32_t>(FSelected.size());
        if (FOptions.Command == cmTest) {
            Jobs.Release(Count);
        } else {
            constexpr int32_t Step = 256;
            TOrderCheck Check(FOptions.Command == cmExtractFlat, FSelected.size());
            for (int32_t Job = 0; Job < Count;) {
                for (const int32_t End = std::min(Count, Job + Step); Job < End; ++Job)
                    FWaits[static_cast<size_t>(Job)] = Check.Waits(*SelectedItem(Job));
                Jobs.Release(Job);
            }
        }
        Jobs.Replay([this](int32_t Job) {
            if (StopRequested()) throw EAbUserAbort();
            if (Job == FShownJob)
                FProgress.ItemProgress(FItemPercent[static_cast<size_t>(Job)].load());
        });
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

void TExtraction::Work(TAbUnZipper& UnZipper, TOrderedJobs& Jobs) {
    int32_t Job = -1;
    ConnectWorker(UnZipper, Jobs, Job);
    TAbArchive& Archive = *UnZipper.Archive();
    Archive.BeginExtractionBatch();
    // Next(Job) also tells that Job has posted everything.
    for (Job = Jobs.Next(); Job >= 0; Job = Jobs.Next(Job)) {
        const int32_t Index = FSelected[static_cast<size_t>(Job)];
        if (FWaits[static_cast<size_t>(Job)] != 0 && !Jobs.WaitForTurn(Job)) break;
        // Folder modes an item noted count also when it ends the run.
        auto PostModes = [this, &Jobs, &Archive, Job] {
            auto Modes = Archive.TakeFolderModes();
            if (Modes.empty()) return;
            Jobs.Post(Job, [this, Modes = std::move(Modes)] {
                FFolderModes.insert(FFolderModes.end(), Modes.begin(), Modes.end());
            });
        };
        try {
            if (FOptions.Command == cmTest)
                Archive.VerifyItem(Index);
            else
                Archive.ExtractAt(Index, "");
            if (StopRequested()) throw EAbUserAbort();
        } catch (...) {
            PostModes();
            Jobs.Fail(Job, std::current_exception());
            break;
        }
        PostModes();
    }
    Archive.EndExtractionBatch();
}

// A view of the main unzipper's archive for a worker, set up as the main
// unzipper (options, password, base folder).
std::unique_ptr<TAbUnZipper> TExtraction::OpenView() {
    auto UnZipper = std::make_unique<TAbUnZipper>(nullptr);
    if (FOptions.HavePassword) UnZipper->SetPassword(FOptions.Password);
    UnZipper->SetExtractOptions(FUnZipper.ExtractOptions());
    UnZipper->OpenViewOf(FUnZipper);
    if (!FUnZipper.BaseDirectory().empty()) UnZipper->SetBaseDirectory(FUnZipper.BaseDirectory());
    return UnZipper;
}

void TExtraction::BeginWorkerItem(TAbUnZipper& UnZipper, TOrderedJobs& Jobs, int32_t Job,
                                  const TAbArchiveItem* Item) {
    Jobs.Post(Job, [this, Job] {
        FShownJob = Job;
        BeginItem(SelectedItem(Job));
    });
    // Where a password may be asked for, an encrypted item starts with the
    // password one unzipper would hold by now: the one given or last
    // answered, or none after an answer gave items up.
    if (!FInteractive || !Item->IsEncrypted()) return;
    std::string Password;
    if (Jobs.Ask(Job, [this, &Password] { Password = FPassword; })) UnZipper.SetPassword(Password);
}

void TExtraction::PostFailure(TOrderedJobs& Jobs, int32_t Job, const std::exception_ptr& Failure,
                              TAbErrorClass ErrorClass, int32_t ErrorCode) {
    bool HasObject = false;
    std::string Missing;
    if (Failure) {
        try {
            std::rethrow_exception(Failure);
        } catch (const std::exception& E) {
            HasObject = true;
            Missing = MissingPartOf(E, FOptions.Archive);
        } catch (...) {
        }
    }
    Jobs.Post(Job, [this, Job, HasObject, Missing,
                    Message = FailureMessage(Failure, ErrorClass, ErrorCode)] {
        if (HasObject && NotedMissingPart(Missing)) return;
        ReportFailure(SelectedItem(Job), Message);
    });
}

// The worker's events: what the sequential handlers show, posted to the
// item's turn; questions asked in it. Job is the item the worker is on.
void TExtraction::ConnectWorker(TAbUnZipper& UnZipper, TOrderedJobs& Jobs, const int32_t& Job) {
    UnZipper.OnConfirmProcessItem = [this, &UnZipper, &Jobs,
                                     &Job](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType,
                                           bool&) { BeginWorkerItem(UnZipper, Jobs, Job, Item); };
    UnZipper.OnArchiveItemProgress = [this, &Jobs, &Job](TAbBaseBrowser*, TAbArchiveItem*,
                                                         uint8_t Progress, bool& Abort) {
        FItemPercent[static_cast<size_t>(Job)].store(Progress);
        Abort = StopRequested() || Jobs.Ended();
    };
    UnZipper.OnArchiveProgress = [&Jobs](TAbBaseBrowser*, uint8_t, bool& Abort) {
        Abort = StopRequested() || Jobs.Ended();
    };
    UnZipper.OnProcessItemFailure = [this, &UnZipper, &Jobs,
                                     &Job](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType,
                                           TAbErrorClass ErrorClass, int32_t ErrorCode) {
        if (StopRequested() && ErrorClass == ecMorvanta && ErrorCode == AbErrUserAbort) return;
        PostFailure(Jobs, Job, UnZipper.Archive()->CurrentFailure(), ErrorClass, ErrorCode);
    };
    UnZipper.OnNeedPassword = [this, &Jobs, &Job](TAbBaseBrowser*, std::string& NewPassword) {
        if (!FInteractive) return; // nobody to ask: as AskPassword without a terminal
        std::string Answer = NewPassword;
        if (!Jobs.Ask(Job, [this, &Answer] {
                AskPassword(Answer);
                FPassword = Answer;
            }))
            Answer.clear();
        NewPassword = Answer;
    };
    UnZipper.OnConfirmOverwrite = [this, &Jobs, &Job](std::string& Name, bool& Confirm) {
        Confirm = FOptions.Overwrite == owAlways;
        if (Confirm) return;
        if (FOptions.Overwrite == owNever || !FInteractive) {
            // The answer is known; the note and the count come in turn.
            Jobs.Post(Job, [this, Name] {
                std::string Shown = Name;
                bool Ignored = false;
                ConfirmOverwrite(Shown, Ignored);
            });
            return;
        }
        std::string Asked = Name;
        bool Answer = false;
        if (!Jobs.Ask(Job, [this, &Asked, &Answer] { ConfirmOverwrite(Asked, Answer); })) return;
        Name = Asked;
        Confirm = Answer;
    };
    UnZipper.OnItemWarning = [this, &Jobs, &Job](TAbArchiveItem* Item, const std::string& Message) {
        Jobs.Post(Job, [this, Name = Printable(Item->FileName()), Text = Printable(Message)] {
            FProgress.Clear();
            std::fprintf(stderr, "%s: %s: warning: %s\n", ProgramName, Name.c_str(), Text.c_str());
        });
    };
    TAbZipArchive* Zip = UnZipper.ZipArchive();
    if (Zip == nullptr) return; // views are of ZIP archives only
    auto Test = Zip->TestHelper;
    Zip->TestHelper = [this, &UnZipper, &Jobs, &Job, Test](TAbArchive* Sender,
                                                           TAbArchiveItem* Item) {
        BeginWorkerItem(UnZipper, Jobs, Job, Item);
        if (Item->FileNameView().empty()) {
            Jobs.Post(Job,
                      [this, Job] { ReportFailure(SelectedItem(Job), EAbUnsafePath().Message()); });
            return;
        }
        try {
            Test(Sender, Item);
        } catch (const std::exception& E) {
            if (StopRequested()) throw;
            PostFailure(Jobs, Job, std::current_exception(), ecOther, 0);
        }
    };
}

// Exit statuses.
constexpr int ExitOk = 0;
constexpr int ExitItemFailed = 1; // also usage and output errors
constexpr int ExitCannotOpen = 2;
constexpr int ExitInterrupted = 130; // 128 + SIGINT, as shells report it

std::string JoinMasks(const std::vector<std::string>& Masks) {
    std::string Result;
    for (const std::string& M : Masks)
        Result += (Result.empty() ? "" : " ") + M;
    return Result;
}

int TExtraction::Run() {
    if (!Open()) return ExitCannotOpen;
    Connect();
    Select();
    int64_t TotalBytes = 0;
    int32_t TotalItems = 0;
    for (int32_t I = 0; I < FUnZipper.Count(); ++I) {
        const TAbArchiveItem* Item = FUnZipper.Archive()->Items(I);
        if (!Item->Tagged()) continue;
        // Declared sizes come from the archive: the sum saturates.
        TotalBytes += std::min(Item->UncompressedSize(), INT64_MAX - TotalBytes);
        ++TotalItems;
        FSelected.push_back(I);
    }
    // Workers pay for ZIP items, whose data lie apart; a tar archive (also
    // inside gzip or bzip2) is read from one stream, and p writes in order.
    const unsigned Workers = std::min<unsigned>(FOptions.Jobs, static_cast<unsigned>(TotalItems));
    const bool Parallel =
        Workers > 1 && FUnZipper.ZipArchive() != nullptr && FOptions.Command != cmPrint;
    if (TotalItems == 0 && !FOptions.Masks.empty()) {
        std::fprintf(stderr, "%s: %s: no item matches %s\n", ProgramName,
                     Printable(FOptions.Archive).c_str(),
                     Printable(JoinMasks(FOptions.Masks)).c_str());
        return ExitItemFailed;
    }
    // Ctrl-C and friends stop after the current block; the engine then removes
    // the unfinished file. A question waiting for an answer gives up.
    CatchStopRequests(srInterrupt | srTerminate | srHangup);
    FProgress.Start(TotalBytes, TotalItems);
    try {
        if (Parallel)
            RunParallel(Workers);
        else if (FOptions.Command == cmPrint)
            PrintItems();
        else if (FOptions.Command == cmTest && FUnZipper.ZipArchive() == nullptr)
            TestItems();
        else if (FOptions.Command == cmTest)
            FUnZipper.TestTaggedItems();
        else
            FUnZipper.ExtractTaggedItems();
    } catch (const std::exception& E) {
        FProgress.Clear();
        if (StopRequested()) {
            std::fprintf(stderr, "%s: interrupted\n", ProgramName);
            return ExitInterrupted;
        }
        std::fprintf(stderr, "%s: %s\n", ProgramName, EnglishCause(E).c_str());
        return ExitItemFailed;
    }
    FProgress.Finish();
    return Finish();
}

int TExtraction::Finish() {
    const std::string Archive = Printable(FOptions.Archive);
    if (StopRequested()) {
        std::fprintf(stderr, "%s: interrupted\n", ProgramName);
        return ExitInterrupted;
    }
    if (!FMissingPart.empty()) {
        std::fprintf(stderr, "%s: %s: part %s of the split archive is missing or unreadable\n",
                     ProgramName, Archive.c_str(), Printable(FMissingPart).c_str());
        return ExitCannotOpen;
    }
    if (FFailures > 0) {
        std::fprintf(stderr, "%s: %d of %d items failed\n", ProgramName, FFailures, FProcessed);
        return ExitItemFailed;
    }
    if (FOptions.Command == cmTest) {
        std::printf("No errors: %d %s tested in %s\n", FProcessed,
                    FProcessed == 1 ? "item" : "items", Archive.c_str());
        if (std::fflush(stdout) != 0) return ExitItemFailed;
    } else if (FOptions.Command != cmPrint && !FOptions.Quiet) {
        const int32_t Done = FProcessed - FKept;
        const std::string Items = std::to_string(Done) + (Done == 1 ? " item" : " items");
        std::string Bytes = HumanBytes(static_cast<double>(FProgress.DoneBytes()));
        if (FKept > 0) Bytes += ", " + std::to_string(FKept) + " existing kept";
        if (IsTerminal(ssError))
            std::fprintf(stderr, "%s: %s, %s in %.1f s\n", ProgramName, Items.c_str(),
                         Bytes.c_str(), FProgress.Seconds());
        else
            std::fprintf(stderr, "%s: %s extracted from %s (%s)\n", ProgramName, Items.c_str(),
                         Archive.c_str(), Bytes.c_str());
    }
    // Files that nobody could be asked about were kept: not what was asked for.
    if (FKeptUnasked > 0) {
        std::fprintf(stderr, "%s: %d existing %s kept; -o replaces, -n keeps without this error\n",
                     ProgramName, FKeptUnasked, FKeptUnasked == 1 ? "file" : "files");
        return ExitItemFailed;
    }
    return ExitOk;
}

// Options of kivo-unzip.
enum TOptionId {
    oiHelp = 1,
    oiVersion,
    oiDirectory,
    oiPassword,
    oiOverwrite,
    oiNever,
    oiQuiet,
    oiVerbose,
    oiExclude,
    oiTsv,
    oiJson,
    oiJobs
};

const std::vector<TOptionSpec> OptionSpecs = {{'h', "help", false, oiHelp},
                                              {0, "version", false, oiVersion},
                                              {'d', "directory", true, oiDirectory},
                                              {'p', "password", true, oiPassword},
                                              {'o', "overwrite", false, oiOverwrite},
                                              {'n', "never-overwrite", false, oiNever},
                                              {'q', "quiet", false, oiQuiet},
                                              {'v', "verbose", false, oiVerbose},
                                              {'x', "exclude", false, oiExclude},
                                              {0, "tsv", false, oiTsv},
                                              {0, "json", false, oiJson},
                                              {'j', "jobs", true, oiJobs}};

// Whether the command takes the option.
bool CommandTakes(const std::string& Command, int Id) {
    const bool Extracts = Command == "x" || Command == "e";
    switch (Id) {
    case oiHelp:
    case oiVersion: return true;
    case oiTsv:
    case oiJson: return Command == "list";
    case oiDirectory:
    case oiOverwrite:
    case oiNever: return Extracts;
    case oiVerbose:
    case oiJobs: return Extracts || Command == "t";
    default: return Command != "list";
    }
}

std::string OptionName(int Id) {
    for (const TOptionSpec& Spec : OptionSpecs) {
        if (Spec.Id != Id) continue;
        return Spec.Short != 0 ? std::string("-") + Spec.Short : "--" + std::string(Spec.Long);
    }
    return "?";
}

int Run(const std::string& Command, std::vector<std::string> Args) {
    TOptions Options;
    // One worker per core the system has online.
    Options.Jobs = std::clamp(std::thread::hardware_concurrency(), 1u, MaxJobs);
    Options.Command = Command == "x"   ? cmExtract
                      : Command == "e" ? cmExtractFlat
                      : Command == "t" ? cmTest
                                       : cmPrint;
    TListFormat Format = lfReadable;
    bool Excluding = false;
    TOptionReader Reader(OptionSpecs, std::move(Args));
    int Id = 0;
    std::string Value;
    for (TOptionKind Kind; (Kind = Reader.Next(Id, Value)) != okEnd;) {
        if (Kind == okError) return UsageError(Value);
        if (Kind == okOperand) {
            if (Options.Archive.empty())
                Options.Archive = Value;
            else if (Command == "list")
                return UsageError("more than one archive given");
            else
                (Excluding ? Options.Exclusions : Options.Masks).push_back(Value);
            continue;
        }
        if (!CommandTakes(Command, Id))
            return UsageError("option " + OptionName(Id) + " does not apply to '" + Command + "'");
        switch (Id) {
        case oiHelp: PrintUsage(stdout); return ExitOk;
        case oiVersion: std::printf("%s %s\n", ProgramName, ProgramVersion); return ExitOk;
        case oiDirectory:
            if (Value.empty()) return UsageError("-d needs a folder");
            Options.Directory = Value;
            break;
        case oiPassword:
            Options.Password = Value;
            Options.HavePassword = true;
            break;
        case oiOverwrite:
        case oiNever: {
            const TOverwrite Choice = Id == oiOverwrite ? owAlways : owNever;
            if (Options.Overwrite != owAsk && Options.Overwrite != Choice)
                return UsageError("-o and -n exclude each other");
            Options.Overwrite = Choice;
            break;
        }
        case oiQuiet: Options.Quiet = true; break;
        case oiVerbose: Options.Verbose = true; break;
        case oiExclude: Excluding = true; break;
        case oiJobs: {
            unsigned Jobs = 0;
            const auto [End, Error] =
                std::from_chars(Value.data(), Value.data() + Value.size(), Jobs);
            if (Error != std::errc() || End != Value.data() + Value.size() || Jobs < 1 ||
                Jobs > MaxJobs)
                return UsageError("-j needs a number of workers from 1 to " +
                                  std::to_string(MaxJobs));
            Options.Jobs = Jobs;
            break;
        }
        case oiTsv: Format = lfTsv; break;
        case oiJson: Format = lfJson; break;
        default: break;
        }
    }
    if (Options.Archive.empty()) return UsageError("missing archive name");
    if (Command == "list") return List(Options.Archive, Format);
    if (Excluding && Options.Exclusions.empty()) return UsageError("-x needs at least one mask");
    TExtraction Extraction(Options);
    return Extraction.Run();
}

} // namespace

int main(int argc, char** argv) {
    // The arguments as the runtime has them: in UTF-8 also on Windows.
    SetProgramArguments(argc, argv);
    PrepareConsoleOutput();
    std::vector<std::string> Args;
    for (int I = 1; I <= ParamCount(); ++I)
        Args.push_back(ParamStr(I));
    if (Args.empty()) return UsageError("missing command");
    const std::string Command = Args[0];
    if (Command == "--help" || Command == "-h") {
        PrintUsage(stdout);
        return ExitOk;
    }
    if (Command == "--version") {
        std::printf("%s %s\n", ProgramName, ProgramVersion);
        return ExitOk;
    }
    if (Command != "list" && Command != "x" && Command != "e" && Command != "t" && Command != "p")
        return UsageError("unknown command '" + Command + "'");
    Args.erase(Args.begin());
    return Run(Command, std::move(Args));
}
