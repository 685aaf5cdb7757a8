// DEFLATE decoding throughput: Inflate (into a memory stream, built there in
// place; through the output window and Write; and in test-only mode) against
// zlib's raw inflate (64 KiB output chunks) and libdeflate, on the same
// streams in one run.
//
//   InflateBench [--reps N] [--level L] [--pair] [--only DECODER] NAME=FILE ...
//                [--deflate64 NAME=ZIP:ORIGINAL]
//
// Each NAME=FILE corpus is compressed here by zlib at levels 1, 6 and 9 (raw
// DEFLATE), or at level L alone. A --deflate64 entry names a ZIP made by 7-Zip with method 9 whose
// first entry is ORIGINAL; its raw stream is decoded with OptionDeflate64
// (zlib and libdeflate cannot read it). Figures are MB/s of output (10^6
// bytes per second of CPU time), the median of N rounds; each round runs
// every decoder once, one after the other (every other round in the reverse
// order), so all see the same machine load, and the ratios are the medians of
// the ratios within each round. CPU time rather than wall time keeps the
// figures steady on a busy machine.
// Every decoder's output is checked against the original once.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>
#include <zlib.h>

#ifdef KIVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "BenchSupport.h"
#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "runtime/Classes.h"

using namespace kivo;
using kivo::bench::DeflateRaw;
using kivo::bench::ReadFile;

