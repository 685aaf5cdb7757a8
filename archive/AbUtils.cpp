#include "archive/AbUtils.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "archive/AbExcept.h"
#include "platform/FileSystem.h"
#include "runtime/Classes.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KIVO_CRC_X86 1
#else
#define KIVO_CRC_X86 0
#endif

namespace kivo {

// ===========================================================================
// Masks

bool WildcardMatch(std::u16string_view Source, size_t SourceIndex, std::u16string_view Pattern,
                   size_t PatternIndex) {
    if (Source.empty()) return Pattern.empty();
    if (PatternIndex == 0 && (Pattern == u"*.*" || Pattern == u"*")) return true;
    const size_t N = Source.size();
    const size_t M = Pattern.size();
    if (M == 0) return SourceIndex == N;

    // Iterative form of the backtracking match: a '*' first matches nothing
    // and, whenever the rest fails, one more source character. Only the most
    // recent '*' needs to be retried, which keeps the work at O(N * M) even
    // for masks with many stars against long stored names.
    size_t I = SourceIndex < N ? SourceIndex : N;
    size_t J = PatternIndex < M ? PatternIndex : M;
    size_t StarJ = std::u16string_view::npos;
    size_t StarI = 0;
    for (;;) {
        if (J < M && Pattern[J] == u'*') {
            if (J == M - 1) return true; // a final '*' matches whatever remains
            StarJ = J;
            StarI = I;
            ++J;
            continue;
        }
        if (I < N && J < M && (Pattern[J] == u'?' || Pattern[J] == Source[I])) {
            ++I;
            ++J;
            continue;
        }
        if (I == N && J == M) return true;
        if (StarJ != std::u16string_view::npos && StarI < N) {
            I = ++StarI;
            J = StarJ + 1;
            continue;
        }
        return false;
    }
}

bool WildcardMatch(std::string_view Source, std::string_view Pattern) {
    return WildcardMatch(Utf8ToUtf16(Source), 0, Utf8ToUtf16(Pattern), 0);
}

bool NameMatchesMask(std::string_view FileName, std::string_view Mask) {
    const std::string Name = AsciiUpperCase(FileName);
    const std::string Pattern = AsciiUpperCase(Mask);
    const size_t MaskSlash = Pattern.rfind('\\');
    const size_t NameSlash = Name.rfind('\\');
    if (MaskSlash != std::string::npos) {
        // Directory parts include their final '\'.
        const std::string_view MaskDir = std::string_view(Pattern).substr(0, MaskSlash + 1);
        const std::string_view NameDir = NameSlash == std::string::npos
                                             ? std::string_view()
                                             : std::string_view(Name).substr(0, NameSlash + 1);
        if (!WildcardMatch(NameDir, MaskDir)) return false;
    }
    const std::string_view MaskName = MaskSlash == std::string::npos
                                          ? std::string_view(Pattern)
                                          : std::string_view(Pattern).substr(MaskSlash + 1);
    const std::string_view BaseName = NameSlash == std::string::npos
                                          ? std::string_view(Name)
                                          : std::string_view(Name).substr(NameSlash + 1);
    return WildcardMatch(BaseName, MaskName);
}

// ===========================================================================
// Stored paths

PathKind ClassifyPath(std::string_view Value) {
    if (Value.find("\\\\") != std::string_view::npos || Value.find(':') != std::string_view::npos ||
        (!Value.empty() && Value.front() == '/'))
        return pkAbsolute;
    if (Value.find_first_of("\\/") != std::string_view::npos) return pkRelative;
    return pkNone;
}

size_t NthBackslashEnd(std::string_view Path, size_t N) {
    if (N == 0) return 0;
    size_t Seen = 0;
    for (size_t I = 0; I < Path.size(); ++I)
        if (Path[I] == '\\' && ++Seen == N) return I;
    return Path.size();
}

void SplitFileSpec(std::string_view FileSpec, std::string& Drive, std::string& Path,
                   std::string& Name) {
    std::string Spec(FileSpec);
    ToBackslashes(Spec);
    const size_t Slash = Spec.rfind('\\');
    Name = Slash == std::string::npos ? Spec : Spec.substr(Slash + 1);
    Path = Slash == std::string::npos ? std::string() : Spec.substr(0, Slash + 1);
    Drive.clear();
    if (Path.find("\\\\") != std::string::npos) {
        const size_t End = NthBackslashEnd(Path, 4); // "\\server\share" ends before the 4th '\'
        Drive = Path.substr(0, End);
        Path = End < Path.size() ? Path.substr(End + 1) : std::string();
    } else if (Path.find(':') != std::string::npos) {
        // The first two characters (not bytes) form the drive.
        size_t Pos = 0;
        for (int K = 0; K < 2 && Pos < Path.size(); ++K)
            NextCodePoint(Path, Pos);
        Drive = Path.substr(0, Pos);
        Path.erase(0, Pos);
        if (!Path.empty() && Path.front() == '\\') Path.erase(0, 1);
    }
}

void StripDrive(std::string& Name) {
    std::string Drive, Path, FileName;
    SplitFileSpec(Name, Drive, Path, FileName);
    Name = Path + FileName;
}

void StripLeadingParentRefs(std::string& Name) {
    size_t Pos = 0;
    while (Name.compare(Pos, 3, "..\\") == 0)
        Pos += 3;
    Name.erase(0, Pos);
}

void ToBackslashes(std::string& Name) {
    for (char& C : Name)
        if (C == '/') C = '\\';
}

void ToForwardSlashes(std::string& Name) {
    for (char& C : Name)
        if (C == '\\') C = '/';
}

void CreateDirectoryChain(const std::string& Path) {
    if (DirectoryExists(Path)) return;
    std::string Local = Path;
    ToForwardSlashes(Local);
    if (Local.empty()) throw EInOutError(ENOENT);

    // Components that are never created: the root, the server and share of
    // a UNC name, a drive.
    size_t Pos = 0;
    if (Local.compare(0, 2, "//") == 0) {
        int Skipped = 0;
        Pos = 2;
        while (Skipped < 2 && Pos < Local.size()) {
            size_t Next = Local.find('/', Pos);
            Pos = Next == std::string::npos ? Local.size() : Next + 1;
            ++Skipped;
        }
    } else if (Local.size() >= 2 && Local[1] == ':' && (Local.size() == 2 || Local[2] == '/')) {
        Pos = 2;
    }

    while (Pos < Local.size()) {
        size_t Next = Local.find('/', Pos);
        if (Next == std::string::npos) Next = Local.size();
        if (Next > Pos) {
            const std::string Prefix = Local.substr(0, Next);
            if (!DirectoryExists(Prefix) && !CreateDir(Prefix)) {
                const int Err = errno;
                if (!(Err == EEXIST && DirectoryExists(Prefix))) throw EInOutError(Err);
            }
        }
        Pos = Next + 1;
    }
}

// ===========================================================================
// CRC-32

namespace {

constexpr uint32_t CrcPoly = 0xEDB88320u;       // reflected form
constexpr uint32_t CrcPolyNormal = 0x04C11DB7u; // the same polynomial, x^32 implied

struct CrcTableSet {
    // T[k][b]: the register after byte b followed by k zero bytes, from 0.
    uint32_t T[16][256];
};

constexpr CrcTableSet MakeCrcTables() {
    CrcTableSet S{};
    for (uint32_t B = 0; B < 256; ++B) {
        uint32_t C = B;
        for (int K = 0; K < 8; ++K)
            C = (C & 1) ? (C >> 1) ^ CrcPoly : C >> 1;
        S.T[0][B] = C;
    }
    for (int K = 1; K < 16; ++K)
        for (uint32_t B = 0; B < 256; ++B)
            S.T[K][B] = (S.T[K - 1][B] >> 8) ^ S.T[0][S.T[K - 1][B] & 0xFF];
    return S;
}

constexpr CrcTableSet CrcTables = MakeCrcTables();
static_assert(CrcTables.T[0][1] == 0x77073096u, "CRC table");

inline uint32_t Load32(const uint8_t* P) {
    uint32_t V;
    std::memcpy(&V, P, 4);
    return V;
}

#if KIVO_CRC_X86

// Folding with carry-less multiplication. A 128-bit block A of the message
// (loaded little-endian, so bit k stands for x^(127-k)) followed by D more
// bits contributes A(x)·x^D. Split A = H·x^64 + L, then
//   H·x^(64+F) ≡ H·KH  and  L·x^F ≡ L·KL   (mod P)
// move both halves F bits further on, where they are added to the block that
// lies there. With the constants laid out as x·(x^e mod P) in 64-bit
// reflected form (bit j for x^(64-j)), each 64x64 product lands exactly in
// the bit positions of a 128-bit block.
constexpr uint32_t Reflect32(uint32_t V) {
    uint32_t R = 0;
    for (int I = 0; I < 32; ++I)
        if (V & (1u << I)) R |= 1u << (31 - I);
    return R;
}

constexpr uint32_t XPowModP(unsigned E) {
    uint32_t R = 1;
    for (unsigned I = 0; I < E; ++I)
        R = (R & 0x80000000u) ? (R << 1) ^ CrcPolyNormal : R << 1;
    return R;
}

constexpr uint64_t FoldConstant(unsigned E) {
    return static_cast<uint64_t>(Reflect32(XPowModP(E))) << 32;
}

// Fold distances: 8 x 128 bits for the 128-bit path, 4 x 256 bits for the
// 256-bit path, 4 x 512 bits for the 512-bit path.
constexpr uint64_t K1024H = FoldConstant(63 + 1024), K1024L = FoldConstant(1024 - 1);
constexpr uint64_t K2048H = FoldConstant(63 + 2048), K2048L = FoldConstant(2048 - 1);

__attribute__((target("sse2"))) inline __m128i Load128(const uint8_t* P) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
}

__attribute__((target("avx2"))) inline __m256i Load256(const uint8_t* P) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(P));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Fold128(__m128i X, __m128i K, __m128i Next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(X, K, 0x00), _mm_clmulepi64_si128(X, K, 0x11)), Next);
}

