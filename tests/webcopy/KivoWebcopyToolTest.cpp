// kivo-webcopy run as users run it: arguments, files on disk, error lines
// and exit status.
#include <gtest/gtest.h>
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
    test::SetServerFile(Dir / "d.bin", 0644, 1700000000);
    R = RunTool({"get", Url, "-d", Dir.Path(), "--newer-than-file", Dir / "d.bin"});
    EXPECT_EQ(R.Status, 3);
    // A reference file that is not there is a mistake on the command line.
    R = RunTool({"get", Url, "-d", Dir.Path(), "--newer-than-file", Dir / "nothing-here"});
    EXPECT_EQ(R.Status, 2);
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
    if (!test::PtyAvailable()) GTEST_SKIP() << "no pseudo-terminals here";
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

// One command line: its arguments and standard input, with "{dir}" a new
// folder, "{http}" the HTTP server, "{login}" the HTTP server with
// "u:pw@" in its URL, "{tls}" the HTTPS server, "{cert}" that server's
// certificate and "{closed}" a port nothing listens on.
struct TCommandRow {
    const char* Name;
    std::vector<std::string> Args;
    std::string Input;
    int Status;
    std::string Err = {};    // a part of standard error ("" = empty)
    std::string Out = {};    // standard output as a whole
    size_t OutPattern = 0;   // or: the server's pattern of this many bytes
    std::string File = {};   // a file in {dir} afterwards ("" = none checked)
    std::string LogHas = {}; // a part of the HTTP server's request log
};

void PrintTo(const TCommandRow& Row, std::ostream* Os) {
    *Os << Row.Name;
}

class KivoWebcopyCommandLine : public ::testing::TestWithParam<TCommandRow> {};

std::string Fill(std::string Text, const std::string& Key, const std::string& Value) {
    for (size_t P; (P = Text.find(Key)) != std::string::npos;)
        Text.replace(P, Key.size(), Value);
    return Text;
}

TEST_P(KivoWebcopyCommandLine, Runs) {
    const TCommandRow& Row = GetParam();
    test::TTempDir Dir;
    test::WriteFile(Dir / "up.txt", "uploaded text");
    const std::string Http = Server().Url("");
    const std::string Closed = std::to_string(test::ClosedPort());
    auto Expand = [&](std::string Text) {
        if (Text.find("{tls}") != std::string::npos || Text.find("{cert}") != std::string::npos) {
            Text = Fill(Text, "{tls}", test::TlsServer().Url(""));
            Text = Fill(Text, "{cert}", test::TlsServer().CertFile());
        }
        Text = Fill(Text, "{login}", "http://u:pw@" + Http.substr(7));
        Text = Fill(Text, "{http}", Http);
        Text = Fill(Text, "{closed}", Closed);
        return Fill(Fill(Text, "{dir}", Dir.Path()), "{name}", Row.Name);
    };
    std::vector<std::string> Args;
    for (const std::string& A : Row.Args)
        Args.push_back(Expand(A));
    const TRun R = test::RunProgram(KIVO_WEBCOPY_TOOL, Args, Expand(Row.Input));
    EXPECT_EQ(R.Status, Row.Status) << R.Err;
    if (Row.Err.empty())
        EXPECT_EQ(R.Err, "");
    else
        EXPECT_NE(R.Err.find(Expand(Row.Err)), std::string::npos) << R.Err;
    EXPECT_EQ(R.Out, Row.OutPattern > 0 ? test::Pattern(Row.OutPattern) : Row.Out);
    if (!Row.File.empty()) {
        EXPECT_TRUE(test::Exists(Dir / Row.File)) << Row.File;
    }
    if (!Row.LogHas.empty()) {
        EXPECT_NE(Server().RequestLog().find(Expand(Row.LogHas)), std::string::npos);
    }
    EXPECT_EQ(R.Err.find(":pw@"), std::string::npos); // passwords never shown
}

