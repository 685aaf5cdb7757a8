// Test helpers for extraction: SHA-256 of extracted files, a reference
// encoder of traditional ZIP encryption, directory snapshots, and a runner
// that drives a program through a pseudo-terminal.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/TestPty.h"

namespace kivo::ziptest {

// Lower-case hex SHA-256 of the bytes.
std::string Sha256Hex(const std::string& Data);

// The data as traditional ZIP encryption stores it: a 12-byte header whose
// last byte is CheckByte (the rest from Seed), then the encrypted data.
std::string ZipCryptoEncrypt(const std::string& Plain, const std::string& PasswordBytes,
                             uint8_t CheckByte, uint32_t Seed = 1);

// Every file below Dir (relative names with '/') with its contents.
std::map<std::string, std::string> Snapshot(const std::string& Dir);
// Relative names of every entry below Dir (files, folders, links).
std::vector<std::string> Entries(const std::string& Dir);

using test::TPtyResult;
// Runs Command (through sh -c) on a new pseudo-terminal. Each (Expect, Send)
// pair waits until Expect has appeared in the output since the last answer,
// then types Send. Ends when the program ends (or after a minute).
TPtyResult RunOnPty(const std::string& Command,
                    const std::vector<std::pair<std::string, std::string>>& Dialog);

} // namespace kivo::ziptest
