// The shared ZIP archives as test parameters: each archive with its manifest
// lines and what the corpus table adds to them, so that a corpus test is one
// test case per archive whose body applies the archive's expectations.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

#include "ZipFixtures.h"

namespace kivo::ziptest {

// Why an archive cannot be read as a whole.
enum class TArchiveFault {
    None,
    EmptyFile,   // 0 bytes
    NoEndRecord, // random bytes, or cut short before the end record
    // A stub put in front without moving the offsets: the central directory
    // is not where the end record says.
    UnadjustedStub,
};

// One shared ZIP archive (.zip or .exe) and what it is expected to do.
struct TCorpusArchive {
    std::string Name;
    std::vector<TManifestLine> Lines; // in archive order
    TArchiveFault Fault = TArchiveFault::None;
    // The text to extract with (the engine keys it in the ANSI code page).
    std::string Password;
    // The code every entry that would be decoded fails with (0: none).
    int32_t EntryFailure = 0;
};

// The ZIP archives of the manifest in name order, each with its row of the
// corpus table applied; empty when the manifest cannot be read.
std::vector<TCorpusArchive> SharedZipArchives();

// The archives the corpus table has a row for.
std::vector<std::string> CorpusTableArchives();

// The compression method of a manifest line ("8 deflated": 8); -1 for "-".
int MethodNumber(const TManifestLine& Line);

// The test name of an archive: its file name with every character but ASCII
// letters and digits replaced by '_' ("zip_store.zip": "zip_store_zip").
std::string CorpusCaseName(const ::testing::TestParamInfo<TCorpusArchive>& Info);

// Failure messages and test listings show the archive by its name.
void PrintTo(const TCorpusArchive& Archive, std::ostream* Os);

} // namespace kivo::ziptest
