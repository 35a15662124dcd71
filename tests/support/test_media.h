#pragma once

#include <filesystem>
#include <string>

// Media files made at test time with the ffmpeg command-line tool, so the
// repository carries no binary fixtures. Files live in a per-process
// temporary folder that is removed when the process exits.
namespace test_media {

std::filesystem::path Dir();

// A file that support/make_test_media.sh made at build time into media/
// beside the test program; empty path when it is not there.
std::filesystem::path Made(const std::string &name);

// Returns Dir()/name, generating it first with "ffmpeg <inputArgs> <path>"
// if it does not exist yet; empty path when ffmpeg fails. With a muxer,
// ffmpeg writes "-f <muxer>" to a pipe that the shell sends into the file, so
// it cannot go back to write an index or a duration. Where there is no ffmpeg
// tool (Windows), only Made(name).
std::filesystem::path Generate(const std::string &name, const std::string &args, const std::string &pipedMuxer = {});

// Writes raw bytes to Dir()/name (for empty, truncated or mislabelled files).
std::filesystem::path WriteFile(const std::string &name, const std::string &bytes);

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path &path);

// Quotes a path for the shell command line Ffmpeg builds.
std::string Quote(const std::filesystem::path &path);

} // namespace test_media
