// Command-line options the way getopt users type them: short flags alone or
// combined (-q -o, -qo), values attached or following (-dDIR, -d DIR), long
// options with or without '=' (--directory=DIR, --directory DIR), and "--"
// ending the options. Operands may stand between options; a lone "-" is an
// operand.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kivo::tools {

// One option a program knows: its short letter (0 for none), its long name
// (empty for none), whether it takes a value, and the caller's identifier.
struct TOptionSpec {
    char Short;
    std::string_view Long;
    bool TakesValue;
    int Id;
};

// What TOptionReader::Next found.
enum TOptionKind { okOption, okOperand, okEnd, okError };

class TOptionReader {
public:
    // Args are the arguments after the ones the caller handled itself.
    TOptionReader(const std::vector<TOptionSpec>& Specs, std::vector<std::string> Args);

    // The next option (Id and, for one that takes a value, Value), operand
    // (Value) or the end. okError with a message in Value for an unknown
    // option, a missing value, or a value given to a flag.
    TOptionKind Next(int& Id, std::string& Value);

private:
    const TOptionSpec* FindShort(char Letter) const;
    const TOptionSpec* FindLong(std::string_view Name) const;
    TOptionKind LongOption(std::string_view Text, int& Id, std::string& Value);
    TOptionKind ShortOption(int& Id, std::string& Value);

    std::vector<TOptionSpec> FSpecs;
    std::vector<std::string> FArgs;
    size_t FIndex = 0;  // the argument being read
    size_t FLetter = 0; // inside a group of short flags: the next letter
    bool FOptionsDone = false;
};

} // namespace kivo::tools
