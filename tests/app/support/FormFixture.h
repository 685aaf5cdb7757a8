// The installer window's state without any view: a private folder per test
// holding both install folders, a stand-in server program, a view that
// records what the state tells it, and small ZIP packages made in memory.
// Header only and free of system headers: the same fixture serves the Linux
// and the Windows build.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/RunElevatedMain.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestSystem.h"

namespace kivo::test {

// A view that shows nothing and records what it was told.
class TRecordingView final : public IRunElevatedFormView {
public:
    std::array<int, FormControlCount> Changes{};
    std::vector<bool> BusyCursor; // each SetBusyCursor call in order

    void ControlChanged(TFormControl Control) override { ++Changes[Control]; }
    TWindowHandle WindowHandle() override { return &FWindow; }
    TWindowHandle ControlHandle(TFormControl Control) override { return &FControls[Control]; }
    void SetBusyCursor(bool Busy) override { BusyCursor.push_back(Busy); }
    void ShowError(const std::exception& E) override { ShowExceptionBox(E, WindowHandle()); }

private:
    char FWindow = 0;
    std::array<char, FormControlCount> FControls{};
};

// The stand-in server program the build makes (tests/app/StandInServer.cpp).
inline std::string StandInServerProgram() {
    return std::string(KIVO_BINARY_DIR) + "/tests/app/kivo-zelbrix-standin" +
           (OnWindows ? ".exe" : "");
}

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Root = MakeTempDir("kivo-form-");
        // The program's module start-up: no switch on this command line.
        InitializeRunElevatedMain();
    }
    void TearDown() override {
        InstallFolder.clear();
        RemoveTree(Root);
    }

    std::string LocalFolder() const { return Root + "/data/KIVO/KIVO Profile"; }
    std::string PublicFolder() const { return Root + "/Public/KIVO Profile"; }

    // The window's state on this test's folders, created as the window is.
    std::unique_ptr<TRunElevatedFormState> MakeForm(IRunElevatedFormView* View) {
        auto Form = std::make_unique<TRunElevatedFormState>(View);
        Form->PublicFolder = [this] { return PublicFolder(); };
        Form->LocalFolder = [this] { return LocalFolder(); };
        Form->Create();
        return Form;
    }

    // Puts the stand-in server program into Folder as Zelbrix.exe.
    std::string PlaceServer(const std::string& Folder) const {
        ForceDirectories(Folder);
        const std::string Path = Folder + "/" + ServerExeName;
        std::filesystem::copy_file(StandInServerProgram(), Path,
                                   std::filesystem::copy_options::overwrite_existing);
        return Path;
    }
    // The switches the server program in Folder was started with; waits
    // generously, empty when it was not started.
    std::string AwaitRecord(const std::string& Folder) const {
        const std::string Path = Folder + "/record";
        for (int I = 0; I < 1000 && !FileExists(Path); ++I)
            Sleep(10);
        return ReadFile(Path);
    }

    std::string Root;
};

// A ZIP archive of stored entries, made in memory.
inline std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& Files) {
    std::string Zip, Central;
    auto Put16 = [](std::string& S, uint32_t V) {
        S += static_cast<char>(V & 0xFF);
        S += static_cast<char>((V >> 8) & 0xFF);
    };
    auto Put32 = [&](std::string& S, uint32_t V) {
        Put16(S, V & 0xFFFF);
        Put16(S, V >> 16);
    };
    for (const auto& [Name, Data] : Files) {
        const uint32_t Crc = AbCrc32(Data.data(), Data.size());
        const auto Size = static_cast<uint32_t>(Data.size());
        const auto Offset = static_cast<uint32_t>(Zip.size());
        // Local header: version 10, no flags, stored, 2026-01-01 00:00.
        Put32(Zip, 0x04034B50);
        for (uint32_t V : {10u, 0u, 0u, 0u, 0x5C21u})
            Put16(Zip, V);
        for (uint32_t V : {Crc, Size, Size})
            Put32(Zip, V);
        Put16(Zip, static_cast<uint32_t>(Name.size()));
        Put16(Zip, 0);
        Zip += Name + Data;
        Put32(Central, 0x02014B50);
        for (uint32_t V : {20u, 10u, 0u, 0u, 0u, 0x5C21u})
            Put16(Central, V);
        for (uint32_t V : {Crc, Size, Size})
            Put32(Central, V);
        Put16(Central, static_cast<uint32_t>(Name.size()));
        for (uint32_t V : {0u, 0u, 0u, 0u})
            Put16(Central, V);
        Put32(Central, 0);
        Put32(Central, Offset);
        Central += Name;
    }
    const auto CentralStart = static_cast<uint32_t>(Zip.size());
    Zip += Central;
    Put32(Zip, 0x06054B50);
    Put16(Zip, 0);
    Put16(Zip, 0);
    Put16(Zip, static_cast<uint32_t>(Files.size()));
    Put16(Zip, static_cast<uint32_t>(Files.size()));
    Put32(Zip, static_cast<uint32_t>(Central.size()));
    Put32(Zip, CentralStart);
    Put16(Zip, 0);
    return Zip;
}

} // namespace kivo::test
