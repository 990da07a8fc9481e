// The bash completion installed with vantorel-cli keeps its own lists of jobs and options; they
// must not fall behind what the program's usage offers.

#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using vantorel::testing::runCli;
using vantorel::testing::runCommand;

namespace {

// What the completion offers after `vantorel-cli words...` (the last word is being typed).
std::set<std::string> completions(const std::vector<std::string>& words) {
    std::vector<std::string> argv = {
        "/bin/bash", "-c",
        "source \"$0\" && COMP_WORDS=(vantorel-cli \"$@\") && COMP_CWORD=$# && _vantorel_cli && "
        "printf '%s\\n' \"${COMPREPLY[@]}\"",
        VANTOREL_SOURCE_DIR "/packaging/vantorel-cli.bash-completion"};
    argv.insert(argv.end(), words.begin(), words.end());
    const auto r = runCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> offered;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        offered.insert(line);
    return offered;
}

} // namespace

TEST(Completion, OffersEveryJobAndOptionTheUsageLists) {
    const auto help = runCli({"--help"});
    ASSERT_EQ(help.exitCode, 0) << help.err;

    // A job starts a line indented by two spaces and continues on deeper-indented lines; the
    // other lines hold the options given before a job ("" below).
    const std::regex jobLine("^  ([a-z][a-z-]*)\\b.*");
    const std::regex option("(?:^|[ \\[|])(--?[A-Za-z][A-Za-z-]*)");
    std::map<std::string, std::set<std::string>> usage;
    std::string job;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, jobLine))
            job = m[1];
        else if (!line.starts_with("    "))
            job.clear();
        usage[job];
        for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it)
            usage[job].insert((*it)[1]);
    }
    ASSERT_GE(usage.size(), 6u) << help.out; // the options before a job, and five jobs or more

    const auto jobs = completions({""});
    const auto globalOptions = completions({"-"});
    for (const auto& [name, options] : usage) {
        if (!name.empty()) {
            EXPECT_TRUE(jobs.contains(name)) << name;
        }
        const auto offered = name.empty() ? globalOptions : completions({name, "-"});
        for (const auto& o : options)
            EXPECT_TRUE(offered.contains(o)) << (name.empty() ? "vantorel-cli" : name) << " " << o;
    }
}