const TCommandRow CommandRows[] = {
    // Options the way getopt reads them, anywhere on the line.
    {"combined_flags", {"-qd{dir}", "get", "{http}/file/10/a.bin"}, "", 0, "", "", 0, "a.bin"},
    {"long_with_equals",
     {"get", "--directory={dir}", "--output=b.bin", "{http}/file/10/x.bin"},
     "",
     0,
     "",
     "",
     0,
     "b.bin"},
    {"options_after_urls",
     {"get", "{http}/file/10/c.bin", "-q", "-d", "{dir}"},
     "",
     0,
     "",
     "",
     0,
     "c.bin"},
    {"double_dash_ends_options", {"get", "-d", "{dir}", "--", "-q"}, "", 1, "kivo-webcopy: -q: "},
    {"version", {"get", "--version"}, "", 0, "", "kivo-webcopy 1.0.0\n"},
    {"unknown_option", {"get", "{http}/file/10/x.bin", "--bogus"}, "", 2, "--bogus"},
    // Standard output and standard input.
    {"body_to_stdout", {"get", "{http}/file/5000/s.bin", "-o", "-"}, "", 0, "", "", 5000},
    {"body_to_stdout_attached", {"-qo-", "get", "{http}/chunked/7000/s.bin"}, "", 0, "", "", 7000},
    {"stdout_of_a_failed_job",
     {"get", "{http}/status/404/s.bin", "-o", "-"},
     "",
     1,
     "error 404: Returned http error code 404"},
    {"jobs_from_stdin",
     {"-q", "-j", "-"},
     "get {http}/file/10/j1.bin -d {dir}\nput {dir}/up.txt {http}/sink/{name}.txt\n",
     0,
     "",
     "",
     0,
     "j1.bin",
     "PUT /sink/jobs_from_stdin.txt"},
    {"no_jobs_on_stdin", {"-j", "-"}, "# nothing\n", 2, "no jobs in standard input"},
    {"command_beside_jobs", {"-j", "-", "get"}, "", 2, "unexpected argument beside -j"},
    // Each way of not reaching a server has its own words.
    {"connection_refused",
     {"get", "http://127.0.0.1:{closed}/x.bin", "-d", "{dir}"},
     "",
     1,
     "http://127.0.0.1:{closed}/x.bin: error 12029: connection refused\n"},
    {"unknown_host",
     {"get", "http://no-such-host.invalid/x.bin", "-d", "{dir}"},
     "",
     1,
     "error 12007: unknown host\n"},
    {"timed_out",
     {"get", "{http}/stall/4000/t.bin", "-d", "{dir}", "--timeout", "1"},
     "",
     1,
     "error 12002: timed out\n"},
    {"certificate_rejected",
     {"get", "{tls}/file/10/t.bin", "-d", "{dir}"},
     "",
     1,
     "error 12055: certificate rejected"},
    {"certificate_from_cacert",
     {"get", "{tls}/file/10/t.bin", "-d", "{dir}", "--cacert", "{cert}"},
     "",
     0,
     "",
     "",
     0,
     "t.bin"},
    {"missing_cacert_file",
     {"get", "{tls}/file/10/t.bin", "-d", "{dir}", "--cacert", "{dir}/none.pem"},
     "",
     1,
     "error 12157: secure connection failed"},
    {"insecure", {"-k", "get", "{tls}/file/10/t.bin", "-d", "{dir}"}, "", 0, "", "", 0, "t.bin"},
    // No silent failures.
    {"missing_newer_than_file",
     {"get", "{http}/file/10/x.bin", "--newer-than-file", "{dir}/none"},
     "",
     2,
     "cannot read the date of {dir}/none"},
    {"ask_login_without_terminal",
     {"get", "{http}/auth/u/pw/10/l.bin", "--ask-login"},
     "",
     1,
     "no terminal to ask on"},
    {"user_without_password_or_terminal",
     {"get", "{http}/auth/u/pw/10/l.bin", "--user", "u"},
     "",
     1,
     "no terminal to ask for the password of u"},
    // Logins of put.
    {"put_with_user_and_password",
     {"put", "{dir}/up.txt", "{http}/sink/{name}.txt", "--user", "u", "--password", "pw"},
     "",
     0,
     "",
     "",
     0,
     "",
     "Authorization: Basic dTpwdw=="},
    {"put_with_url_login",
     {"put", "{dir}/up.txt", "{login}/sink/{name}.txt"},
     "",
     0,
     "",
     "",
     0,
     "",
     "PUT /sink/put_with_url_login.txt"},
    // 3 only when no job fetched anything.
    {"one_newer_of_two",
     {"get", "{http}/dated/1700000000/10/old.bin", "{http}/dated/1800000000/10/new.bin", "-d",
      "{dir}", "--newer-than", "2024-01-01"},
     "",
     0,
     "",
     "",
     0,
     "new.bin"},
    {"none_newer",
     {"get", "{http}/dated/1700000000/10/old.bin", "-d", "{dir}", "--newer-than", "2024-01-01"},
     "",
     3},
};

