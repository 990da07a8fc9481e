#include "demo/CatalogueData.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

using namespace vantorel;
using vantorel::testing::BackgroundCommand;
using vantorel::testing::runCli;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(DemoCommand, ServesADownloadThatAnotherCommandCompletes) {
    BackgroundCommand demo({VANTOREL_CLI_PATH, "demo"});
    ASSERT_TRUE(demo.started());
    // The export lines come first, then "#" comments with commands to try.
    std::vector<std::string> env;
    std::string catalogueBase;
    while (auto line = demo.readLine(10s)) {
        if (!line->starts_with("export "))
            break;
        env.push_back(line->substr(7));
        if (env.back().starts_with("VANTOREL_CATALOGUE_BASE="))
            catalogueBase = env.back().substr(24);
    }
    ASSERT_TRUE(catalogueBase.starts_with("http://127.0.0.1:")) << catalogueBase;

    // A second demo cannot take the port the first one holds.
    auto busy = runCli({"demo", "--port", catalogueBase.substr(catalogueBase.rfind(':') + 1)});
    EXPECT_EQ(busy.exitCode, 1);
    const std::string port = catalogueBase.substr(catalogueBase.rfind(':') + 1);
    EXPECT_EQ(busy.err, "无法启动演示服务：端口 " + port + " 已被占用\n");

    auto found = runCli({"search", "番茄", "--json"}, env);
    ASSERT_EQ(found.exitCode, 0) << found.err;
    const auto record = nlohmann::json::parse(found.out)["records"].at(0);
    const fs::path target = fs::temp_directory_path() /
                            ("vantorel-demo-download-" + std::to_string(::getpid()) + ".exe");
    auto download = runCli({"download", record["url"], "-o", target.string(), "--quiet"}, env);
    ASSERT_EQ(download.exitCode, 0) << download.err;
    std::ifstream in(target, std::ios::binary);
    const std::string saved(std::istreambuf_iterator<char>(in), {});
    fs::remove(target);
    EXPECT_TRUE(saved == demo::installerBytes(record["filename"].get<std::string>(),
                                              std::stoull(record["filesize"].get<std::string>())));

    EXPECT_EQ(demo.stop(SIGTERM), 0);
}
