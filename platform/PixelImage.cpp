// The pixel pictures of the native window layer and their files: PNG
// (8-bit RGB, zlib-compressed rows without filters) and 24-bit BMP. No
// system calls: serves both systems.
#include <exception>
#include <zlib.h>

#include "platform/NativeUi.h"
#include "runtime/Classes.h"

namespace kivo::ui {

uint32_t TPixelImage::At(int X, int Y) const {
    const size_t I = static_cast<size_t>(Y) * static_cast<size_t>(Width) + static_cast<size_t>(X);
    switch (Format) {
    case TPixelFormat::Rgb: return Pixels[I] | 0xFF000000u;
    case TPixelFormat::Argb: return Pixels[I];
    case TPixelFormat::Indexed8: {
        const uint8_t Index = Indexes[I];
        return (Index < Palette.size() ? Palette[Index] : 0u) | 0xFF000000u;
    }
    }
    return 0;
}

namespace {

void PutBE32(std::string& Out, uint32_t V) {
    for (int Shift = 24; Shift >= 0; Shift -= 8)
        Out.push_back(static_cast<char>((V >> Shift) & 0xFF));
}

void PutLE(std::string& Out, uint32_t V, int Bytes) {
    for (int I = 0; I < Bytes; ++I)
        Out.push_back(static_cast<char>((V >> (8 * I)) & 0xFF));
}

void Chunk(std::string& Out, const char* Type, const std::string& Data) {
    PutBE32(Out, static_cast<uint32_t>(Data.size()));
    std::string Body = std::string(Type, 4) + Data;
    Out += Body;
    PutBE32(Out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Body.data()),
                                             static_cast<uInt>(Body.size()))));
}

bool EncodePng(const TPixelImage& Image, std::string& Out) {
    std::string Raw;
    Raw.reserve(static_cast<size_t>(Image.Height) * (1 + 3 * static_cast<size_t>(Image.Width)));
    for (int Y = 0; Y < Image.Height; ++Y) {
        Raw.push_back('\0'); // no filter
        for (int X = 0; X < Image.Width; ++X) {
            const uint32_t P = Image.At(X, Y);
            Raw.push_back(static_cast<char>((P >> 16) & 0xFF));
            Raw.push_back(static_cast<char>((P >> 8) & 0xFF));
            Raw.push_back(static_cast<char>(P & 0xFF));
        }
    }
    uLongf Size = compressBound(static_cast<uLong>(Raw.size()));
    std::string Packed(Size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(Packed.data()), &Size,
                  reinterpret_cast<const Bytef*>(Raw.data()), static_cast<uLong>(Raw.size()),
                  Z_BEST_SPEED) != Z_OK)
        return false;
    Packed.resize(Size);
    std::string Header;
    PutBE32(Header, static_cast<uint32_t>(Image.Width));
    PutBE32(Header, static_cast<uint32_t>(Image.Height));
    Header +=
        std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter, no interlace
    Out = "\x89PNG\r\n\x1a\n";
    Chunk(Out, "IHDR", Header);
    Chunk(Out, "IDAT", Packed);
    Chunk(Out, "IEND", "");
    return true;
}

void EncodeBmp(const TPixelImage& Image, std::string& Out) {
    const uint32_t Row = (3 * static_cast<uint32_t>(Image.Width) + 3) & ~3u;
    const uint32_t DataSize = Row * static_cast<uint32_t>(Image.Height);
    Out = "BM";
    PutLE(Out, 54 + DataSize, 4);
    PutLE(Out, 0, 4);
    PutLE(Out, 54, 4);
    PutLE(Out, 40, 4);
    PutLE(Out, static_cast<uint32_t>(Image.Width), 4);
    PutLE(Out, static_cast<uint32_t>(Image.Height), 4); // bottom row first
    PutLE(Out, 1, 2);
    PutLE(Out, 24, 2);
    PutLE(Out, 0, 4);
    PutLE(Out, DataSize, 4);
    PutLE(Out, 3780, 4); // 96 pixels per inch
    PutLE(Out, 3780, 4);
    PutLE(Out, 0, 4);
    PutLE(Out, 0, 4);
    for (int Y = Image.Height - 1; Y >= 0; --Y) {
        for (int X = 0; X < Image.Width; ++X)
            PutLE(Out, Image.At(X, Y) & 0xFFFFFF, 3);
        Out.append(Row - 3 * static_cast<uint32_t>(Image.Width), '\0');
    }
}

} // namespace

bool SavePixelImage(const TPixelImage& Image, const std::string& Path) {
    if (Image.Empty()) return false;
    const size_t Count = static_cast<size_t>(Image.Width) * static_cast<size_t>(Image.Height);
    if ((Image.Format == TPixelFormat::Indexed8 ? Image.Indexes.size() : Image.Pixels.size()) <
        Count)
        return false;
    std::string Data;
    const bool Png = Path.size() >= 4 && (Path.compare(Path.size() - 4, 4, ".png") == 0 ||
                                          Path.compare(Path.size() - 4, 4, ".PNG") == 0);
    if (Png) {
        if (!EncodePng(Image, Data)) return false;
    } else {
        EncodeBmp(Image, Data);
    }
    try {
        TFileStream F(Path, fmCreate);
        F.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace kivo::ui
