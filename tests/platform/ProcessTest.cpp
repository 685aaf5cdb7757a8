// Starting programs: the shell's "open" and child processes with exit codes.
#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"
#include "tests/common/TestFiles.h"

using namespace kivo;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    std::string Write(const std::string& Name, const std::string& Text, mode_t Mode) {
        std::string Path = Dir + "/" + Name;
        EXPECT_TRUE(test::WriteFile(Path, Text));
        ::chmod(Path.c_str(), Mode);
        return Path;
    }
    // Waits (generously) for a detached program to leave its record.
    std::string AwaitRecord(const std::string& Path) {
        for (int i = 0; i < 1000 && !FileExists(Path + ".done"); ++i)
            ::usleep(10000);
        return test::ReadFile(Path);
    }

    test::TTempDir Temp;
    const std::string Dir = Temp.Path();
};

const char* Recorder =
    "#!/bin/sh\n"
    "out=\"$(dirname \"$0\")/record\"\n"
    "printf '%s|' \"$@\" > \"$out\"; printf '%s' \"$(pwd)\" >> \"$out\"; : > \"$out.done\"\n";

} // namespace

TEST_F(ProcessTest, OpenStartsAnExecutableWithItsSplitParameters) {
    std::string Exe = Write("Server.exe", Recorder, 0755);
    EXPECT_GT(ShellExecuteOpen(Exe, "/regserver \"two words\"", "", SW_SHOWNORMAL), 32);
    EXPECT_EQ(AwaitRecord(Dir + "/record"), "/regserver|two words|" + GetCurrentDir());
}

TEST_F(ProcessTest, OpenRunsAScriptWithoutExecuteBitThroughItsInterpreter) {
    std::string Exe = Write("Server.exe", Recorder, 0644);
    EXPECT_GT(ShellExecuteOpen(Exe, "/unregserver", Dir, SW_SHOWNORMAL), 32);
    EXPECT_EQ(AwaitRecord(Dir + "/record"), "/unregserver|" + Dir);
}

TEST_F(ProcessTest, OpenReportsMissingFilesFoldersAndPrograms) {
    EXPECT_EQ(ShellExecuteOpen(Dir + "/Zelbrix.exe", "/regserver", "", SW_SHOWNORMAL), 2);
    EXPECT_EQ(ShellExecuteOpen(Dir + "/no/Zelbrix.exe", "/regserver", "", SW_SHOWNORMAL), 3);
    EXPECT_EQ(ShellExecuteOpen("", "", "", SW_SHOWNORMAL), 2);
    std::string Exe = Write("Server.exe", Recorder, 0755);
    EXPECT_EQ(ShellExecuteOpen(Exe, "", Dir + "/missing", SW_SHOWNORMAL), 3);

    // A document with no program to open it.
    std::string Doc = Write("notes.txt", "text", 0644);
    const char* OldPath = std::getenv("PATH");
    std::string Saved = OldPath != nullptr ? OldPath : "";
    ::setenv("PATH", Dir.c_str(), 1);
    EXPECT_EQ(ShellExecuteOpen(Doc, "", "", SW_SHOWNORMAL), 31);
    ::setenv("PATH", Saved.c_str(), 1);
}

TEST_F(ProcessTest, ChildExitCodesWithoutAndWithResultChannel) {
    auto P = StartProcess({"/bin/sh", "-c", "exit 7"}, TStartOptions());
    ASSERT_TRUE(P);
    EXPECT_EQ(P->WaitFor(INFINITE), WAIT_OBJECT_0);
    uint32_t Code = 0;
    EXPECT_TRUE(P->GetExitCode(Code));
    EXPECT_EQ(Code, 7u);

    auto Killed = StartProcess({"/bin/sh", "-c", "kill -9 $$"}, TStartOptions());
    ASSERT_TRUE(Killed);
    Killed->WaitFor(INFINITE);
    EXPECT_TRUE(Killed->GetExitCode(Code));
    EXPECT_EQ(Code, 31u); // no exit code to read

    // A child that leaves no result in its channel: the exit status counts.
    TStartOptions Channel;
    Channel.ResultChannel = true;
    auto Forged = StartProcess({"/bin/sh", "-c", "cat >/dev/null; exit 3"}, Channel);
    ASSERT_TRUE(Forged);
    Forged->WaitFor(INFINITE);
    EXPECT_TRUE(Forged->GetExitCode(Code));
    EXPECT_EQ(Code, 3u);

    auto Running = StartProcess({"/bin/sh", "-c", "read x"}, Channel); // waits on the channel's end
    ASSERT_TRUE(Running);
    EXPECT_TRUE(Running->GetExitCode(Code));
    EXPECT_TRUE(Code == STILL_ACTIVE || Code == 0u);
}

TEST_F(ProcessTest, StartFailureSetsTheLastError) {
    EXPECT_FALSE(StartProcess({Dir + "/missing"}, TStartOptions()));
    EXPECT_EQ(GetLastError(), 2u);
}

TEST_F(ProcessTest, OpenDocumentHandsProgramsScriptsAndFoldersToTheDesktopOpener) {
    // A stand-in opener; had a program been started itself, the record
    // would hold no path.
    Write("xdg-open", Recorder, 0755);
    const std::string Program = Write("Setup.exe", Recorder, 0755);
    const std::string Script = Write("setup.sh", Recorder, 0644);
    const char* OldPath = std::getenv("PATH");
    const std::string Saved = OldPath != nullptr ? OldPath : "";
    ::setenv("PATH", (Dir + ":" + Saved).c_str(), 1);
    for (const std::string& Path : {Program, Script, Dir}) {
        SCOPED_TRACE(Path);
        ::unlink((Dir + "/record.done").c_str());
        EXPECT_GT(ShellOpenDocument(Path, ""), 32);
        EXPECT_EQ(AwaitRecord(Dir + "/record"), Path + "|" + GetCurrentDir());
    }
    ::setenv("PATH", Saved.c_str(), 1);
}
