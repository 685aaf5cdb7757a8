#include "ZipFixtures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <zlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include "InflateSupport.h"
#ifdef _WIN32
#include "tests/common/UnixShell.h"
#endif
#include "platform/FileSystem.h"

namespace kivo::ziptest {

// Through the common helpers, which take UTF-8 names on every system.
void WriteBytes(const std::string& FileName, const std::string& Data) {
    if (!test::WriteFile(FileName, Data)) throw std::runtime_error("cannot write " + FileName);
}

std::string ReadBytes(const std::string& FileName) {
    if (!FileExists(FileName)) throw std::runtime_error("cannot read " + FileName);
    return test::ReadFile(FileName);
}

bool Exists(const std::string& Name) {
    return PathExists(Name);
}

std::string Quote(const std::string& Text) {
    std::string Result = "'";
    for (char C : Text) {
        if (C == '\'')
            Result += "'\\''";
        else
            Result += C;
    }
    return Result + "'";
}

std::string MissingTool(std::initializer_list<const char*> Programs) {
    for (const char* Program : Programs) {
        if (Shell("command -v " + Quote(Program) + " >/dev/null 2>&1") != 0) return Program;
    }
    return "";
}

std::vector<std::string> SplitTabs(const std::string& Line) {
    std::vector<std::string> Cols;
    size_t Start = 0;
    for (;;) {
        size_t Tab = Line.find('\t', Start);
        Cols.push_back(
            Line.substr(Start, Tab == std::string::npos ? std::string::npos : Tab - Start));
        if (Tab == std::string::npos) return Cols;
        Start = Tab + 1;
    }
}

#ifdef _WIN32
std::string KivoUnzipTool() {
    return std::string(KIVO_BINARY_DIR) + "/tools/kivo-unzip.exe";
}

namespace {

// One argument of a Windows command line: in double quotes, with the
// backslashes before a quote doubled.
std::string WindowsQuote(const std::string& Text) {
    std::string Result = "\"";
    size_t Backslashes = 0;
    for (char C : Text) {
        if (C == '\\') {
            ++Backslashes;
        } else {
            if (C == '"') Result.append(Backslashes + 1, '\\');
            Backslashes = 0;
        }
        Result += C;
    }
    Result.append(Backslashes, '\\');
    return Result + "\"";
}

// UTF-16 of Text; a file name (AsPath) also gets the API's '\\'.
std::wstring Wide(const std::string& Text, bool AsPath = true) {
    std::wstring Result(Text.size() + 1, L'\0');
    const int N = ::MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, Result.data(),
                                        static_cast<int>(Result.size()));
    Result.resize(N > 0 ? static_cast<size_t>(N - 1) : 0);
    for (wchar_t& C : Result)
        if (AsPath && C == L'/') C = L'\\';
    return Result;
}

HANDLE OpenInherited(const std::string& Name, DWORD Access, DWORD Disposition) {
    SECURITY_ATTRIBUTES Inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(Wide(Name == "/dev/null" ? "NUL" : Name).c_str(), Access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherit, Disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The arguments are written for a POSIX shell (single and double quotes,
// backslash escapes): the words the shell would make of them, each quoted
// for a Windows command line.
std::string WindowsArguments(const std::string& Args) {
    std::string Result;
    std::string Word;
    bool InWord = false;
    auto EndWord = [&] {
        if (InWord) Result += (Result.empty() ? "" : " ") + WindowsQuote(Word);
        Word.clear();
        InWord = false;
    };
    for (size_t I = 0; I < Args.size(); ++I) {
        const char C = Args[I];
        if (C == ' ' || C == '\t' || C == '\n') {
            EndWord();
            continue;
        }
        InWord = true;
        if (C == '\'') {
            const size_t End = std::min(Args.find('\'', I + 1), Args.size());
            Word.append(Args, I + 1, End - I - 1);
            I = End;
        } else if (C == '"') {
            for (++I; I < Args.size() && Args[I] != '"'; ++I) {
                if (Args[I] == '\\' && I + 1 < Args.size() &&
                    std::string_view("\"\\$`").find(Args[I + 1]) != std::string_view::npos)
                    ++I;
                Word += Args[I];
            }
        } else if (C == '\\' && I + 1 < Args.size()) {
            Word += Args[++I];
        } else {
            Word += C;
        }
    }
    EndWord();
    return Result;
}

} // namespace

// The tool started directly (there is no POSIX shell): standard input from
// Input, standard output through a pipe, standard error to a file.
TToolResult RunKivoUnzip(const std::string& Args, const std::string& Lang, const std::string& Input,
                         const std::string& Folder) {
    TTempDir Dir;
    TToolResult R{-1, "", ""};
    ::SetEnvironmentVariableW(L"LANG", Wide(Lang, false).c_str());
    SECURITY_ATTRIBUTES Inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE ReadEnd = nullptr, WriteEnd = nullptr;
    if (!::CreatePipe(&ReadEnd, &WriteEnd, &Inherit, 0)) {
        R.Err = "CreatePipe failed: " + std::to_string(::GetLastError()) + "\n";
        return R;
    }
    ::SetHandleInformation(ReadEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE In = OpenInherited(Input, GENERIC_READ, OPEN_EXISTING);
    HANDLE Err = OpenInherited(Dir / "err", GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW Start{};
    Start.cb = sizeof Start;
    Start.dwFlags = STARTF_USESTDHANDLES;
    Start.hStdInput = In;
    Start.hStdOutput = WriteEnd;
    Start.hStdError = Err;
    // The arguments as the shell would pass them, with '/' in names.
    std::wstring CommandLine =
        Wide(WindowsQuote(KivoUnzipTool()), true) + L" " + Wide(WindowsArguments(Args), false);
    PROCESS_INFORMATION Process{};
    const std::wstring Cwd = Wide(Folder);
    const BOOL Started =
        ::CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         Folder.empty() ? nullptr : Cwd.c_str(), &Start, &Process);
    ::CloseHandle(WriteEnd);
    ::CloseHandle(In);
    ::CloseHandle(Err);
    if (!Started) // say why, so a start that fails now and then shows its cause
        R.Err = "CreateProcessW failed: " + std::to_string(::GetLastError()) + "\n";
    if (Started) {
        char Buffer[65536];
        DWORD Got = 0;
        while (::ReadFile(ReadEnd, Buffer, sizeof Buffer, &Got, nullptr) && Got > 0)
            R.Out.append(Buffer, Got);
        ::WaitForSingleObject(Process.hProcess, INFINITE);
        DWORD Code = 0;
        ::GetExitCodeProcess(Process.hProcess, &Code);
        R.Status = static_cast<int>(Code);
        ::CloseHandle(Process.hProcess);
        ::CloseHandle(Process.hThread);
    }
    ::CloseHandle(ReadEnd);
    if (Started) R.Err = ReadBytes(Dir / "err");
    // A console program's text ends its lines with CR LF on Windows; the
    // tests compare lines.
    // One pass: erasing each CR in place would move the rest of a long
    // listing once per line.
    for (std::string* Text : {&R.Out, &R.Err}) {
        size_t Kept = 0;
        for (size_t At = 0; At < Text->size(); ++At)
            if ((*Text)[At] != '\r' || At + 1 == Text->size() || (*Text)[At + 1] != '\n')
                (*Text)[Kept++] = (*Text)[At];
        Text->resize(Kept);
    }
    return R;
}

// Under Wine the command runs in the Unix shell, its Windows paths made
// Unix ones; without Wine it fails as "not found", and the tests that need
// an outside tool skip as they do where it is missing.
int Shell(const std::string& Command, std::string* Output) {
    TTempDir Dir;
    std::string Out;
    const int Status =
        test::RunUnixShellStatus(test::UnixCommand(Command), Dir.Path(), &Out, 10 * 60 * 1000);
    if (Status < 0) return 127;
    if (Output != nullptr) Output->append(Out);
    return Status;
}
#else
std::string KivoUnzipTool() {
    return std::string(KIVO_BINARY_DIR) + "/tools/kivo-unzip";
}

TToolResult RunKivoUnzip(const std::string& Args, const std::string& Lang, const std::string& Input,
                         const std::string& Folder) {
    const std::string Tool = KivoUnzipTool();
    TTempDir Dir;
    TToolResult R;
    const std::string Cd = Folder.empty() ? std::string() : "cd " + Quote(Folder) + " && ";
    R.Status = Shell(Cd + "LANG=" + Lang + " " + Quote(Tool) + " " + Args + " <" + Quote(Input) +
                         " 2>" + Quote(Dir / "err"),
                     &R.Out);
    R.Err = ReadBytes(Dir / "err");
    return R;
}

int Shell(const std::string& Command, std::string* Output) {
    FILE* P = ::popen(Command.c_str(), "r");
    if (P == nullptr) return -1;
    char Buf[65536];
    size_t N;
    while ((N = std::fread(Buf, 1, sizeof Buf, P)) > 0) {
        if (Output != nullptr) Output->append(Buf, N);
    }
    int Status = ::pclose(P);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}
#endif

uint32_t Crc32Of(const std::string& Data) {
    return static_cast<uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
}

std::string Le16(uint16_t V) {
    return std::string{static_cast<char>(V & 0xFF), static_cast<char>(V >> 8)};
}
std::string Le32(uint32_t V) {
    return Le16(static_cast<uint16_t>(V)) + Le16(static_cast<uint16_t>(V >> 16));
}
std::string Le64(uint64_t V) {
    return Le32(static_cast<uint32_t>(V)) + Le32(static_cast<uint32_t>(V >> 32));
}

TZipEntryDef Stored(const std::string& Name, const std::string& Data) {
    TZipEntryDef E;
    E.RawName = Name;
    E.Data = Data;
    return E;
}

TZipEntryDef Deflated(const std::string& Name, const std::string& Data, int Level) {
    TZipEntryDef E = Stored(Name, test::ZlibDeflateRaw(Data, Level));
    E.Method = 8;
    E.CentralCrc = Crc32Of(Data);
    E.CentralUncompressedSize = static_cast<int64_t>(Data.size());
    return E;
}

TZipEntryDef Packed(const std::string& Name, uint16_t Method, const std::string& PackedData,
                    const std::string& Data) {
    TZipEntryDef E = Stored(Name, PackedData);
    E.Method = Method;
    E.CentralCrc = Crc32Of(Data);
    E.CentralUncompressedSize = static_cast<int64_t>(Data.size());
    E.LocalLikeCentral = true;
    return E;
}

std::string ExtraSubfield(uint16_t ID, const std::string& Data) {
    return Le16(ID) + Le16(static_cast<uint16_t>(Data.size())) + Data;
}

std::string BuildZip(const std::vector<TZipEntryDef>& Entries, const TZipBuildOptions& Options) {
    std::string Out = Options.Prefix;
    std::vector<uint64_t> Offsets;
    auto Pick = [](int64_t Override, uint64_t Natural) {
        return static_cast<uint32_t>(Override >= 0 ? static_cast<uint64_t>(Override) : Natural);
    };
    for (const TZipEntryDef& E : Entries) {
        Offsets.push_back(Out.size());
        if (E.CentralOnly) continue;
        const uint32_t Size = static_cast<uint32_t>(E.Data.size());
        const bool Central = E.LocalLikeCentral;
        Out += Le32(0x04034B50) + Le16(E.VersionNeeded) + Le16(E.Flags) + Le16(E.Method) +
               Le16(E.Time) + Le16(E.Date) +
               Le32(Central ? Pick(E.CentralCrc, Crc32Of(E.Data)) : Crc32Of(E.Data)) +
               Le32(Central ? Pick(E.CentralCompressedSize, Size) : Size) +
               Le32(Central ? Pick(E.CentralUncompressedSize, Size) : Size) +
               Le16(static_cast<uint16_t>(E.RawName.size())) +
               Le16(static_cast<uint16_t>(E.LocalExtra.size())) + E.RawName + E.LocalExtra + E.Data;
    }
    uint64_t DirOffset = Out.size();
    for (size_t I = 0; I < Entries.size(); ++I) {
        const TZipEntryDef& E = Entries[I];
        Out += Le32(0x02014B50) + Le16(E.VersionMadeBy) + Le16(E.VersionNeeded) + Le16(E.Flags) +
               Le16(E.Method) + Le16(E.Time) + Le16(E.Date) +
               Le32(Pick(E.CentralCrc, Crc32Of(E.Data))) +
               Le32(Pick(E.CentralCompressedSize, E.Data.size())) +
               Le32(Pick(E.CentralUncompressedSize, E.Data.size())) +
               Le16(static_cast<uint16_t>(E.RawName.size())) +
               Le16(static_cast<uint16_t>(E.CentralExtra.size())) +
               Le16(static_cast<uint16_t>(E.Comment.size())) + Le16(0) + Le16(0) +
               Le32(E.ExternalAttributes) + Le32(Pick(E.CentralOffset, Offsets[I])) + E.RawName +
               E.CentralExtra + E.Comment;
    }
    uint64_t DirSize = Out.size() - DirOffset;
    uint64_t Total = Options.TotalEntriesOverride >= 0
                         ? static_cast<uint64_t>(Options.TotalEntriesOverride)
                         : Entries.size();
    uint64_t Offset = Options.DirectoryOffsetOverride >= 0
                          ? static_cast<uint64_t>(Options.DirectoryOffsetOverride)
                          : DirOffset;
    if (Options.Zip64Records) {
        uint64_t RecordOffset = Out.size();
        Out += Le32(0x06064B50) + Le64(44) + Le16(45) + Le16(45) + Le32(0) + Le32(0) + Le64(Total) +
               Le64(Total) + Le64(DirSize) + Le64(Offset);
        Out += Le32(0x07064B50) + Le32(0) + Le64(RecordOffset) + Le32(1);
        Out += Le32(0x06054B50) + Le16(0) + Le16(0) + Le16(0xFFFF) + Le16(0xFFFF) +
               Le32(0xFFFFFFFF) + Le32(0xFFFFFFFF);
    } else {
        Out += Le32(0x06054B50) + Le16(0) + Le16(0) + Le16(static_cast<uint16_t>(Total)) +
               Le16(static_cast<uint16_t>(Total)) + Le32(static_cast<uint32_t>(DirSize)) +
               Le32(static_cast<uint32_t>(Offset));
    }
    Out += Le16(static_cast<uint16_t>(Options.ArchiveComment.size())) + Options.ArchiveComment;
    return Out;
}

std::string RandomBytes(size_t Size, uint32_t Seed) {
    std::mt19937 Gen(Seed);
    std::string Out(Size, '\0');
    for (char& C : Out)
        C = static_cast<char>(Gen() & 0xFF);
    return Out;
}

std::string TestData(const std::string& Name) {
    return std::string(KIVO_TESTDATA_DIR) + "/" + Name;
}

std::vector<TManifestLine> ReadManifest() {
    std::vector<TManifestLine> Lines;
    std::istringstream In(ReadBytes(TestData("MANIFEST.tsv")));
    std::string Line;
    while (std::getline(In, Line)) {
        if (Line.empty() || Line[0] == '#') continue;
        std::vector<std::string> Cols = SplitTabs(Line);
        Cols.resize(7);
        Lines.push_back({Cols[0], Cols[1], Cols[2], Cols[3], Cols[4], Cols[5], Cols[6]});
    }
    return Lines;
}

} // namespace kivo::ziptest
