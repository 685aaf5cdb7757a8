#include "app/TourSteps.h"

#include <cstdio>

#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "util/QxBasicStringProcs.h"

namespace kivo {

namespace {

std::string OneLine(std::string Text) {
    for (char& C : Text)
        if (C == '\r' || C == '\n') C = ' ';
    return Text;
}

const char* EnabledText(bool Enabled) {
    return Enabled ? "enabled" : "disabled";
}

class TTour {
public:
    TTour(ITourDriver& Driver) : D(Driver), F(Driver.Form()) {}

    void Describe(const std::string& Name) {
        std::printf("   window: folder %s\n", InstallFolder.c_str());
        std::printf("           download button %s: \"%s\"\n",
                    EnabledText(F.Control(fcButton3).Enabled),
                    F.Control(fcButton3).Caption.c_str());
        std::printf("           register %s, unregister %s, delete %s\n",
                    EnabledText(F.Control(fcButton1).Enabled),
                    EnabledText(F.Control(fcButton2).Enabled),
                    F.Control(fcButton4).Visible ? "shown" : "hidden");
        std::printf("           shields: register %s, unregister %s\n",
                    F.Control(fcButton1).Shield ? "yes" : "no",
                    F.Control(fcButton2).Shield ? "yes" : "no");
        std::printf("   screenshot: %s\n", D.SaveWindow(Name).c_str());
    }

    void Check(bool Ok, const char* What) {
        if (Ok) return;
        ++Failures;
        std::printf("   !! %s\n", What);
    }

    // The stand-in server program appends each switch it got to Zelbrix.log.
    static std::string AwaitServerLog(size_t Lines) {
        std::string Log = AddTrailingBackslash(InstallFolder) + "Zelbrix.log";
        std::string Text;
        for (int i = 0; i < 1000; ++i) {
            Text.clear();
            if (FILE* File = std::fopen(Log.c_str(), "rb")) {
                char B[4096];
                Text.assign(B, std::fread(B, 1, sizeof B, File));
                std::fclose(File);
            }
            size_t N = 0;
            for (char C : Text)
                N += C == '\n';
            if (N >= Lines) break;
            Sleep(10);
        }
        return Text;
    }

    int Run() {
        std::printf("KIVO Profile MAPI installer, demo tour\n");
        std::printf("download base URL: %s\n\n", DownloadBaseUrl().c_str());
        std::printf("1. The window opens in the local folder.\n");
        std::printf("   %s | %s | %s\n", F.Control(fcLabel1).Caption.c_str(),
                    F.Control(fcLabel2).Caption.c_str(), F.Control(fcLabel3).Caption.c_str());
        Describe("start");

        std::printf(
            "\n2. Download: the package is fetched and unpacked into the install folder.\n");
        D.Step = "download-box";
        D.Click(fcButton3);
        std::string Package = AddTrailingBackslash(InstallFolder) + ServerZipName;
        if (FileExists(Package))
            std::printf("   package: %s (%lld bytes)\n", Package.c_str(),
                        static_cast<long long>(GetFileSize(Package)));
        else
            std::printf("   package: none arrived\n");
        bool Present = FileExists(AddTrailingBackslash(InstallFolder) + ServerExeName);
        Describe("after-download");
        Check(Present, "Zelbrix.exe is not in the install folder");
        if (!Present) {
            std::printf(
                "\nThe server program is not installed, so register, unregister and delete stay\n"
                "disabled. The tour ends here.\n");
            return 1;
        }

        std::printf("\n3. Register: the server program is started elevated with /regserver.\n");
        D.Step = "register-box";
        D.Click(fcButton1);
        std::string Log = AwaitServerLog(1);
        std::printf("   Zelbrix.log: %s\n", OneLine(Log).c_str());
        Check(Log.find("/regserver") != std::string::npos,
              "the server program did not record /regserver");
        Describe("after-register");

        std::printf("\n4. Unregister: the same with /unregserver.\n");
        D.Step = "unregister-box";
        D.Click(fcButton2);
        Log = AwaitServerLog(2);
        std::printf("   Zelbrix.log: %s\n", OneLine(Log).c_str());
        Check(Log.find("/unregserver") != std::string::npos,
              "the server program did not record /unregserver");
        Describe("after-unregister");

        std::printf("\n5. Delete: the confirmation is answered with Ja.\n");
        D.Step = "delete-confirmation";
        D.Click(fcButton4);
        Check(!FileExists(AddTrailingBackslash(InstallFolder) + ServerExeName),
              "Zelbrix.exe is still there");
        Describe("after-delete");
        return Failures == 0 ? 0 : 1;
    }

    int Failures = 0;

private:
    ITourDriver& D;
    TRunElevatedFormState& F;
};

} // namespace

std::string ITourDriver::NextPicture(const std::string& Folder, const std::string& Name) {
    char Prefix[16];
    std::snprintf(Prefix, sizeof Prefix, "%02d-", ++FPictures);
    return Folder + "/" + Prefix + Name + ".png";
}

void PrintBox(const std::string& Caption, const std::string& Text, const std::string& Pressed,
              const std::string& Picture) {
    std::printf("   box \"%s\": %s  [pressing %s]\n", Caption.c_str(), OneLine(Text).c_str(),
                Pressed.empty() ? "-" : Pressed.c_str());
    std::printf("   screenshot: %s\n", Picture.c_str());
}

bool ReadTourArguments(int Argc, char** Argv, std::string& ShotDir) {
    SetProgramArguments(Argc, Argv);
    if (Argc != 2) {
        std::fprintf(stderr, "usage: %s <screenshot folder>\n", Argc > 0 ? Argv[0] : "tour");
        return false;
    }
    ShotDir = Argv[1];
    return true;
}

int RunTourSteps(ITourDriver& Driver, const std::string& ShotDir) {
    ForceDirectories(ShotDir);
    TTour Tour(Driver);
    const int Result = Tour.Run();
    std::printf("\nTour %s. Screenshots are in %s\n", Result == 0 ? "complete" : "FAILED",
                ShotDir.c_str());
    return Result;
}

} // namespace kivo
