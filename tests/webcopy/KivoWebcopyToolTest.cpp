// kivo-webcopy run as users run it: arguments, files on disk, error lines
// and exit status.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include "support/TestSupport.h"
#include "tests/common/TestPty.h"

using kivo::test::Server;
namespace test = kivo::test;

namespace {

using test::TRun;

TRun RunTool(const std::vector<std::string>& Args) {
    return test::RunProgram(KIVO_WEBCOPY_TOOL, Args);
}

int Lines(const std::string& Text) {
    int N = 0;
    for (char C : Text)
        N += C == '\n';
    return N;
}

TEST(KivoWebcopyTool, GetOneOrSeveralUrls) {
    test::TTempDir Dir;
    TRun R = RunTool({"get", Server().Url("/file/5000/one.bin"), "-d", Dir.Path()});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Err, "");
    EXPECT_EQ(R.Out, ""); // no terminal: no progress view
    EXPECT_EQ(test::ReadFile(Dir / "one.bin"), test::Pattern(5000));

    R = RunTool({"get", "-d", Dir.Path(), Server().Url("/file/10/a.bin"),
                 Server().Url("/chunked/20/b.bin")});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Dir.List(), (std::vector<std::string>{"a.bin", "b.bin", "one.bin"}));

    R = RunTool({"get", Server().Url("/file/10/a.bin"), "-d", Dir.Path(), "-o", "renamed.bin"});
    EXPECT_EQ(R.Status, 0);
    EXPECT_TRUE(test::Exists(Dir / "renamed.bin"));
}

TEST(KivoWebcopyTool, FailuresAreOneLineEachAndExitOne) {
    test::TTempDir Dir;
    std::string Missing = Server().Url("/status/404/x.bin");
    TRun R = RunTool({"get", Missing, Server().Url("/file/10/ok.bin"), "-d", Dir.Path()});
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Err, "kivo-webcopy: " + Missing + ": error 404: Returned http error code 404\n");
    EXPECT_TRUE(test::Exists(Dir / "ok.bin"));

    std::string Cut = Server().Url("/cut/9000/100/cut.bin");
    R = RunTool({"get", Cut, "-d", Dir.Path()});
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Err, "kivo-webcopy: " + Cut + ": error 7: Incomplete download of file " +
                         Dir / "cut.bin" + "\n");
    EXPECT_EQ(Lines(R.Err), 1);
}

