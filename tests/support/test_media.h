#pragma once

#include <filesystem>
#include <string>

// Media files made at test time with the ffmpeg command-line tool, so the
// repository carries no binary fixtures. Files live in a per-process
// temporary folder that is removed when the process exits.
namespace test_media {

std::filesystem::path Dir();

// Runs "ffmpeg -nostdin -v error -y <args>"; true when it exits 0.
bool Ffmpeg(const std::string &args);

// Returns Dir()/name, generating it first with "ffmpeg <inputArgs> <path>"
// if it does not exist yet; empty path when ffmpeg fails.
std::filesystem::path Generate(const std::string &name, const std::string &args);

// Writes raw bytes to Dir()/name (for empty, truncated or mislabelled files).
std::filesystem::path WriteFile(const std::string &name, const std::string &bytes);

} // namespace test_media
