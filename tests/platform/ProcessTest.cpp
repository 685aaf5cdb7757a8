// Starting programs: the shell's "open" and child processes with exit codes.
#include "platform/Process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "tests/common/TestAccount.h"
#include "tests/common/TestEnv.h"
#include "tests/common/TestFileStatus.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestSystem.h"

using namespace kivo;

namespace {

// A copy of this program under another name is the recorder the tests
// start: it writes its arguments and its working folder, separated by "|",
// into "record" beside itself, and then "record.done".
[[maybe_unused]] const bool RecorderStartup = [] {
    const std::string Self = ExecutablePath();
    if (ExtractFileName(Self).find("ProcessTest") != std::string::npos) return false;
    const std::vector<std::string> Args = test::OwnArguments();
    std::string Record;
    for (size_t I = 1; I < Args.size(); ++I)
        Record += Args[I] + "|";
    const std::string Out = ExtractFileDir(Self) + "/record";
    test::WriteFile(Out, Record + GetCurrentDir());
    test::WriteFile(Out + ".done", "");
    std::_Exit(0);
}();

class ProcessTest : public ::testing::Test {
protected:
    std::string Write(const std::string& Name, const std::string& Text, unsigned Mode) {
        std::string Path = Dir + "/" + Name;
        EXPECT_TRUE(test::WriteFile(Path, Text));
        test::SetMode(Path, Mode);
        return Path;
    }
    // A recorder program (see above) named Name.
    std::string WriteRecorder(const std::string& Name) {
        return Write(Name, test::ReadFile(ExecutablePath()), 0755);
    }
    // Waits (generously) for a detached program to leave its record.
    std::string AwaitRecord(const std::string& Path) {
        for (int i = 0; i < 1000 && !FileExists(Path + ".done"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return test::ReadFile(Path);
    }
    // Sets PATH for the lifetime of the test.
    void SetPath(const std::string& Path) {
        const char* Old = std::getenv("PATH");
        if (!SavedPath) SavedPath = Old != nullptr ? Old : "";
        test::SetEnvVar("PATH", Path);
    }
    void TearDown() override {
        if (SavedPath) test::SetEnvVar("PATH", *SavedPath);
    }

    test::TTempDir Temp;
    const std::string Dir = Temp.Path();
    std::optional<std::string> SavedPath;
};

// The recorder as a shell script.
const char* Recorder =
    "#!/bin/sh\n"
    "out=\"$(dirname \"$0\")/record\"\n"
    "printf '%s|' \"$@\" > \"$out\"; printf '%s' \"$(pwd)\" >> \"$out\"; : > \"$out.done\"\n";

} // namespace

TEST_F(ProcessTest, OpenStartsAnExecutableWithItsSplitParameters) {
    std::string Exe = WriteRecorder("Server.exe");
    EXPECT_GT(ShellExecuteOpen(Exe, "/regserver \"two words\"", "", SW_SHOWNORMAL), 32);
    EXPECT_EQ(AwaitRecord(Dir + "/record"), "/regserver|two words|" + GetCurrentDir());
}

TEST_F(ProcessTest, OpenRunsAScriptWithoutExecuteBitThroughItsInterpreter) {
    if (test::OnWindows) GTEST_SKIP() << "Windows finds a program by its extension, not by \"#!\"";
    std::string Exe = Write("Server.exe", Recorder, 0644);
    EXPECT_GT(ShellExecuteOpen(Exe, "/unregserver", Dir, SW_SHOWNORMAL), 32);
    EXPECT_EQ(AwaitRecord(Dir + "/record"), "/unregserver|" + Dir);
}

TEST_F(ProcessTest, OpenReportsMissingFilesFoldersAndPrograms) {
    EXPECT_EQ(ShellExecuteOpen(Dir + "/Zelbrix.exe", "/regserver", "", SW_SHOWNORMAL), 2);
    EXPECT_EQ(ShellExecuteOpen(Dir + "/no/Zelbrix.exe", "/regserver", "", SW_SHOWNORMAL), 3);
    EXPECT_EQ(ShellExecuteOpen("", "", "", SW_SHOWNORMAL), 2);
    std::string Exe = WriteRecorder("Server.exe");
    EXPECT_EQ(ShellExecuteOpen(Exe, "", Dir + "/missing", SW_SHOWNORMAL), 3);

    // A document with no program to open it: no opener on the path, and a
    // kind of file no program is registered for.
    std::string Doc = Write("notes.kivo-unknown", "text", 0644);
    SetPath(Dir);
    EXPECT_EQ(ShellExecuteOpen(Doc, "", "", SW_SHOWNORMAL), 31);
}

TEST_F(ProcessTest, ChildExitCodesWithoutAndWithResultChannel) {
    auto P = StartProcess(test::ShellCommand("exit 7"), TStartOptions());
    ASSERT_TRUE(P);
    EXPECT_EQ(P->WaitFor(INFINITE), WAIT_OBJECT_0);
    uint32_t Code = 0;
    EXPECT_TRUE(P->GetExitCode(Code));
    EXPECT_EQ(Code, 7u);

    // Killed: no exit code to read. On Windows the code 259 reads as "still
    // running" and is replaced the same way.
    auto Killed = StartProcess(test::ShellCommand(test::OnWindows ? "exit 259" : "kill -9 $$"), {});
    ASSERT_TRUE(Killed);
    Killed->WaitFor(INFINITE);
    EXPECT_TRUE(Killed->GetExitCode(Code));
    EXPECT_EQ(Code, 31u);

    // A child that leaves no result in its channel: the exit status counts.
    // (Windows needs no channel: the option changes nothing there.)
    TStartOptions Channel;
    Channel.ResultChannel = true;
    auto Forged = StartProcess(
        test::ShellCommand(test::OnWindows ? "exit 3" : "cat >/dev/null; exit 3"), Channel);
    ASSERT_TRUE(Forged);
    Forged->WaitFor(INFINITE);
    EXPECT_TRUE(Forged->GetExitCode(Code));
    EXPECT_EQ(Code, 3u);

    // Waits on the channel's end.
    auto Running = StartProcess(test::ShellCommand(test::OnWindows ? "exit 0" : "read x"), Channel);
    ASSERT_TRUE(Running);
    EXPECT_TRUE(Running->GetExitCode(Code));
    EXPECT_TRUE(Code == STILL_ACTIVE || Code == 0u);
}

TEST_F(ProcessTest, StartedProgramGetsEveryArgumentUnchanged) {
    const std::string Exe = WriteRecorder("Server.exe");
    const std::vector<std::string> Args = {"plain",      "",           "two words", "quote\"inside",
                                           "trailing\\", "two\\\\\"q", "tab\there", "Ölfeld"};
    std::vector<std::string> Argv{Exe};
    Argv.insert(Argv.end(), Args.begin(), Args.end());
    TStartOptions Options;
    Options.Directory = Dir;
    auto P = StartProcess(Argv, Options);
    ASSERT_TRUE(P);
    EXPECT_EQ(P->WaitFor(INFINITE), WAIT_OBJECT_0);
    std::string Expected;
    for (const std::string& A : Args)
        Expected += A + "|";
    EXPECT_EQ(AwaitRecord(Dir + "/record"), Expected + Dir);
}

TEST_F(ProcessTest, StartFailureSetsTheLastError) {
    EXPECT_FALSE(StartProcess({Dir + "/missing"}, TStartOptions()));
    EXPECT_EQ(GetLastError(), 2u);
}

TEST_F(ProcessTest, OpenDocumentHandsProgramsScriptsAndFoldersToTheDesktopOpener) {
    // A stand-in opener; had a program been started itself, the record
    // would hold no path.
    if (test::OnWindows)
        GTEST_SKIP() << "the opener is the shell itself: no stand-in can replace it";
    Write("xdg-open", Recorder, 0755);
    const std::string Program = Write("Setup.exe", Recorder, 0755);
    const std::string Script = Write("setup.sh", Recorder, 0644);
    const char* OldPath = std::getenv("PATH");
    SetPath(Dir + ":" + (OldPath != nullptr ? OldPath : ""));
    for (const std::string& Path : {Program, Script, Dir}) {
        SCOPED_TRACE(Path);
        DeleteFile(Dir + "/record.done");
        EXPECT_GT(ShellOpenDocument(Path, ""), 32);
        EXPECT_EQ(AwaitRecord(Dir + "/record"), Path + "|" + GetCurrentDir());
    }
}
