#pragma once

#include <filesystem>
#include <string>

// Media for the tests, so the repository carries no binary fixtures: files made at build time by
// support/make_test_media.sh, and files made at test time in a folder removed at exit.
namespace test_media {

std::filesystem::path Dir();
std::filesystem::path Made(const std::string &name); // made at build time into media/ beside the program
// Dir()/name, made by "ffmpeg <args> <path>" unless there; empty when ffmpeg fails. A muxer pipes
// "-f <muxer>" output into the file: no index, no duration. Windows has no ffmpeg: Made(name).
std::filesystem::path Generate(const std::string &name, const std::string &args, const std::string &pipedMuxer = {});
std::filesystem::path WriteFile(const std::string &name, const std::string &bytes);
std::string ReadFile(const std::filesystem::path &path); // empty when it cannot be read
std::string Quote(const std::filesystem::path &path);    // for a shell command line

} // namespace test_media