namespace {

// The raw stream of the first entry of a ZIP file (local header at 0).
std::string FirstZipEntry(const std::string& Zip) {
    auto U16 = [&](size_t P) {
        return static_cast<uint32_t>(static_cast<uint8_t>(Zip[P]) | static_cast<uint8_t>(Zip[P + 1])
                                                                        << 8);
    };
    auto U32 = [&](size_t P) { return U16(P) | U16(P + 2) << 16; };
    if (Zip.size() < 30 || U32(0) != 0x04034B50 || U16(8) != 9) {
        std::fprintf(stderr, "not a ZIP whose first entry uses Deflate64\n");
        std::exit(2);
    }
    size_t Start = 30 + U16(26) + U16(28);
    uint32_t Size = U32(18);
    if (Size == 0 || Size == 0xFFFFFFFF)
        Size = static_cast<uint32_t>(Zip.size() - Start); // data descriptor: read to the end
    return Zip.substr(Start, Size);
}

double Median(std::vector<double> V) {
    if (V.empty()) return 0;
    std::sort(V.begin(), V.end());
    return V.size() % 2 ? V[V.size() / 2] : (V[V.size() / 2 - 1] + V[V.size() / 2]) / 2;
}

// Runs the decoders Reps times in turn, every other round in the reverse
// order (so that no decoder always follows the same one); the CPU seconds of
// each decoder in each round.
std::vector<std::vector<double>> RoundSeconds(int Reps,
                                              const std::vector<std::function<void()>>& Runs) {
    std::vector<std::vector<double>> Times(Runs.size());
    for (int i = 0; i < Reps; ++i) {
        for (size_t k = 0; k < Runs.size(); ++k) {
            const size_t r = i % 2 ? Runs.size() - 1 - k : k;
            if (!Runs[r]) continue; // left out (--pair)
            std::clock_t T0 = std::clock();
            Runs[r]();
            Times[r].push_back(static_cast<double>(std::clock() - T0) / CLOCKS_PER_SEC);
        }
    }
    return Times;
}

struct TStreamCase {
    std::string Name;
    const std::string* Original;
    std::string Compressed;
    bool Deflate64;
};

void Check(bool Ok, const char* Decoder, const std::string& Case) {
    if (!Ok) {
        std::fprintf(stderr, "%s decoded %s wrongly\n", Decoder, Case.c_str());
        std::exit(1);
    }
}

// The median over the rounds of the speed ratio within each round: the load
// a round meets is the same for both decoders, so this is steadier than the
// ratio of the medians on a busy machine.
std::string Ratio(const std::vector<std::vector<double>>& T, size_t Ours, size_t Theirs) {
    if (Ours >= T.size() || Theirs >= T.size() || T[Ours].size() != T[Theirs].size()) return "-";
    std::vector<double> R;
    for (size_t i = 0; i < T[Ours].size(); ++i)
        if (T[Ours][i] > 0) R.push_back(T[Theirs][i] / T[Ours][i]);
    if (R.empty()) return "-";
    char Buf[32];
    std::snprintf(Buf, sizeof Buf, "%.2fx", Median(R));
    return Buf;
}

// A memory stream Inflate writes through Write (its output window), as it
// does for every stream but a plain TMemoryStream.
class TWrittenMemoryStream : public TMemoryStream {};

// --only DECODER (inflate, window, test-only, zlib or libdeflate): each
// stream is decoded once by that decoder alone and nothing is printed, for a
// profiler or an instruction counter (perf, valgrind --tool=cachegrind).
std::string Only;
// --pair: only Inflate in place and libdeflate take turns, so that more rounds
// fit in the same time (the ratio of the two is the figure that varies most).
bool Pair = false;

void RunCase(const TStreamCase& C, int Reps) {
    const std::string& Orig = *C.Original;
    const double MB = static_cast<double>(Orig.size()) / 1e6;
    const int32_t Options = 0xF | (C.Deflate64 ? OptionDeflate64 : 0);
    std::vector<std::function<void()>> Runs;

    // Inflate into an empty memory stream whose memory holds the output (kept
    // from the round before), so no round pays for growing it.
    TMemoryStream Dst;
    TWrittenMemoryStream WrittenDst;
    for (TMemoryStream* M : {&Dst, static_cast<TMemoryStream*>(&WrittenDst)}) {
        M->SetSize(static_cast<int64_t>(Orig.size()));
        auto RunInflate = [&, M] {
            TReadOnlyMemoryStream Src(C.Compressed.data(),
                                      static_cast<int64_t>(C.Compressed.size()));
            M->SetSize(0);
            TAbDeflateHelper H;
            H.SetOptions(Options);
            Inflate(&Src, M, &H);
        };
        if (Only.empty()) RunInflate();
        Check(!Only.empty() || (M->Size() == static_cast<int64_t>(Orig.size()) &&
                                std::memcmp(M->Memory(), Orig.data(), Orig.size()) == 0),
              "Inflate", C.Name);
        Runs.push_back(Pair && M != &Dst ? nullptr : std::function<void()>(RunInflate));
    }

    uint32_t TestCrc = 0;
    auto RunTestOnly = [&] {
        TReadOnlyMemoryStream Src(C.Compressed.data(), static_cast<int64_t>(C.Compressed.size()));
        TAbBitBucketStream Bucket(32768);
        TAbDeflateHelper H;
        H.SetOptions(Options | OptionTestOnly);
        TestCrc = Inflate(&Src, &Bucket, &H);
    };
    if (Only.empty()) RunTestOnly();
    Check(!Only.empty() ||
              TestCrc == static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Orig.data()),
                                                     static_cast<uInt>(Orig.size()))),
          "Inflate test-only", C.Name);
    Runs.push_back(Pair ? nullptr : std::function<void()>(RunTestOnly));

    std::string Out(Orig.size(), '\0');
    auto RunZlib = [&] {
        z_stream Z{};
        inflateInit2(&Z, -15);
        Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(C.Compressed.data()));
        Z.avail_in = static_cast<uInt>(C.Compressed.size());
        Z.next_out = reinterpret_cast<Bytef*>(Out.data());
        int Rc;
        do {
            Z.avail_out = static_cast<uInt>(std::min<size_t>(65536, Out.size() - Z.total_out));
            Rc = inflate(&Z, Z_NO_FLUSH);
        } while (Rc == Z_OK && Z.total_out < Out.size());
        if (Rc == Z_OK) Rc = inflate(&Z, Z_FINISH);
        inflateEnd(&Z);
    };
    if (!C.Deflate64) {
        if (Only.empty()) RunZlib();
        Check(!Only.empty() || Out == Orig, "zlib", C.Name);
        Runs.push_back(Pair ? nullptr : std::function<void()>(RunZlib));
    }
#ifdef KIVO_HAVE_LIBDEFLATE
    libdeflate_decompressor* D = libdeflate_alloc_decompressor();
    auto RunLibdeflate = [&] {
        size_t Actual = 0;
        libdeflate_deflate_decompress(D, C.Compressed.data(), C.Compressed.size(), Out.data(),
                                      Out.size(), &Actual);
    };
    if (!C.Deflate64) {
        std::fill(Out.begin(), Out.end(), '\0');
        if (Only.empty()) RunLibdeflate();
        Check(!Only.empty() || Out == Orig, "libdeflate", C.Name);
        Runs.push_back(RunLibdeflate);
    }
