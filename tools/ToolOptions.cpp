#include "tools/ToolOptions.h"

#include <utility>

namespace kivo::tools {

TOptionReader::TOptionReader(const std::vector<TOptionSpec>& Specs, std::vector<std::string> Args)
    : FSpecs(Specs), FArgs(std::move(Args)) {}

const TOptionSpec* TOptionReader::FindShort(char Letter) const {
    for (const TOptionSpec& Spec : FSpecs)
        if (Spec.Short != 0 && Spec.Short == Letter) return &Spec;
    return nullptr;
}

const TOptionSpec* TOptionReader::FindLong(std::string_view Name) const {
    for (const TOptionSpec& Spec : FSpecs)
        if (!Spec.Long.empty() && Spec.Long == Name) return &Spec;
    return nullptr;
}

TOptionKind TOptionReader::Next(int& Id, std::string& Value) {
    Value.clear();
    if (FLetter > 0) return ShortOption(Id, Value);
    if (FIndex >= FArgs.size()) return okEnd;
    const std::string& Arg = FArgs[FIndex];
    if (FOptionsDone || Arg.size() < 2 || Arg[0] != '-') {
        Value = Arg;
        ++FIndex;
        return okOperand;
    }
    if (Arg == "--") {
        FOptionsDone = true;
        ++FIndex;
        return Next(Id, Value);
    }
    if (Arg[1] == '-') {
        ++FIndex;
        return LongOption(std::string_view(Arg).substr(2), Id, Value);
    }
    FLetter = 1;
    return ShortOption(Id, Value);
}

TOptionKind TOptionReader::LongOption(std::string_view Text, int& Id, std::string& Value) {
    const size_t Equals = Text.find('=');
    const std::string_view Name = Text.substr(0, Equals);
    const TOptionSpec* Spec = FindLong(Name);
    if (Spec == nullptr) {
        Value = "unknown option '--" + std::string(Name) + "'";
        return okError;
    }
    Id = Spec->Id;
    if (Equals != std::string_view::npos) {
        if (!Spec->TakesValue) {
            Value = "option '--" + std::string(Name) + "' takes no value";
            return okError;
        }
        Value = Text.substr(Equals + 1);
        return okOption;
    }
    if (!Spec->TakesValue) return okOption;
    if (FIndex >= FArgs.size()) {
        Value = "option '--" + std::string(Name) + "' needs a value";
        return okError;
    }
    Value = FArgs[FIndex++];
    return okOption;
}

TOptionKind TOptionReader::ShortOption(int& Id, std::string& Value) {
    const std::string& Arg = FArgs[FIndex];
    const char Letter = Arg[FLetter++];
    const bool Last = FLetter >= Arg.size();
    if (Last) {
        FLetter = 0;
        ++FIndex;
    }
    const TOptionSpec* Spec = FindShort(Letter);
    if (Spec == nullptr) {
        FLetter = 0;
        if (!Last) ++FIndex;
        Value = std::string("unknown option '-") + Letter + "'";
        return okError;
    }
    Id = Spec->Id;
    if (!Spec->TakesValue) return okOption;
    if (!Last) {
        // The rest of the group is the value: -dDIR.
        Value = Arg.substr(FLetter);
        FLetter = 0;
        ++FIndex;
        return okOption;
    }
    if (FIndex >= FArgs.size()) {
        Value = std::string("option '-") + Letter + "' needs a value";
        return okError;
    }
    Value = FArgs[FIndex++];
    return okOption;
}

} // namespace kivo::tools