__attribute__((target("avx2,vpclmulqdq"))) inline __m256i Fold256(__m256i X, __m256i K,
                                                                  __m256i Next) {
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(X, K, 0x00),
                                             _mm256_clmulepi64_epi128(X, K, 0x11)),
                            Next);
}

__attribute__((target("avx512f,avx512vl,vpclmulqdq"))) inline __m512i Fold512(__m512i X, __m512i K,
                                                                              __m512i Next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(X, K, 0x00),
                                     _mm512_clmulepi64_epi128(X, K, 0x11), Next,
                                     0x96); // three-way xor
}

#endif

} // namespace

namespace CrcImpl {

uint32_t Bytewise(uint32_t Crc, const uint8_t* Data, size_t Count) {
    for (size_t I = 0; I < Count; ++I)
        Crc = CrcTables.T[0][(Crc ^ Data[I]) & 0xFF] ^ (Crc >> 8);
    return Crc;
}

uint32_t Sliced(uint32_t Crc, const uint8_t* Data, size_t Count) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto& T = CrcTables.T;
        while (Count >= 16) {
            const uint32_t A = Load32(Data) ^ Crc, B = Load32(Data + 4), C = Load32(Data + 8),
                           D = Load32(Data + 12);
            Crc = T[15][A & 0xFF] ^ T[14][(A >> 8) & 0xFF] ^ T[13][(A >> 16) & 0xFF] ^
                  T[12][A >> 24] ^ T[11][B & 0xFF] ^ T[10][(B >> 8) & 0xFF] ^
                  T[9][(B >> 16) & 0xFF] ^ T[8][B >> 24] ^ T[7][C & 0xFF] ^ T[6][(C >> 8) & 0xFF] ^
                  T[5][(C >> 16) & 0xFF] ^ T[4][C >> 24] ^ T[3][D & 0xFF] ^ T[2][(D >> 8) & 0xFF] ^
                  T[1][(D >> 16) & 0xFF] ^ T[0][D >> 24];
            Data += 16;
            Count -= 16;
        }
    }
    return Bytewise(Crc, Data, Count);
}