#endif
    if (!Only.empty()) {
        const std::vector<std::string> Names = {"inflate", "window", "test-only", "zlib",
                                                "libdeflate"};
        const auto At = std::find(Names.begin(), Names.end(), Only) - Names.begin();
        if (static_cast<size_t>(At) < Runs.size() && Runs[static_cast<size_t>(At)])
            Runs[static_cast<size_t>(At)]();
#ifdef KIVO_HAVE_LIBDEFLATE
        libdeflate_free_decompressor(D);
#endif
        return;
    }
    const std::vector<std::vector<double>> T = RoundSeconds(Reps, Runs);
#ifdef KIVO_HAVE_LIBDEFLATE
    libdeflate_free_decompressor(D);
#endif
    auto Rate = [&](size_t i) {
        const double S = i < T.size() ? Median(T[i]) : 0.0;
        return S > 0 ? MB / S : 0.0;
    };
    const double Inf = Rate(0), Written = Rate(1), Test = Rate(2), Zlib = Rate(3), Ld = Rate(4);
    auto Cell = [](double R) { return R > 0 ? std::to_string(static_cast<int>(R + 0.5)) : "-"; };
    std::printf("| %-14s | %7.1f | %8.0f | %8.0f | %9.0f | %8s | %10s | %8s | %8s | %9s | %8s |\n",
                C.Name.c_str(), static_cast<double>(C.Compressed.size()) / 1e6, Inf, Written, Test,
                Cell(Zlib).c_str(), Cell(Ld).c_str(), Ratio(T, 0, 4).c_str(),
                Ratio(T, 1, 4).c_str(), Ratio(T, 2, 4).c_str(), Ratio(T, 0, 3).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int Reps = 7;
    std::vector<int> Levels = {1, 6, 9};
    std::vector<std::pair<std::string, std::string>> Corpora; // name, file
    std::vector<std::pair<std::string, std::string>> D64;     // name, zip:original
    for (int i = 1; i < argc; ++i) {
        std::string A = argv[i];
        if (A == "--reps" && i + 1 < argc) {
            Reps = std::max(1, std::atoi(argv[++i]));
        } else if (A == "--level" && i + 1 < argc) {
            Levels = {std::clamp(std::atoi(argv[++i]), 1, 9)};
        } else if (A == "--only" && i + 1 < argc) {
            Only = argv[++i];
        } else if (A == "--pair") {
            Pair = true;
        } else if (A == "--deflate64" && i + 1 < argc) {
            std::string V = argv[++i];
            size_t Eq = V.find('=');
            D64.emplace_back(V.substr(0, Eq), V.substr(Eq + 1));
        } else if (A.find('=') != std::string::npos) {
            size_t Eq = A.find('=');
            Corpora.emplace_back(A.substr(0, Eq), A.substr(Eq + 1));
        } else {
            std::fprintf(stderr,
                         "usage: %s [--reps N] [--level L] [--pair] [--only DECODER] NAME=FILE ... "
                         "[--deflate64 NAME=ZIP:ORIGINAL]\n",
                         argv[0]);
            return 2;
        }
    }
    if (Only.empty())
        std::printf("| stream         | in (MB) | Inflate MB/s | window MB/s | test-only MB/s | "
                    "zlib MB/s | libdeflate MB/s | Inflate/libdeflate | window/libdeflate | "
                    "test-only/libdeflate | Inflate/zlib |\n");
    if (Only.empty()) std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::vector<std::string> Originals;
    Originals.reserve(Corpora.size() + D64.size());
    for (auto& [Name, File] : Corpora) {
        Originals.push_back(ReadFile(File));
        for (int Level : Levels) {
            TStreamCase C{Name + " -" + std::to_string(Level), &Originals.back(),
                          DeflateRaw(Originals.back(), Level), false};
            RunCase(C, Reps);
        }
    }
    for (auto& [Name, Spec] : D64) {
        size_t Colon = Spec.find(':');
        Originals.push_back(ReadFile(Spec.substr(Colon + 1)));
        TStreamCase C{Name, &Originals.back(), FirstZipEntry(ReadFile(Spec.substr(0, Colon))),
                      true};
        RunCase(C, Reps);
    }
    return 0;
}
