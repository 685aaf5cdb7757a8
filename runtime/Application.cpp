#include "runtime/Application.h"

#include "runtime/OsProcess.h"

namespace kivo {

namespace {

TMessagePump& PumpSlot() {
    static TMessagePump Pump;
    return Pump;
}

std::vector<std::string>& ArgsSlot() {
    static std::vector<std::string> Args;
    return Args;
}

} // namespace

void SetMessagePump(TMessagePump Pump) {
    PumpSlot() = std::move(Pump);
}

void ProcessMessages() {
    // Copy first: a pump may replace itself while it runs.
    TMessagePump Pump = PumpSlot();
    if (Pump) Pump();
}

std::vector<std::string> SplitCommandLine(std::string_view CommandLine) {
    std::vector<std::string> Result;
    size_t P = 0;
    const size_t N = CommandLine.size();
    auto At = [&](size_t I) -> unsigned char {
        return I < N ? static_cast<unsigned char>(CommandLine[I]) : 0;
    };
    while (true) {
        // Skip separators and empty quoted pairs before an argument.
        while (true) {
            while (P < N && At(P) <= ' ')
                ++P;
            if (At(P) == '"' && At(P + 1) == '"')
                P += 2;
            else
                break;
        }
        if (P >= N) break;
        std::string Arg;
        while (P < N && At(P) > ' ') {
            if (At(P) == '"') {
                ++P;
                while (P < N && At(P) != '"')
                    Arg += CommandLine[P++];
                if (P < N) ++P;
            } else {
                Arg += CommandLine[P++];
            }
        }
        Result.push_back(std::move(Arg));
    }
    return Result;
}

void SetProgramArguments(int Argc, const char* const* Argv) {
    std::vector<std::string> Args;
    // The system's own list where it has one (UTF-8 where argv is not), when
    // it is the same list argv was made from.
    if (os::CommandLineArguments(Args) && Args.size() == static_cast<size_t>(Argc > 0 ? Argc : 0)) {
        ArgsSlot() = std::move(Args);
        return;
    }
    Args.clear();
    for (int i = 0; i < Argc; ++i)
        Args.emplace_back(Argv[i] != nullptr ? Argv[i] : "");
    ArgsSlot() = std::move(Args);
}

void SetProgramArguments(std::vector<std::string> Args) {
    ArgsSlot() = std::move(Args);
}

int ParamCount() {
    const auto& Args = ArgsSlot();
    return Args.empty() ? 0 : static_cast<int>(Args.size()) - 1;
}

std::string ParamStr(int Index) {
    if (Index == 0) return ExecutablePath();
    const auto& Args = ArgsSlot();
    if (Index < 0 || static_cast<size_t>(Index) >= Args.size()) return std::string();
    return Args[static_cast<size_t>(Index)];
}

std::string ExecutablePath() {
    std::string Path = os::ExecutableFileName();
    if (!Path.empty()) return Path;
    // Without an answer from the system, the name the program was started by.
    const auto& Args = ArgsSlot();
    return Args.empty() ? std::string() : Args[0];
}

} // namespace kivo
