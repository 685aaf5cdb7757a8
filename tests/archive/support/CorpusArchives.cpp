#include "CorpusArchives.h"

#include <cstdlib>
#include <exception>
#include <map>
#include <utility>

#include "archive/AbExcept.h"
#include "runtime/Text.h"

namespace kivo::ziptest {

namespace {

// One row per archive that does more or less than the default: it opens,
// needs no password but the one its manifest notes give ("pw="), and each
// entry does what its manifest line says.
struct TCorpusRow {
    const char* Archive;
    TArchiveFault Fault;
    const char* Password; // nullptr: the noted one
    int32_t EntryFailure;
};

// "pässwort" as UTF-8 text.
constexpr const char* Paesswort = "p\xC3\xA4sswort";

constexpr TCorpusRow CorpusTable[] = {
    {"empty.zip", TArchiveFault::EmptyFile, nullptr, 0},
    {"garbage.zip", TArchiveFault::NoEndRecord, nullptr, 0},
    {"trunc_mid_cd.zip", TArchiveFault::NoEndRecord, nullptr, 0},
    {"trunc_mid_data.zip", TArchiveFault::NoEndRecord, nullptr, 0},
    {"sfx_mz_nofix.exe", TArchiveFault::UnadjustedStub, nullptr, 0},
    // Encrypted with the cp1252 bytes and with the UTF-8 bytes of "pässwort"
    // (the notes give them in hex): keyed in cp1252, the ANSI code page of
    // the corpus tests, the text opens the first only.
    {"enc_pw_cp1252.zip", TArchiveFault::None, Paesswort, 0},
    {"enc_pw_utf8.zip", TArchiveFault::None, Paesswort, AbErrZipInvalidPassword},
};

bool IsZipName(const std::string& Name) {
    return EndsStr(".zip", Name) || EndsStr(".exe", Name);
}

// The "pw=" note of the first line that has one.
std::string NotedPassword(const std::vector<TManifestLine>& Lines) {
    for (const TManifestLine& L : Lines) {
        const size_t At = L.Notes.find("pw=");
        if (At == std::string::npos || (At > 0 && L.Notes[At - 1] != ' ')) continue;
        const size_t End = L.Notes.find(';', At);
        return L.Notes.substr(At + 3, End == std::string::npos ? End : End - At - 3);
    }
    return "";
}

} // namespace

std::vector<TCorpusArchive> SharedZipArchives() {
    std::vector<TManifestLine> Manifest;
    try {
        Manifest = ReadManifest();
    } catch (const std::exception&) {
        // No test cases; the corpus size checks report the missing manifest.
        return {};
    }
    std::map<std::string, TCorpusArchive> ByName;
    for (TManifestLine& L : Manifest) {
        if (!IsZipName(L.Archive)) continue;
        TCorpusArchive& A = ByName[L.Archive];
        A.Name = L.Archive;
        A.Lines.push_back(std::move(L));
    }
    std::vector<TCorpusArchive> Archives;
    for (auto& [Name, A] : ByName) {
        A.Password = NotedPassword(A.Lines);
        for (const TCorpusRow& Row : CorpusTable) {
            if (Name != Row.Archive) continue;
            A.Fault = Row.Fault;
            if (Row.Password != nullptr) A.Password = Row.Password;
            A.EntryFailure = Row.EntryFailure;
        }
        Archives.push_back(std::move(A));
    }
    return Archives;
}

std::vector<std::string> CorpusTableArchives() {
    std::vector<std::string> Names;
    for (const TCorpusRow& Row : CorpusTable)
        Names.emplace_back(Row.Archive);
    return Names;
}

int MethodNumber(const TManifestLine& Line) {
    return Line.Method.empty() || Line.Method == "-" ? -1 : std::atoi(Line.Method.c_str());
}

std::string CorpusCaseName(const ::testing::TestParamInfo<TCorpusArchive>& Info) {
    std::string Name = Info.param.Name;
    for (char& C : Name) {
        const bool Alnum =
            (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9');
        if (!Alnum) C = '_';
    }
    return Name;
}

void PrintTo(const TCorpusArchive& Archive, std::ostream* Os) {
    *Os << Archive.Name;
}

} // namespace kivo::ziptest
