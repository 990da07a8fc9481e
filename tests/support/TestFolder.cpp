#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace vantorel::testing {

std::filesystem::path freshTestFolder(std::string_view prefix) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() /
                            (std::string(prefix) + "-" + std::to_string(::getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string randomContent(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string content(size, '\0');
    for (char& c : content)
        c = static_cast<char>(generator());
    return content;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace vantorel::testing
