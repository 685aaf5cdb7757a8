#include "webcopy/WcBase64.h"

#include <vector>

#include "runtime/Text.h"

namespace kivo::webcopy {

namespace {
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

void EncodeGroup(const unsigned char* Bytes, size_t Count, char* Out) {
    unsigned char B0 = Bytes[0];
    unsigned char B1 = Count > 1 ? Bytes[1] : 0;
    unsigned char B2 = Count > 2 ? Bytes[2] : 0;
    Out[0] = Alphabet[B0 >> 2];
    Out[1] = Alphabet[((B0 << 4) | (B1 >> 4)) & 63];
    Out[2] = Count > 1 ? Alphabet[((B1 << 2) | (B2 >> 6)) & 63] : '=';
    Out[3] = Count > 2 ? Alphabet[B2 & 63] : '=';
}

std::string Base64Encode(std::string_view Text) {
    std::u16string Units = Utf8ToUtf16(Text);
    std::vector<unsigned char> Bytes;
    Bytes.reserve(Units.size());
    for (char16_t U : Units)
        Bytes.push_back(static_cast<unsigned char>(U & 0xFF));
    std::string Out;
    Out.resize((Bytes.size() + 2) / 3 * 4);
    size_t O = 0;
    for (size_t I = 0; I < Bytes.size(); I += 3) {
        EncodeGroup(Bytes.data() + I, std::min<size_t>(3, Bytes.size() - I), &Out[O]);
        O += 4;
    }
    return Out;
}

} // namespace kivo::webcopy
