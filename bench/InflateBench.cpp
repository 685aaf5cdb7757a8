// DEFLATE decoding throughput: Inflate (into a memory stream, and in
// test-only mode) against zlib's raw inflate (64 KiB output chunks) and
// libdeflate, on the same streams in one run.
//
//   InflateBench [--reps N] NAME=FILE ... [--deflate64 NAME=ZIP:ORIGINAL]
//
// Each NAME=FILE corpus is compressed here by zlib at levels 1, 6 and 9 (raw
// DEFLATE). A --deflate64 entry names a ZIP made by 7-Zip with method 9 whose
// first entry is ORIGINAL; its raw stream is decoded with OptionDeflate64
// (zlib and libdeflate cannot read it). Figures are MB/s of output (10^6
// bytes per second), the best of N runs; every decoder's output is checked
// against the original once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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

double BestSeconds(int Reps, const std::function<void()>& Run) {
    double Best = 1e30;
    for (int i = 0; i < Reps; ++i) {
        auto T0 = std::chrono::steady_clock::now();
        Run();
        auto T1 = std::chrono::steady_clock::now();
        Best = std::min(Best, std::chrono::duration<double>(T1 - T0).count());
    }
    return Best;
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

void RunCase(const TStreamCase& C, int Reps) {
    const std::string& Orig = *C.Original;
    const double MB = static_cast<double>(Orig.size()) / 1e6;
    const int32_t Options = 0xF | (C.Deflate64 ? OptionDeflate64 : 0);

    // Inflate into a memory stream sized beforehand (as a file of known size would be).
    TMemoryStream Dst;
    Dst.SetSize(static_cast<int64_t>(Orig.size()));
    auto RunInflate = [&] {
        TReadOnlyMemoryStream Src(C.Compressed.data(), static_cast<int64_t>(C.Compressed.size()));
        Dst.Seek(0, soBeginning);
        TAbDeflateHelper H;
        H.SetOptions(Options);
        Inflate(&Src, &Dst, &H);
    };
    RunInflate();
    Check(Dst.Size() == static_cast<int64_t>(Orig.size()) &&
              std::memcmp(Dst.Memory(), Orig.data(), Orig.size()) == 0,
          "Inflate", C.Name);
    double TInflate = BestSeconds(Reps, RunInflate);

    uint32_t TestCrc = 0;
    auto RunTestOnly = [&] {
        TReadOnlyMemoryStream Src(C.Compressed.data(), static_cast<int64_t>(C.Compressed.size()));
        TAbBitBucketStream Bucket(32768);
        TAbDeflateHelper H;
        H.SetOptions(Options | OptionTestOnly);
        TestCrc = Inflate(&Src, &Bucket, &H);
    };
    RunTestOnly();
    Check(TestCrc == static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Orig.data()),
                                                 static_cast<uInt>(Orig.size()))),
          "Inflate test-only", C.Name);
    double TTest = BestSeconds(Reps, RunTestOnly);

    double TZlib = 0, TLibdeflate = 0;
    if (!C.Deflate64) {
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
        RunZlib();
        Check(Out == Orig, "zlib", C.Name);
        TZlib = BestSeconds(Reps, RunZlib);
#ifdef KIVO_HAVE_LIBDEFLATE
        std::fill(Out.begin(), Out.end(), '\0');
        libdeflate_decompressor* D = libdeflate_alloc_decompressor();
        auto RunLibdeflate = [&] {
            size_t Actual = 0;
            libdeflate_deflate_decompress(D, C.Compressed.data(), C.Compressed.size(), Out.data(),
                                          Out.size(), &Actual);
        };
        RunLibdeflate();
        Check(Out == Orig, "libdeflate", C.Name);
        TLibdeflate = BestSeconds(Reps, RunLibdeflate);
        libdeflate_free_decompressor(D);
#endif
    }
    auto Rate = [&](double T) { return T > 0 ? MB / T : 0.0; };
    std::printf("| %-14s | %7.1f | %8.0f | %9.0f | %8s | %10s | %8s | %9s |\n", C.Name.c_str(),
                static_cast<double>(C.Compressed.size()) / 1e6, Rate(TInflate), Rate(TTest),
                TZlib > 0 ? std::to_string(static_cast<int>(Rate(TZlib) + 0.5)).c_str() : "-",
                TLibdeflate > 0 ? std::to_string(static_cast<int>(Rate(TLibdeflate) + 0.5)).c_str()
                                : "-",
                TZlib > 0 ? (std::to_string(TZlib / TInflate).substr(0, 4) + "x").c_str() : "-",
                TZlib > 0 ? (std::to_string(TZlib / TTest).substr(0, 4) + "x").c_str() : "-");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int Reps = 5;
    std::vector<std::pair<std::string, std::string>> Corpora; // name, file
    std::vector<std::pair<std::string, std::string>> D64;     // name, zip:original
    for (int i = 1; i < argc; ++i) {
        std::string A = argv[i];
        if (A == "--reps" && i + 1 < argc) {
            Reps = std::max(1, std::atoi(argv[++i]));
        } else if (A == "--deflate64" && i + 1 < argc) {
            std::string V = argv[++i];
            size_t Eq = V.find('=');
            D64.emplace_back(V.substr(0, Eq), V.substr(Eq + 1));
        } else if (A.find('=') != std::string::npos) {
            size_t Eq = A.find('=');
            Corpora.emplace_back(A.substr(0, Eq), A.substr(Eq + 1));
        } else {
            std::fprintf(stderr,
                         "usage: %s [--reps N] NAME=FILE ... [--deflate64 NAME=ZIP:ORIGINAL]\n",
                         argv[0]);
            return 2;
        }
    }
    std::printf("| stream         | in (MB) | Inflate MB/s | test-only MB/s | zlib MB/s | "
                "libdeflate MB/s | "
                "Inflate/zlib | test-only/zlib |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    std::vector<std::string> Originals;
    Originals.reserve(Corpora.size() + D64.size());
    for (auto& [Name, File] : Corpora) {
        Originals.push_back(ReadFile(File));
        for (int Level : {1, 6, 9}) {
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
