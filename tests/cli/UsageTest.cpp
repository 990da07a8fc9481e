#include "support/RunCommand.h"

#include <gtest/gtest.h>

using vantorel::testing::runCli;

TEST(Usage, EveryJobPrintsItsOwnUsageOnHelp) {
    const auto program = runCli({"--help"});
    ASSERT_EQ(program.exitCode, 0);
    for (std::string job : {"search", "fetch", "download", "resolve", "check-update", "demo"}) {
        // The program's usage lists the job, and the job answers --help and -h anywhere among
        // its arguments ("search -h" must not search for "-h").
        EXPECT_NE(program.out.find("\n  " + job + " "), std::string::npos) << job;
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {job, "--help"}, {job, "-h"}, {job, "x", "-h"}}) {
            auto r = runCli(args, {"VANTOREL_CATALOGUE_BASE=http://127.0.0.1:1"});
            EXPECT_EQ(r.exitCode, 0) << job << r.err;
            EXPECT_TRUE(r.out.starts_with("用法: vantorel-cli " + job + " ")) << r.out;
            EXPECT_EQ(r.out.find("用法", 1), std::string::npos) << "only this job's usage";
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
    }
}
