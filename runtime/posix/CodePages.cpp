// Code pages through iconv, which names them "CP<number>".
#include <cerrno>
#include <iconv.h>

#include "runtime/OsCodePages.h"
#include "runtime/Text.h"

namespace kivo::os {

namespace {

std::string IconvName(uint16_t CodePage) {
    return "CP" + std::to_string(CodePage);
}

// A conversion descriptor that closes itself.
class TConverter {
public:
    TConverter(const std::string& To, const std::string& From)
        : FCd(iconv_open(To.c_str(), From.c_str())) {}
    ~TConverter() {
        if (Valid()) iconv_close(FCd);
    }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;
    bool Valid() const { return FCd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return FCd; }

private:
    iconv_t FCd;
};

std::string Convert(std::string_view In, const std::string& From, const std::string& To,
                    bool* Lossy) {
    TConverter Cd(To, From);
    if (!Cd.Valid()) {
        if (Lossy != nullptr) *Lossy = true;
        return std::string(In);
    }
    bool Replaced = false;
    std::string Out;
    char* InP = const_cast<char*>(In.data());
    size_t InLeft = In.size();
    char Buffer[1024];
    while (InLeft > 0) {
        char* OutP = Buffer;
        size_t OutLeft = sizeof Buffer;
        size_t R = iconv(Cd.Get(), &InP, &InLeft, &OutP, &OutLeft);
        Out.append(Buffer, static_cast<size_t>(OutP - Buffer));
        if (R == static_cast<size_t>(-1) && errno != E2BIG) {
            Replaced = true;
            Out += (To == "UTF-8") ? "\xEF\xBF\xBD" : "?";
            // Skip one input character: one byte, or one UTF-8 sequence.
            size_t Skip = 1;
            if (From == "UTF-8") {
                size_t Pos = 0;
                NextCodePoint(std::string_view(InP, InLeft), Pos);
                Skip = Pos;
            }
            InP += Skip;
            InLeft -= Skip;
        }
    }
    if (Lossy != nullptr) *Lossy = Replaced;
    return Out;
}

} // namespace

bool CodePageAvailable(uint16_t CodePage) {
    return TConverter("UTF-8", IconvName(CodePage)).Valid();
}

bool SingleByteCodePoints(uint16_t CodePage, std::array<char32_t, 256>& Map) {
    TConverter Cd("UTF-32LE", IconvName(CodePage));
    if (!Cd.Valid()) return false;
    for (int B = 0x80; B < 256; ++B) {
        char In = static_cast<char>(B);
        char32_t Out = 0;
        char* InP = &In;
        size_t InLeft = 1;
        char* OutP = reinterpret_cast<char*>(&Out);
        size_t OutLeft = sizeof Out;
        iconv(Cd.Get(), nullptr, nullptr, nullptr, nullptr);
        if (iconv(Cd.Get(), &InP, &InLeft, &OutP, &OutLeft) != static_cast<size_t>(-1) &&
            OutLeft == 0) {
            Map[static_cast<size_t>(B)] = Out;
        }
    }
    return true;
}

std::string MultiByteToUtf8(std::string_view Bytes, uint16_t CodePage, bool* Lossy) {
    return Convert(Bytes, IconvName(CodePage), "UTF-8", Lossy);
}

std::string Utf8ToMultiByte(std::string_view Text, uint16_t CodePage, bool* Lossy) {
    return Convert(Text, "UTF-8", IconvName(CodePage), Lossy);
}

} // namespace kivo::os
