// A stand-in for the MAPI COM server program Zelbrix.exe, for the tests and
// the demo: it records the switch it was started with beside itself and
// ends. No system headers, so the same program serves Linux and Windows.
//
//   Zelbrix.exe [switch...]   appends "<hh:mm:ss> started with: <switches>"
//                             to Zelbrix.log and writes the switches alone
//                             to "record" (made whole, then renamed)
//   Zelbrix.exe --exit N      ends at once with the 32-bit code N as an
//                             elevated copy ends (a stand-in for a copy
//                             that reports N)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/Process.h"

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--exit")
        kivo::TerminateCurrentProcess(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)));
    std::string Switches;
    for (int i = 1; i < argc; ++i)
        Switches += (i > 1 ? " " : "") + std::string(argv[i]);
    const std::filesystem::path Dir = std::filesystem::absolute(argv[0]).parent_path();

    const std::time_t Now = std::time(nullptr);
    char Clock[16] = "";
    std::strftime(Clock, sizeof Clock, "%H:%M:%S", std::localtime(&Now));
    if (FILE* Log = std::fopen((Dir / "Zelbrix.log").string().c_str(), "ab")) {
        std::fprintf(Log, "%s started with: %s\n", Clock,
                     Switches.empty() ? "(no switch)" : Switches.c_str());
        std::fclose(Log);
    }
    const std::filesystem::path Partial = Dir / "record.tmp";
    if (FILE* Record = std::fopen(Partial.string().c_str(), "wb")) {
        std::fwrite(Switches.data(), 1, Switches.size(), Record);
        std::fclose(Record);
        std::error_code Ignored;
        std::filesystem::rename(Partial, Dir / "record", Ignored);
    }
    return 0;
}
