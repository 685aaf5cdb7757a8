// What kivo-unzip x makes of items archived on Unix: permission bits (less
// set-user-ID, set-group-ID, sticky and what the umask takes) and symbolic
// links, which become links only when their target stays inside the folder.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "support/ZipFixtures.h"

using namespace kivo::ziptest;

namespace {

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
    struct stat St {};
    ASSERT_EQ(::lstat(Target.c_str(), &St), 0);
    if (Row.Kind == 'l') {
        ASSERT_TRUE(S_ISLNK(St.st_mode));
        char Link[256] = {};
        ASSERT_GT(::readlink(Target.c_str(), Link, sizeof Link - 1), 0);
        EXPECT_EQ(std::string(Link), Row.Data);
        return;
    }
    ASSERT_TRUE(S_ISREG(St.st_mode));
    EXPECT_EQ(St.st_mode & 07777, Row.Permissions);
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

} // namespace
