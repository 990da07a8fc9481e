// --proxy takes the credentials in the address, percent-decoded, for every network job, and a
// proxy that refuses them fails the job with the proxy's message, never the password.

#include "demo/RangeServer.h"
#include "support/ForwardProxy.h"
#include "support/RunCommand.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using vantorel::testing::runCli;

TEST(ProxyOption, CredentialsInTheAddressServeEveryNetworkJob) {
    vantorel::testing::ForwardProxy proxy;
    proxy.require("Basic dXNlcjpwJXc="); // user:p%w
    const std::string hostAndPort = proxy.address().substr(std::string("http://").size());
    const std::string address = "http://user:p%25w@" + hostAndPort;
    vantorel::demo::RangeServer files;
    files.add("/setup.exe", vantorel::testing::randomContent(50000, 3));
    const auto folder = vantorel::testing::freshTestFolder("vantorel-cli-proxy");

    auto jobs = [&](const std::string& proxy) {
        return std::vector<std::vector<std::string>>{
            {"--demo", "search", "输入法", "--proxy=" + proxy},
            {"--demo", "check-update", "--proxy", proxy},
            {"--demo", "resolve", "https://share.vantorel.example/iVantorel310", "--proxy", proxy},
            {"download", "-q", files.url("/setup.exe"), "-d", folder.string(), "--proxy", proxy},
        };
    };
    for (const auto& job : jobs(address)) {
        const std::size_t before = proxy.carried().size();
        auto r = runCli(job);
        EXPECT_EQ(r.exitCode, 0) << job[1] << ": " << r.err;
        EXPECT_GT(proxy.carried().size(), before) << job[1];
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "setup.exe"));

    for (const auto& job : jobs("http://user:wr0ng%21@" + hostAndPort)) {
        auto refused = runCli(job);
        EXPECT_EQ(refused.exitCode, 1) << job[1];
        EXPECT_NE(refused.err.find("代理服务器拒绝了代理用户名或密码（HTTP 407）"),
                  std::string::npos)
            << job[1] << ": " << refused.err;
        EXPECT_EQ(refused.err.find("wr0ng"), std::string::npos) << refused.err;
    }

    auto bad = runCli({"download", files.url("/setup.exe"), "--proxy", "http://user@"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.starts_with("--proxy：代理地址缺少主机名")) << bad.err;
    std::filesystem::remove_all(folder);
}
