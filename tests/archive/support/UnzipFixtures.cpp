#include "UnzipFixtures.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "ZipFixtures.h"

namespace kivo::ziptest {

// ---------------------------------------------------------------------------
// SHA-256 (FIPS 180-4)

namespace {

constexpr std::array<uint32_t, 64> K = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t X, int N) {
    return (X >> N) | (X << (32 - N));
}

} // namespace

std::string Sha256Hex(const std::string& Data) {
    std::array<uint32_t, 8> H = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::string Msg = Data;
    const uint64_t Bits = static_cast<uint64_t>(Data.size()) * 8;
    Msg.push_back(static_cast<char>(0x80));
    while (Msg.size() % 64 != 56)
        Msg.push_back('\0');
    for (int I = 7; I >= 0; --I)
        Msg.push_back(static_cast<char>(Bits >> (I * 8)));
    for (size_t Block = 0; Block < Msg.size(); Block += 64) {
        std::array<uint32_t, 64> W{};
        for (int I = 0; I < 16; ++I) {
            const auto* P = reinterpret_cast<const uint8_t*>(Msg.data() + Block + 4 * I);
            W[I] = (uint32_t{P[0]} << 24) | (uint32_t{P[1]} << 16) | (uint32_t{P[2]} << 8) | P[3];
        }
        for (int I = 16; I < 64; ++I) {
            uint32_t S0 = Rotr(W[I - 15], 7) ^ Rotr(W[I - 15], 18) ^ (W[I - 15] >> 3);
            uint32_t S1 = Rotr(W[I - 2], 17) ^ Rotr(W[I - 2], 19) ^ (W[I - 2] >> 10);
            W[I] = W[I - 16] + S0 + W[I - 7] + S1;
        }
        auto [A, B, C, D, E, F, G, Hh] = H;
        for (int I = 0; I < 64; ++I) {
            uint32_t T1 =
                Hh + (Rotr(E, 6) ^ Rotr(E, 11) ^ Rotr(E, 25)) + ((E & F) ^ (~E & G)) + K[I] + W[I];
            uint32_t T2 = (Rotr(A, 2) ^ Rotr(A, 13) ^ Rotr(A, 22)) + ((A & B) ^ (A & C) ^ (B & C));
            Hh = G;
            G = F;
            F = E;
            E = D + T1;
            D = C;
            C = B;
            B = A;
            A = T1 + T2;
        }
        H[0] += A;
        H[1] += B;
        H[2] += C;
        H[3] += D;
        H[4] += E;
        H[5] += F;
        H[6] += G;
        H[7] += Hh;
    }
    static const char Hex[] = "0123456789abcdef";
    std::string Out;
    for (uint32_t V : H) {
        for (int Shift = 28; Shift >= 0; Shift -= 4)
            Out.push_back(Hex[(V >> Shift) & 0xF]);
    }
    return Out;
}

// ---------------------------------------------------------------------------
// Traditional ZIP encryption, written from the ZIP application note.

std::string ZipCryptoEncrypt(const std::string& Plain, const std::string& PasswordBytes,
                             uint8_t CheckByte, uint32_t Seed) {
    uint32_t Keys[3] = {0x12345678, 0x23456789, 0x34567890};
    auto Crc = [](uint32_t C, uint8_t B) {
        C ^= B;
        for (int K2 = 0; K2 < 8; ++K2)
            C = (C & 1) != 0 ? 0xEDB88320u ^ (C >> 1) : C >> 1;
        return C;
    };
    auto Update = [&](uint8_t B) {
        Keys[0] = Crc(Keys[0], B);
        Keys[1] = (Keys[1] + (Keys[0] & 0xFF)) * 134775813u + 1;
        Keys[2] = Crc(Keys[2], static_cast<uint8_t>(Keys[1] >> 24));
    };
    auto Encrypt = [&](uint8_t B) {
        uint32_t T = (Keys[2] & 0xFFFF) | 2;
        auto C = static_cast<uint8_t>(B ^ ((T * (T ^ 1)) >> 8));
        Update(B);
        return C;
    };
    for (char C : PasswordBytes)
        Update(static_cast<uint8_t>(C));
    std::mt19937 Gen(Seed);
    std::string Out;
    for (int I = 0; I < 11; ++I)
        Out.push_back(static_cast<char>(Encrypt(static_cast<uint8_t>(Gen()))));
    Out.push_back(static_cast<char>(Encrypt(CheckByte)));
    for (char C : Plain)
        Out.push_back(static_cast<char>(Encrypt(static_cast<uint8_t>(C))));
    return Out;
}

// ---------------------------------------------------------------------------
// Directory snapshots

std::map<std::string, std::string> Snapshot(const std::string& Dir) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> Files;
    std::error_code Ec;
    for (auto It = fs::recursive_directory_iterator(Dir, Ec);
         !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec)) {
        if (It->is_regular_file(Ec) && !It->is_symlink(Ec)) {
            Files[fs::relative(It->path(), Dir).generic_string()] = ReadBytes(It->path().string());
        }
    }
    return Files;
}

std::vector<std::string> Entries(const std::string& Dir) {
    namespace fs = std::filesystem;
    std::vector<std::string> Names;
    std::error_code Ec;
    for (auto It = fs::recursive_directory_iterator(Dir, Ec);
         !Ec && It != fs::recursive_directory_iterator(); It.increment(Ec)) {
        Names.push_back(fs::relative(It->path(), Dir).generic_string());
    }
    std::sort(Names.begin(), Names.end());
    return Names;
}

// ---------------------------------------------------------------------------
// Pseudo-terminal runs

TPtyResult RunOnPty(const std::string& Command,
                    const std::vector<std::pair<std::string, std::string>>& Dialog) {
    return test::RunOnPty(
        [&] {
            ::execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
            return 127;
        },
        Dialog);
}

} // namespace kivo::ziptest