TEST(KivoWebcopyTool, NewerThanADateOrAFile) {
    test::TTempDir Dir;
    std::string Url = Server().Url("/dated/1700000000/10/d.bin"); // 2023-11-14 22:13:20
    TRun R = RunTool({"get", Url, "-d", Dir.Path(), "--newer-than", "2023-11-14 22:13:20"});
    EXPECT_EQ(R.Status, 3) << R.Err;
    EXPECT_FALSE(test::Exists(Dir / "d.bin"));
    R = RunTool({"get", Url, "-d", Dir.Path(), "--newer-than", "2023-11-14"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_TRUE(test::Exists(Dir / "d.bin"));

    // The local file's date: the same moment is not newer.
    timeval Times[2] = {{1700000000, 0}, {1700000000, 0}};
    ::utimes((Dir / "d.bin").c_str(), Times);
    R = RunTool({"get", Url, "-d", Dir.Path(), "--newer-than-file", Dir / "d.bin"});
    EXPECT_EQ(R.Status, 3);
    R = RunTool({"get", Url, "-d", Dir.Path(), "--newer-than-file", Dir / "nothing-here"});
    EXPECT_EQ(R.Status, 0);
}

TEST(KivoWebcopyTool, CredentialsAndUploads) {
    test::TTempDir Dir;
    TRun R = RunTool({"get", Server().Url("/auth/u/pw/10/s.bin"), "-d", Dir.Path(), "--user", "u",
                      "--password", "pw"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    R = RunTool({"get", Server().Url("/auth/u/pw/10/s.bin"), "-d", Dir.Path(), "--ask-login"});
    EXPECT_EQ(R.Status, 1); // no terminal to ask on: the login counts as cancelled

    test::WriteFile(Dir / "up.txt", "uploaded text");
    R = RunTool({"put", Dir / "up.txt", Server().Url("/sink/cli-put.txt")});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(test::ReadFile(Server().SinkDir() + "/cli-put.txt"), "uploaded text");
    R = RunTool({"put", Dir / "up.txt", Server().Url("/sink/cli-post.txt"), "--method", "POST"});
    EXPECT_EQ(R.Status, 0);
    EXPECT_NE(Server().RequestLog().find("POST /sink/cli-post.txt"), std::string::npos);
}

TEST(KivoWebcopyTool, LoginOnATerminalHidesThePassword) {
    test::TTempDir Dir;
    const std::string Url = Server().Url("/auth/u/pw/10/t.bin");
    test::TPtyResult R = test::RunOnPty(
        [&] {
            ::execl(KIVO_WEBCOPY_TOOL, KIVO_WEBCOPY_TOOL, "get", Url.c_str(), "-d",
                    Dir.Path().c_str(), "--ask-login", static_cast<char*>(nullptr));
            return 127;
        },
        {{"User name: ", "u\n"}, {"Password: ", "pw\n"}});
    EXPECT_EQ(R.Status, 0) << R.Output;
    EXPECT_NE(R.Output.find("User name: u\r\n"), std::string::npos) << R.Output;
    EXPECT_NE(R.Output.find("Password: \r\n"), std::string::npos) << R.Output; // not echoed
    EXPECT_TRUE(test::Exists(Dir / "t.bin"));
}

TEST(KivoWebcopyTool, JobFile) {
    test::TTempDir Dir;
    test::WriteFile(Dir / "local.txt", "from a job file");
    test::WriteFile(Dir / "jobs.txt", "# two jobs\n\nget " + Server().Url("/file/10/j.bin") +
                                          " -d \"" + Dir.Path() + "\"\nput " + Dir / "local.txt" +
                                          " " + Server().Url("/sink/job.txt") + "\n");
    TRun R = RunTool({"-j", Dir / "jobs.txt"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_TRUE(test::Exists(Dir / "j.bin"));
    EXPECT_EQ(test::ReadFile(Server().SinkDir() + "/job.txt"), "from a job file");

    test::WriteFile(Dir / "bad.txt", "fetch something\n");
    R = RunTool({"-j", Dir / "bad.txt"});
    EXPECT_EQ(R.Status, 2);
    EXPECT_NE(R.Err.find("bad.txt:1: unknown command: fetch"), std::string::npos);
}

TEST(KivoWebcopyTool, UsageErrors) {
    EXPECT_EQ(RunTool({}).Status, 2);
    EXPECT_EQ(RunTool({"get"}).Status, 2);
    EXPECT_EQ(RunTool({"get", "http://h/a", "http://h/b", "-o", "x"}).Status, 2);
    EXPECT_EQ(RunTool({"get", "http://h/a", "--newer-than", "yesterday"}).Status, 2);
    EXPECT_EQ(RunTool({"get", "http://h/a", "--newer-than", "2024-01-01", "--newer-than-file", "f"})
                  .Status,
              2);
    EXPECT_EQ(RunTool({"put", "only-one-arg"}).Status, 2);
    EXPECT_EQ(RunTool({"put", "f", "http://h/x", "--method", "GET"}).Status, 2);
    EXPECT_EQ(RunTool({"get", "http://h/a", "--bogus"}).Status, 2);
    TRun Help = RunTool({"--help"});
    EXPECT_EQ(Help.Status, 0);
    EXPECT_NE(Help.Out.find("usage: kivo-webcopy get URL"), std::string::npos);
}

} // namespace
