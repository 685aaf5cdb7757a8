// The English causes kivo-unzip reports: the engine's error objects and
// codes (some of whose texts are German runtime texts or name internals)
// and system error numbers, each turned into a short English phrase.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "archive/AbUtils.h"

namespace kivo::tools {

// The cause a failed item or archive is reported with.
std::string EnglishCause(const std::exception& E);
// The same for a failure reported by class and code alone.
std::string EnglishCause(TAbErrorClass ErrorClass, int32_t ErrorCode);
// The text of a system error number, in English whatever the locale.
std::string EnglishErrno(int Code);

} // namespace kivo::tools
