// Helpers the benchmark programs share: whole files into memory and raw
// DEFLATE streams made by zlib.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <zlib.h>

namespace kivo::bench {

// The whole file; the program ends with status 2 when it cannot be opened.
inline std::string ReadFile(const std::string& Name) {
    std::string Out;
    std::FILE* F = std::fopen(Name.c_str(), "rb");
    if (F == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", Name.c_str());
        std::exit(2);
    }
    char Buf[1 << 16];
    size_t N;
    while ((N = std::fread(Buf, 1, sizeof Buf, F)) > 0)
        Out.append(Buf, N);
    std::fclose(F);
    return Out;
}

// Data compressed by zlib at Level as a raw DEFLATE stream.
inline std::string DeflateRaw(const std::string& Data, int Level) {
    z_stream Z{};
    deflateInit2(&Z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string Out(deflateBound(&Z, Data.size()), '\0');
    Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
    Z.avail_in = static_cast<uInt>(Data.size());
    Z.next_out = reinterpret_cast<Bytef*>(Out.data());
    Z.avail_out = static_cast<uInt>(Out.size());
    deflate(&Z, Z_FINISH);
    Out.resize(Z.total_out);
    deflateEnd(&Z);
    return Out;
}

} // namespace kivo::bench
