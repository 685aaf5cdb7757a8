// kivo-unzip: lists ZIP archives with the archive engine.
//
//   kivo-unzip list ARCHIVE          readable listing
//   kivo-unzip list --tsv ARCHIVE    one tab-separated line per item, for scripts
//
// Exit status: 0 on success, 1 for a usage error or an output failure, 2 when
// the archive cannot be opened (the engine's message goes to stderr).
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/Classes.h"

using namespace kivo;

namespace {

constexpr const char* ProgramName = "kivo-unzip";
constexpr const char* ProgramVersion = "1.0.0";

void PrintUsage(std::FILE* Out) {
    std::fprintf(Out,
                 "Usage: %s list [--tsv] ARCHIVE\n"
                 "       %s --help | --version\n"
                 "\n"
                 "Lists the items of a ZIP archive (Zip64, split sets, self-extractors).\n"
                 "\n"
                 "  list ARCHIVE        readable listing with sizes, method, CRC-32, date and name\n"
                 "  list --tsv ARCHIVE  one line per item with these tab-separated columns:\n"
                 "                      stored name, uncompressed size, compressed size,\n"
                 "                      method number, CRC-32 (8 hex digits),\n"
                 "                      last modification (YYYY-MM-DD hh:mm:ss),\n"
                 "                      attributes (2 hex digits), d for a directory else -,\n"
                 "                      e for an encrypted item else -\n"
                 "  --help              show this help\n"
                 "  --version           show the version\n"
                 "\n"
                 "Control characters in names are shown as '?'.\n"
                 "Exit status: 0 success, 1 usage or output error, 2 archive cannot be opened.\n",
                 ProgramName, ProgramName);
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
        for (int Pad = Width - static_cast<int>(Res.ptr - Buf); Pad > 0; --Pad) FBuffer.push_back(' ');
        FBuffer.append(Buf, Res.ptr);
    }
    void Hex(uint32_t Value, int Digits) {
        static const char Digit[] = "0123456789abcdef";
        for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4) FBuffer.push_back(Digit[(Value >> Shift) & 0xF]);
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
        if (std::fwrite(FBuffer.data(), 1, FBuffer.size(), stdout) != FBuffer.size()) FFailed = true;
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
    case 2: case 3: case 4: case 5: return "reduced" + std::to_string(Method - 1);
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

void ListTsv(TAbZipArchive& Archive, TOutput& Out) {
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        const TAbZipItem* Item = Archive.ZipItems(I);
        Out.Name(Item->FileNameView());
        Out.Add('\t');
        Out.Number(static_cast<uint64_t>(Item->UncompressedSize()));
        Out.Add('\t');
        Out.Number(static_cast<uint64_t>(Item->CompressedSize()));
        Out.Add('\t');
        Out.Number(Item->CompressionMethod());
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

void ListReadable(TAbZipArchive& Archive, const std::string& FileName, TOutput& Out) {
    Out.Add("Archive: ");
    Out.Name(FileName);
    Out.Add("\n    Length  Compressed  Method     CRC-32    Date       Time      Name\n");
    Out.Add("----------  ----------  ---------  --------  ---------- --------  ----\n");
    uint64_t TotalSize = 0;
    uint64_t TotalCompressed = 0;
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        const TAbZipItem* Item = Archive.ZipItems(I);
        Out.Number(static_cast<uint64_t>(Item->UncompressedSize()), 10);
        Out.Add("  ");
        Out.Number(static_cast<uint64_t>(Item->CompressedSize()), 10);
        Out.Add("  ");
        std::string Method = MethodName(Item->CompressionMethod());
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
    if (!Archive.ZipfileComment().empty()) {
        Out.Add("Comment: ");
        Out.Name(Archive.ZipfileComment());
        Out.Add('\n');
    }
    bool AnyEncrypted = false;
    for (int32_t I = 0; I < Archive.Count() && !AnyEncrypted; ++I) AnyEncrypted = Archive.ZipItems(I)->IsEncrypted();
    if (AnyEncrypted) Out.Add("(* encrypted)\n");
}

int List(const std::string& FileName, bool Tsv) {
    std::unique_ptr<TAbZipArchive> Archive;
    try {
        // The same checks the unzipper makes before it opens a file.
        if (!FileExists(FileName)) throw EAbFileNotFound();
        if (FileSizeOf(FileName) <= 0) throw EAbBadStream();
        Archive = std::make_unique<TAbZipArchive>(FileName, fmOpenRead | fmShareDenyNone);
        Archive->Load();
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, FileName.c_str(), E.what());
        return 2;
    }
    TOutput Out;
    if (Tsv) ListTsv(*Archive, Out);
    else ListReadable(*Archive, FileName, Out);
    if (Out.Failed()) {
        std::fprintf(stderr, "%s: cannot write the listing: %s\n", ProgramName, std::strerror(errno));
        return 1;
    }
    return 0;
}

int UsageError(const std::string& Message) {
    std::fprintf(stderr, "%s: %s\n", ProgramName, Message.c_str());
    std::fprintf(stderr, "Try '%s --help' for more information.\n", ProgramName);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    SetProgramArguments(argc, argv);
    std::vector<std::string> Args(argv + 1, argv + argc);
    if (Args.empty()) return UsageError("missing command");
    if (Args[0] == "--help" || Args[0] == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (Args[0] == "--version") {
        std::printf("%s %s\n", ProgramName, ProgramVersion);
        return 0;
    }
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
