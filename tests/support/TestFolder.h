#pragma once
// Scratch folders for tests that write files.

#include <filesystem>
#include <string>
#include <string_view>

namespace vantorel::testing {

// A fresh, empty folder for the running test, under the temporary folder and named after
// `prefix`, this process and the test, so that no two tests or parallel runs share one.
std::filesystem::path freshTestFolder(std::string_view prefix);

// `size` bytes of noise, the same for the same seed.
std::string randomContent(std::size_t size, unsigned seed);

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

} // namespace vantorel::testing
