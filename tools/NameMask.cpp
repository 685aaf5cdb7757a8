#include "tools/NameMask.h"

namespace kivo::tools {

namespace {

char Folded(char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

// The length of the UTF-8 character that starts with Lead (1 for a stray
// continuation byte, so that every byte is consumed).
size_t CharLength(char Lead) {
    const auto U = static_cast<unsigned char>(Lead);
    if (U >= 0xF0) return 4;
    if (U >= 0xE0) return 3;
    if (U >= 0xC0) return 2;
    return 1;
}

// Whether the set at the start of Mask ("[...]") holds C; Length is the
// set's length in the mask, 0 when the '[' opens no complete set (it is then
// a plain character).
bool SetHolds(std::string_view Mask, char C, size_t& Length) {
    size_t At = 1;
    const bool Negated = At < Mask.size() && (Mask[At] == '!' || Mask[At] == '^');
    if (Negated) ++At;
    bool Found = false;
    bool First = true;
    for (; At < Mask.size() && (Mask[At] != ']' || First); First = false) {
        char Low = Folded(Mask[At]);
        char High = Low;
        if (At + 2 < Mask.size() && Mask[At + 1] == '-' && Mask[At + 2] != ']') {
            High = Folded(Mask[At + 2]);
            At += 3;
        } else {
            ++At;
        }
        if (Folded(C) >= Low && Folded(C) <= High) Found = true;
    }
    if (At >= Mask.size()) {
        Length = 0;
        return false;
    }
    Length = At + 1;
    return Found != Negated;
}

// Whether Mask matches all of Name.
bool Matches(std::string_view Mask, std::string_view Name) {
    // Where to go on after the last '*': its mask position and the name
    // position it has swallowed up to.
    size_t StarMask = std::string_view::npos;
    size_t StarName = 0;
    size_t M = 0;
    size_t N = 0;
    while (N < Name.size()) {
        if (M < Mask.size() && Mask[M] == '*') {
            StarMask = ++M;
            StarName = N;
            continue;
        }
        if (M < Mask.size()) {
            size_t SetLength = 0;
            const bool IsSet = Mask[M] == '[';
            const bool Holds = IsSet && SetHolds(Mask.substr(M), Name[N], SetLength);
            if (IsSet && SetLength > 0) {
                if (Holds) {
                    M += SetLength;
                    N += CharLength(Name[N]);
                    continue;
                }
            } else if (Mask[M] == '?') {
                ++M;
                N += CharLength(Name[N]);
                continue;
            } else if (Folded(Mask[M]) == Folded(Name[N])) {
                ++M;
                ++N;
                continue;
            }
        }
        if (StarMask == std::string_view::npos) return false;
        M = StarMask;
        N = StarName += CharLength(Name[StarName]);
    }
    while (M < Mask.size() && Mask[M] == '*')
        ++M;
    return M == Mask.size() && N == Name.size();
}

std::string_view WithoutTrailingSlash(std::string_view Text) {
    while (Text.size() > 1 && Text.back() == '/')
        Text.remove_suffix(1);
    return Text;
}

} // namespace

bool MaskSelects(std::string_view Mask, std::string_view Name) {
    if (Mask == "*" || Mask == "*.*") return true;
    Mask = WithoutTrailingSlash(Mask);
    Name = WithoutTrailingSlash(Name);
    if (Name.empty() || Mask.empty()) return false;
    const bool MaskHasFolder = Mask.find('/') != std::string_view::npos;
    if (MaskHasFolder) {
        if (Matches(Mask, Name)) return true;
    } else {
        const size_t Slash = Name.rfind('/');
        if (Matches(Mask, Slash == std::string_view::npos ? Name : Name.substr(Slash + 1)))
            return true;
    }
    // A folder the mask names, and everything under it: each folder on the
    // name's way (with a plain mask only the top one).
    for (size_t Slash = Name.find('/'); Slash != std::string_view::npos;
         Slash = Name.find('/', Slash + 1)) {
        if (Matches(Mask, Name.substr(0, Slash))) return true;
        if (!MaskHasFolder) break;
    }
    return false;
}

} // namespace kivo::tools