#if KIVO_CRC_X86

bool HaveClmul() {
    static const bool Have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    }();
    return Have;
}

bool HaveVClmul256() {
    static const bool Have = [] {
        __builtin_cpu_init();
        return HaveClmul() && __builtin_cpu_supports("avx2") &&
               __builtin_cpu_supports("vpclmulqdq");
    }();
    return Have;
}

bool HaveVClmul512() {
    static const bool Have = [] {
        __builtin_cpu_init();
        return HaveClmul() && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("vpclmulqdq");
    }();
    return Have;
}

__attribute__((target("pclmul,sse2"))) uint32_t Clmul(uint32_t Crc, const uint8_t* Data,
                                                      size_t Count) {
    if (Count < 256) return Sliced(Crc, Data, Count);
    // Eight independent blocks keep a multiplier with a latency of up to eight
    // cycles busy. Where the multiplier's throughput is the limit (as on the
    // build machine) four and eight blocks measured the same.
    const __m128i K =
        _mm_set_epi64x(static_cast<long long>(K1024L), static_cast<long long>(K1024H));
    // The register is added to the first four message bytes; from then on the
    // CRC of the message from a zero register is computed.
    __m128i X[8];
    for (int L = 0; L < 8; ++L)
        X[L] = Load128(Data + 16 * L);
    X[0] = _mm_xor_si128(X[0], _mm_cvtsi32_si128(static_cast<int>(Crc)));
    Data += 128;
    Count -= 128;
    while (Count >= 128) {
        for (int L = 0; L < 8; ++L)
            X[L] = Fold128(X[L], K, Load128(Data + 16 * L));
        Data += 128;
        Count -= 128;
    }
    // The blocks now stand for everything read so far: their own CRC from a
    // zero register, continued over the rest, is the CRC wanted.
    alignas(16) uint8_t Acc[128];
    for (int L = 0; L < 8; ++L)
        _mm_store_si128(reinterpret_cast<__m128i*>(Acc + 16 * L), X[L]);
    return Sliced(Sliced(0, Acc, sizeof Acc), Data, Count);
}

