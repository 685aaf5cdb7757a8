// Helpers the fuzz targets share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "runtime/Classes.h"

namespace kivo::fuzz {

// A source that returns at most Step bytes per read.
class TTrickle : public TStream {
public:
    TTrickle(const uint8_t* Data, int64_t Size, int64_t Step)
        : FData(Data), FSize(Size), FStep(Step) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        int64_t N = std::min({Count, FStep, FSize - FPos});
        if (N <= 0) return 0;
        std::memcpy(Buffer, FData + FPos, static_cast<size_t>(N));
        FPos += N;
        return N;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        FPos = (Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FSize) + Offset;
        return FPos;
    }
    int64_t Size() override { return FSize; }

private:
    const uint8_t* FData;
    int64_t FSize;
    int64_t FStep;
    int64_t FPos = 0;
};

// A private folder per process, made on first use below the temporary
// folder with a name starting with Prefix; extraction goes to its "out"
// folder, so any other entry in it was written outside the folder the caller
// chose.
class TJail {
public:
    explicit TJail(const std::string& Prefix)
        : FPath(std::filesystem::temp_directory_path() /
                (Prefix + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(FPath / "out");
    }
    std::filesystem::path Out() const { return FPath / "out"; }

    // Aborts (a finding) when anything but "out" appears beside it, or, with
    // NoLinks, when a symbolic link appears inside it.
    void CheckNothingOutside(bool NoLinks = false) const {
        for (const auto& Entry : std::filesystem::directory_iterator(FPath))
            if (Entry.path().filename() != "out") std::abort();
        if (!NoLinks) return;
        for (const auto& Entry : std::filesystem::recursive_directory_iterator(Out()))
            if (Entry.is_symlink()) std::abort();
    }

    // Aborts (a finding) when a symbolic link inside "out" leads outside it,
    // resolved the way the system resolves it (through the links on its way).
    void CheckLinksInside() const {
        std::error_code Ec;
        const std::filesystem::path Root = std::filesystem::canonical(Out());
        for (const auto& Entry : std::filesystem::recursive_directory_iterator(Out())) {
            if (!Entry.is_symlink()) continue;
            const std::filesystem::path Target =
                std::filesystem::weakly_canonical(Entry.path(), Ec);
            if (Ec) continue; // a loop of links leads nowhere
            const auto Rel = Target.lexically_relative(Root);
            if (Rel.empty() || *Rel.begin() == "..") std::abort();
        }
    }

    // Empties "out" for the next input.
    void Clear() const {
        std::error_code Ignored;
        for (const auto& Entry : std::filesystem::directory_iterator(Out()))
            std::filesystem::remove_all(Entry.path(), Ignored);
    }

private:
    std::filesystem::path FPath;
};

} // namespace kivo::fuzz
