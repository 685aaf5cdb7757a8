// What kivo-unzip x makes of items archived on Unix: permission bits (less
// set-user-ID, set-group-ID, sticky and what the umask takes) and symbolic
// links, which become links only when their target stays inside the folder.
// Folders get their bits once everything inside them is written.
#include <gtest/gtest.h>
#include <string>

#include "platform/FileSystem.h"
#include "support/ZipFixtures.h"
#include "tests/common/TestFileStatus.h"

using namespace kivo::ziptest;
namespace test = kivo::test;

namespace {

// The rows run the tool under a umask through the shell and read Unix
// permission bits: neither exists on Windows.
const char* const NoUnixModes = "no Unix permission bits, umask or shell here";

struct TUnixRow {
    const char* Name;
    const char* Stored;       // stored name
    uint16_t Host;            // host system of "version made by"
    uint32_t Mode;            // Unix mode stored in the external attributes
    const char* Data;         // file contents or link target
    const char* Umask;        // the umask the tool runs with
    char Kind;                // 'f' a file, 'l' a link
    unsigned Permissions;     // of a file
    bool Warns;               // a warning line names the item
    bool IntoCurrent = false; // extracted into the current folder, without -d
};

std::ostream& operator<<(std::ostream& Out, const TUnixRow& Row) {
    return Out << Row.Name;
}

class KivoUnzipUnix : public ::testing::TestWithParam<TUnixRow> {};

TEST_P(KivoUnzipUnix, RestoresModesAndSafeLinks) {
    const TUnixRow& Row = GetParam();
    TTempDir Dir;
    if (!test::PermissionBits(Dir.Path())) GTEST_SKIP() << NoUnixModes;
    TZipEntryDef Top = Stored("top.txt", "top\n");
    TZipEntryDef Item = Stored(Row.Stored, Row.Data);
    Item.VersionMadeBy = static_cast<uint16_t>(Row.Host << 8 | 30);
    Item.ExternalAttributes = Row.Mode << 16;
    WriteBytes(Dir / "a.zip", BuildZip({Top, Item}));

    std::string Out;
    const std::string Where =
        Row.IntoCurrent ? "mkdir " + Quote(Dir / "out") + " && cd " + Quote(Dir / "out") + " && "
                        : std::string();
    const std::string Folder = Row.IntoCurrent ? std::string() : " -d " + Quote(Dir / "out");
    const int Status =
        Shell(Where + "umask " + std::string(Row.Umask) + " && " + Quote(KivoUnzipTool()) + " x " +
                  Quote(Dir / "a.zip") + Folder + " 2>&1",
              &Out);
    EXPECT_EQ(Status, 0) << Out;
    EXPECT_EQ(Out.find(std::string(Row.Stored) + ": warning: link target") != std::string::npos,
              Row.Warns)
        << Out;

    const std::string Target = Dir / ("out/" + std::string(Row.Stored));
    if (Row.Kind == 'l') {
        EXPECT_EQ(test::LinkTarget(Target), Row.Data);
        return;
    }
    ASSERT_TRUE(test::IsPlainFile(Target));
    EXPECT_EQ(test::PermissionBits(Target), Row.Permissions);
    EXPECT_EQ(ReadBytes(Target), Row.Data);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KivoUnzipUnix,
    ::testing::Values(
        TUnixRow{"Executable", "bin/run.sh", 3, 0100755, "#!/bin/sh\n", "022", 'f', 0755, false},
        TUnixRow{"Private", "secret.txt", 3, 0100600, "s\n", "022", 'f', 0600, false},
        TUnixRow{"NoSetUserId", "bin/su", 3, 0104755, "x", "022", 'f', 0755, false},
        TUnixRow{"NoStickyOrSetGroup", "shared", 3, 0103777, "x", "022", 'f', 0755, false},
        TUnixRow{"UmaskApplies", "doc.txt", 3, 0100666, "x", "077", 'f', 0600, false},
        TUnixRow{"ReadOnly", "ro.txt", 3, 0100444, "x", "022", 'f', 0444, false},
        TUnixRow{"MadeOnDos", "dos.txt", 0, 0, "x", "022", 'f', 0644, false},
        TUnixRow{"LinkBeside", "dir/good", 3, 0120777, "t.txt", "022", 'l', 0, false},
        TUnixRow{"LinkUpInside", "dir/up", 3, 0120777, "../top.txt", "022", 'l', 0, false},
        TUnixRow{"LinkDown", "down", 3, 0120777, "dir/sub/./x", "022", 'l', 0, false},
        TUnixRow{"LinkInTheCurrentFolder", "dir/here", 3, 0120777, "../top.txt", "022", 'l', 0,
                 false, true},
        TUnixRow{"LinkOutOfTheCurrentFolder", "dir/away", 3, 0120777, "../../top.txt", "022", 'f',
                 0644, true, true},
        TUnixRow{"LinkUpOutside", "dir/out", 3, 0120777, "../../x", "022", 'f', 0644, true},
        TUnixRow{"LinkAbsolute", "abs", 3, 0120777, "/etc/passwd", "022", 'f', 0644, true},
        TUnixRow{"LinkClimbsAfterAName", "dir/tricky", 3, 0120777, "sub/../../x", "022", 'f', 0644,
                 true},
        TUnixRow{"LinkFromDos", "dos-link", 0, 0120777, "top.txt", "022", 'f', 0644, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct TFolderRow {
    const char* Name;
    uint16_t Host;     // host system of "version made by" of both folders
    uint32_t Outer;    // stored mode of "d/"
    uint32_t Inner;    // stored mode of "d/sub/"
    const char* Umask; // the umask the tool runs with
    unsigned OuterPermissions;
    unsigned InnerPermissions;
};

std::ostream& operator<<(std::ostream& Out, const TFolderRow& Row) {
    return Out << Row.Name;
}

class KivoUnzipUnixFolders : public ::testing::TestWithParam<TFolderRow> {};

// The permission bits of a folder, opened up afterwards so the test can look
// inside it and remove it; 0 when it is missing.
unsigned TakePermissions(const std::string& Path) {
    const auto Bits = test::PermissionBits(Path);
    if (!Bits || !kivo::DirectoryExists(Path) || test::LinkTarget(Path)) return 0;
    test::SetPermissionBits(Path, 0700);
    return *Bits;
}

TEST_P(KivoUnzipUnixFolders, GetTheirModesAfterTheirFiles) {
    const TFolderRow& Row = GetParam();
    TTempDir Dir;
    if (!test::PermissionBits(Dir.Path())) GTEST_SKIP() << NoUnixModes;
    TZipEntryDef Outer = Stored("d/", "");
    TZipEntryDef Inner = Stored("d/sub/", "");
    Outer.VersionMadeBy = Inner.VersionMadeBy = static_cast<uint16_t>(Row.Host << 8 | 30);
    Outer.ExternalAttributes = Row.Outer << 16 | 0x10;
    Inner.ExternalAttributes = Row.Inner << 16 | 0x10;
    WriteBytes(Dir / "a.zip",
               BuildZip({Outer, Inner, Stored("d/a.txt", "a\n"), Stored("d/sub/b.txt", "b\n")}));

    std::string Out;
    const int Status =
        Shell("umask " + std::string(Row.Umask) + " && " + Quote(KivoUnzipTool()) + " x " +
                  Quote(Dir / "a.zip") + " -d " + Quote(Dir / "out") + " 2>&1",
              &Out);
    const unsigned OuterPermissions = TakePermissions(Dir / "out/d");
    const unsigned InnerPermissions = TakePermissions(Dir / "out/d/sub");
    EXPECT_EQ(Status, 0) << Out;
    EXPECT_EQ(OuterPermissions, Row.OuterPermissions);
    EXPECT_EQ(InnerPermissions, Row.InnerPermissions);
    EXPECT_EQ(ReadBytes(Dir / "out/d/a.txt"), "a\n");
    EXPECT_EQ(ReadBytes(Dir / "out/d/sub/b.txt"), "b\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KivoUnzipUnixFolders,
    ::testing::Values(TFolderRow{"Private", 3, 040700, 040700, "022", 0700, 0700},
                      TFolderRow{"ReadOnlyWithFiles", 3, 040555, 040555, "022", 0555, 0555},
                      // Deepest first: the outer folder closed to searching
                      // must not keep the inner one from its mode.
                      TFolderRow{"OuterNotSearchable", 3, 040600, 040500, "022", 0600, 0500},
                      TFolderRow{"UmaskApplies", 3, 040777, 040775, "077", 0700, 0700},
                      TFolderRow{"NoSetGroupOrSticky", 3, 042775, 041777, "022", 0755, 0755},
                      TFolderRow{"NoTypeBits", 3, 0750, 0710, "022", 0750, 0710},
                      TFolderRow{"MadeOnDos", 0, 0, 0, "022", 0755, 0755}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