__attribute__((target("avx2,vpclmulqdq,pclmul,sse2"))) uint32_t
VClmul256(uint32_t Crc, const uint8_t* Data, size_t Count) {
    if (Count < 512) return Clmul(Crc, Data, Count);
    const __m256i K =
        _mm256_set_epi64x(static_cast<long long>(K1024L), static_cast<long long>(K1024H),
                          static_cast<long long>(K1024L), static_cast<long long>(K1024H));
    __m256i X0 = _mm256_xor_si256(Load256(Data),
                                  _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(Crc)));
    __m256i X1 = Load256(Data + 32), X2 = Load256(Data + 64), X3 = Load256(Data + 96);
    Data += 128;
    Count -= 128;
    while (Count >= 128) {
        X0 = Fold256(X0, K, Load256(Data));
        X1 = Fold256(X1, K, Load256(Data + 32));
        X2 = Fold256(X2, K, Load256(Data + 64));
        X3 = Fold256(X3, K, Load256(Data + 96));
        Data += 128;
        Count -= 128;
    }
    alignas(32) uint8_t Acc[128];
    _mm256_store_si256(reinterpret_cast<__m256i*>(Acc), X0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(Acc + 32), X1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(Acc + 64), X2);
    _mm256_store_si256(reinterpret_cast<__m256i*>(Acc + 96), X3);
    return Sliced(Sliced(0, Acc, sizeof Acc), Data, Count);
}

__attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse2"))) uint32_t
VClmul512(uint32_t Crc, const uint8_t* Data, size_t Count) {
    if (Count < 512) return Clmul(Crc, Data, Count);
    alignas(64) static constexpr uint64_t KLanes[8] = {K2048H, K2048L, K2048H, K2048L,
                                                       K2048H, K2048L, K2048H, K2048L};
    const __m512i K = _mm512_load_si512(KLanes);
    alignas(64) const uint32_t First[16] = {Crc};
    __m512i X0 = _mm512_xor_si512(_mm512_loadu_si512(Data), _mm512_load_si512(First));
    __m512i X1 = _mm512_loadu_si512(Data + 64);
    __m512i X2 = _mm512_loadu_si512(Data + 128);
    __m512i X3 = _mm512_loadu_si512(Data + 192);
    Data += 256;
    Count -= 256;
    while (Count >= 256) {
        X0 = Fold512(X0, K, _mm512_loadu_si512(Data));
        X1 = Fold512(X1, K, _mm512_loadu_si512(Data + 64));
        X2 = Fold512(X2, K, _mm512_loadu_si512(Data + 128));
        X3 = Fold512(X3, K, _mm512_loadu_si512(Data + 192));
        Data += 256;
        Count -= 256;
    }
    alignas(64) uint8_t Acc[256];
    _mm512_store_si512(Acc, X0);
    _mm512_store_si512(Acc + 64, X1);
    _mm512_store_si512(Acc + 128, X2);
    _mm512_store_si512(Acc + 192, X3);
    return Clmul(Clmul(0, Acc, sizeof Acc), Data, Count);
}