INSTANTIATE_TEST_SUITE_P(Rows, KivoWebcopyCommandLine, ::testing::ValuesIn(CommandRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Runs the tool on a pseudo-terminal with Args.
test::TPtyResult RunOnTerminal(std::vector<std::string> Args, const test::TPtyDialog& Dialog) {
    Args.insert(Args.begin(), KIVO_WEBCOPY_TOOL);
    return test::RunOnPty(
        [&] {
            std::vector<char*> Argv;
            for (std::string& A : Args)
                Argv.push_back(A.data());
            Argv.push_back(nullptr);
            ::execv(KIVO_WEBCOPY_TOOL, Argv.data());
            return 127;
        },
        Dialog);
}

TEST(KivoWebcopyTool, UserWithoutPasswordAsksOnTheTerminal) {
    if (!test::PtyAvailable()) GTEST_SKIP() << "no pseudo-terminals here";
    test::TTempDir Dir;
    test::TPtyResult R =
        RunOnTerminal({"get", Server().Url("/auth/u/pw/10/p.bin"), "-d", Dir.Path(), "-u", "u"},
                      {{"Enter password for user 'u': ", "pw\n"}});
    EXPECT_EQ(R.Status, 0) << R.Output;
    EXPECT_EQ(R.Output.find("pw"), std::string::npos) << R.Output; // not echoed
    EXPECT_TRUE(test::Exists(Dir / "p.bin"));
}

// Whether the cursor moves up ("ESC [ n F") past the point Start of Out.
bool DrawsOver(const std::string& Out, size_t Start) {
    size_t Below = 0;
    for (size_t I = Start; I < Out.size(); ++I) {
        if (Out[I] == '\n') ++Below;
        if (Out.compare(I, 2, "\x1b[") != 0) continue;
        const size_t End = Out.find_first_not_of("0123456789", I + 2);
        if (End == std::string::npos || Out[End] != 'F') continue;
        if (std::stoul(Out.substr(I + 2, End - I - 2)) > Below) return true;
    }
    return false;
}

TEST(KivoWebcopyTool, ProgressNeverHidesAMessage) {
    if (!test::PtyAvailable()) GTEST_SKIP() << "no pseudo-terminals here";
    test::TTempDir Dir;
    const std::string Missing = Server().Url("/status/404/gone.bin");
    test::TPtyResult R = RunOnTerminal({"get", Server().Url("/slow/6000/100/slow.bin"), Missing,
                                        Server().Url("/slow/6000/100/slow2.bin"), "-d", Dir.Path()},
                                       {});
    EXPECT_EQ(R.Status, 1) << R.Output;
    const std::string Line = "kivo-webcopy: " + Missing + ": error 404";
    const size_t At = R.Output.find(Line);
    ASSERT_NE(At, std::string::npos) << R.Output;
    EXPECT_NE(R.Output.find("%"), std::string::npos) << R.Output; // progress was drawn
    EXPECT_FALSE(DrawsOver(R.Output, At + Line.size())) << R.Output;
}

} // namespace