#else

bool HaveClmul() {
    return false;
}
bool HaveVClmul256() {
    static const bool Have = [] {
        __builtin_cpu_init();
        return HaveClmul() && __builtin_cpu_supports("avx2") &&
               __builtin_cpu_supports("vpclmulqdq");
    }();
    return Have;
}

bool HaveVClmul512() {
    return false;
}
uint32_t Clmul(uint32_t Crc, const uint8_t* Data, size_t Count) {
    return Sliced(Crc, Data, Count);
}
uint32_t VClmul256(uint32_t Crc, const uint8_t* Data, size_t Count) {
    return Sliced(Crc, Data, Count);
}
uint32_t VClmul512(uint32_t Crc, const uint8_t* Data, size_t Count) {
    return Sliced(Crc, Data, Count);
}

#endif

} // namespace CrcImpl

void CrcUpdate(uint32_t& Crc, const void* Buffer, size_t Count) {
    const auto* Data = static_cast<const uint8_t*>(Buffer);
    if (Count < 16) {
        Crc = CrcImpl::Bytewise(Crc, Data, Count);
    } else if (Count < 256) {
        Crc = CrcImpl::Sliced(Crc, Data, Count);
    } else if (Count >= 1024 && CrcImpl::HaveVClmul512()) {
        Crc = CrcImpl::VClmul512(Crc, Data, Count);
    } else if (CrcImpl::HaveVClmul256()) {
        Crc = CrcImpl::VClmul256(Crc, Data, Count);
    } else if (CrcImpl::HaveClmul()) {
        Crc = CrcImpl::Clmul(Crc, Data, Count);
    } else {
        Crc = CrcImpl::Sliced(Crc, Data, Count);
    }
}

uint32_t AbCrc32(const void* Buffer, size_t Count) {
    uint32_t Crc = 0xFFFFFFFFu;
    CrcUpdate(Crc, Buffer, Count);
    return ~Crc;
}

// ===========================================================================
// Numbers, dates and times

int32_t Percentage(int64_t Total, int64_t Done) {
    if (Total <= 0) return 0;
    if (Done >= Total) return 100;
    if (Done <= 0) return 0;
    __extension__ using Wide = __int128; // Done * 100 must not overflow
    return static_cast<int32_t>(static_cast<Wide>(Done) * 100 / Total);
}

TDateTime DosToDateTime(uint16_t Date, uint16_t Time) {
    TDateTime Result = 0.0;
    if (!TryEncodeDateTime(1980 + (Date >> 9), (Date >> 5) & 15, Date & 31, Time >> 11,
                           (Time >> 5) & 63, (Time & 31) * 2, 0, Result))
        return 0.0;
    return Result;
}

uint32_t DateTimeToDos(TDateTime Value) {
    // Rule out what cannot decode to 1980..2107 (days 29221..76336) before
    // decoding at all; the year check below settles the edges.
    if (!std::isfinite(Value) || Value < 29220.0 || Value >= 76338.0) return 0;
    int Year, Month, Day, Hour, Min, Sec, MSec;
    DecodeDateTime(Value, Year, Month, Day, Hour, Min, Sec, MSec);
    if (Year < 1980 || Year > 2107) return 0;
    const uint32_t Date = (static_cast<uint32_t>(Year - 1980) << 9) |
                          (static_cast<uint32_t>(Month) << 5) | static_cast<uint32_t>(Day);
    const uint32_t Time = (static_cast<uint32_t>(Hour) << 11) | (static_cast<uint32_t>(Min) << 5) |
                          static_cast<uint32_t>(Sec / 2);
    return (Date << 16) | Time;
}

bool SetFileModifiedTime(const std::string& FileName, TDateTime Value) {
    const uint32_t Dos = DateTimeToDos(Value);
    if (Dos == 0) return false;
    const TDateTime Stamp =
        DosToDateTime(static_cast<uint16_t>(Dos >> 16), static_cast<uint16_t>(Dos & 0xFFFF));
    if (Stamp == 0.0) return false;
    return FileSetLastWriteTime(FileName, Stamp);
}

int64_t LocalTimeBiasSeconds(int64_t UnixTime) {
    return -LocalUtcOffset(UnixTime);
}

int64_t LocalTimeBiasSeconds() {
    return LocalTimeBiasSeconds(static_cast<int64_t>(std::time(nullptr)));
}

TDateTime UnixTimeToLocalDateTime(int64_t UnixTime) {
    // (t - bias) div 86400 + 25569 days, plus the time of day of the rest.
    return UnixToDateTime(UnixTime - LocalTimeBiasSeconds(UnixTime));
}

int64_t LocalDateTimeToUnixTime(TDateTime Value) {
    const int64_t Local = DateTimeToUnix(Value);
    // The bias depends on the moment; a second look settles the days on
    // which daylight saving time begins or ends.
    int64_t Result = Local + LocalTimeBiasSeconds(Local);
    const int64_t Bias = LocalTimeBiasSeconds(Result);
    Result = Local + Bias;
    return Result;
}

// ===========================================================================
// Attributes

bool ApplyFileAttributes(const std::string& FileName, uint32_t Attributes) {
    return FileSetAttr(FileName, Attributes);
}

uint32_t DosToUnixAttributes(uint32_t Attr) {
    uint32_t Mode = 0444;
    if ((Attr & faReadOnly) == 0) Mode |= 0200;
    if ((Attr & faDirectory) != 0) Mode |= 040111;
    return Mode;
}

uint32_t UnixToDosAttributes(uint32_t Mode) {
    uint32_t Attr = 0;
    switch (Mode & 0xF000) {
    case 0x4000: Attr = faDirectory; break;
    case 0x1000: // FIFO
    case 0x2000: // character device
    case 0x6000: // block device
    case 0xA000: // symbolic link
    case 0xC000: // socket
        Attr = faSysFile;
        break;
    default: break;
    }
    if ((Mode & 0200) == 0) Attr |= faReadOnly;
    return Attr;
}

// ===========================================================================
// Errors

void ClassifyException(const std::exception& E, TAbErrorClass& ErrorClass, int32_t& ErrorCode) {
    ErrorCode = 0;
    if (const auto* Ab = dynamic_cast<const EAbException*>(&E)) {
        ErrorClass = ecMorvanta;
        ErrorCode = Ab->ErrorCode;
    } else if (const auto* Io = dynamic_cast<const EInOutError*>(&E)) {
        ErrorClass = ecInOutError;
        ErrorCode = Io->ErrorCode;
    } else if (dynamic_cast<const EFCreateError*>(&E) != nullptr) {
        // File create and open errors are no filer errors: test them first.
        ErrorClass = ecFileCreateError;
    } else if (dynamic_cast<const EFOpenError*>(&E) != nullptr) {
        ErrorClass = ecFileOpenError;
    } else if (dynamic_cast<const EFilerError*>(&E) != nullptr) {
        ErrorClass = ecFilerError;
    } else {
        ErrorClass = ecOther;
    }
}

void ClassifyException(const std::exception_ptr& E, TAbErrorClass& ErrorClass, int32_t& ErrorCode) {
    ErrorClass = ecOther;
    ErrorCode = 0;
    if (!E) return;
    try {
        std::rethrow_exception(E);
    } catch (const std::exception& Ex) {
        ClassifyException(Ex, ErrorClass, ErrorCode);
    } catch (...) {
    }
}

// ===========================================================================
// File-system queries

int64_t FileSizeOf(const std::string& FileName) {
    TFileStatus Status;
    if (!GetFileStatus(FileName, Status)) return -1;
    return Status.IsDirectory ? 0 : Status.Size;
}

std::string MakeTempFileName(const std::string& Dir, bool CreateIt) {
    const std::string Where = DirectoryExists(Dir) ? Dir : GetTempDirectory();
    errno = 0;
    std::string Name = CreateTempFileName(Where, "VMS", CreateIt);
    if (Name.empty()) throw EInOutError(errno != 0 ? errno : EIO);
    return Name;
}

bool IsRemovableDrive(const std::string& FileName) {
    std::string_view Name(FileName);
    if (Name.substr(0, 8) == "\\\\?\\UNC\\")
        Name.remove_prefix(8);
    else if (Name.substr(0, 4) == "\\\\?\\")
        Name.remove_prefix(4);
    return IsRemovablePath(ExpandFileName(Name));
}

} // namespace kivo
