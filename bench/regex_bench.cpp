// Extraction of catalogue entries with RegexObject (PCRE2-16, JIT) against std::regex
// (ECMAScript grammar) on the same replies: 30 entries, and a 2 MiB reply. std::regex runs in
// a child process so that a stack overflow there is reported instead of ending the run.

#include "script/RegexObject.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr const char* kPattern =
    R"(<displayname>[\s]*?<!\[CDATA\[([\s\S]*?)\]\]>[\s]*?</displayname>[\s\S]*?<filename>(.*?)</filename>[\s\S]*?<filesize>(.*?)</filesize>[\s\S]*?<hash>(.*?)</hash>[\s\S]*?<url>[\s]*?<!\[CDATA\[([a-zA-z]+://[^\s]*)\]\]>[\s\S]*?<publishdate>(.*?)</publishdate>[\s\S]*?<versionname>(.*?)</versionname>[\s\S]*?<https>[\s]*?<!\[CDATA\[([a-zA-z]+://[^\s]*)\]\]>[\s]*?</https>[\s\S]*?<logo48>(.*?)</logo48>)";

// `padding` bytes of description text stand between the name and the file name.
std::string entry(int i, std::size_t padding = 0) {
    const std::string n = std::to_string(i);
    return "<data>\n  <displayname><![CDATA[示例程序 " + n + " 专业版]]></displayname>\n" +
           "  <softid>" + n + "</softid><desc><![CDATA[一个用于测试的程序说明，第 " + n + " 项。" +
           std::string(padding, 'x') + "]]></desc>\n  <filename>sample_" + n +
           "_setup.exe</filename>\n" + "  <filesize>" + std::to_string(1048576 + i * 4096) +
           "</filesize>\n  <hash>" + std::string(32, static_cast<char>('a' + i % 6)) + "</hash>\n" +
           "  <url><![CDATA[http://dl.example.test/soft/" + n + "/sample_" + n +
           "_setup.exe]]></url>\n  <publishdate>2024-05-" + std::to_string(10 + i % 18) +
           "</publishdate>\n  <versionname>" + n + ".0.1</versionname>\n" +
           "  <https><![CDATA[https://dl.example.test/soft/" + n + "/sample_" + n +
           "_setup.exe]]></https>\n  <logo48>logo/48/" + n + ".png</logo48>\n</data>\n";
}

std::string reply(std::size_t minimumBytes, int minimumEntries, std::size_t padding = 0) {
    std::string text = "searchCallback({\"result\":\"<root>";
    for (int i = 0; i < minimumEntries || text.size() < minimumBytes; ++i)
        text += entry(i, padding);
    return text + "</root>\"})";
}

// Best of several rounds, in milliseconds; `count` receives the number of matches.
double best(int rounds, const std::function<int()>& run, int& count) {
    double fastest = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        count = run();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        fastest = std::min(fastest, took.count());
    }
    return fastest;
}

// std::regex in a child process; the child writes "<ms> <count>" to the pipe.
bool stdRegex(const std::string& text, int rounds, double& ms, int& count) {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::regex re(kPattern, std::regex::ECMAScript);
        int n = 0;
        const double took = best(
            rounds,
            [&] {
                int found = 0;
                for (auto it = std::sregex_iterator(text.begin(), text.end(), re);
                     it != std::sregex_iterator(); ++it)
                    ++found;
                return found;
            },
            n);
        const std::string line = std::to_string(took) + " " + std::to_string(n);
        [[maybe_unused]] const auto written = write(fds[1], line.data(), line.size());
        _exit(0);
    }
    close(fds[1]);
    char buffer[128] = {};
    std::size_t got = 0;
    for (ssize_t r; (r = read(fds[0], buffer + got, sizeof buffer - 1 - got)) > 0;)
        got += static_cast<std::size_t>(r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           std::sscanf(buffer, "%lf %d", &ms, &count) == 2;
}

void compare(const char* name, const std::string& text, int rounds) {
    vantorel::script::RegexObject re;
    if (!re.create(kPattern, false, false, false, true)) {
        std::printf("%s: pattern failed: %s\n", name, re.lastError().message.c_str());
        return;
    }
    int ours = 0;
    const double oursMs = best(
        rounds, [&] { return re.execute(re.failed() ? "" : text); }, ours);
    // Reading the groups is part of extraction.
    std::size_t fieldBytes = 0;
    for (int m = 0; m < ours; ++m)
        for (int g = 1; g <= 9; ++g)
            fieldBytes += re.submatch_text(m, g).size();

    double theirMs = 0;
    int theirs = 0;
    std::printf("%-12s %8zu bytes  RegexObject: %4d matches %9.3f ms", name, text.size(), ours,
                oursMs);
    if (stdRegex(text, rounds, theirMs, theirs))
        std::printf("  std::regex: %4d matches %9.3f ms  ratio %.1fx\n", theirs, theirMs,
                    theirMs / oursMs);
    else
        std::printf("  std::regex: did not survive the input\n");
    if (fieldBytes == 0)
        std::printf("  (no fields extracted)\n");
}

} // namespace

int main() {
    compare("30 entries", reply(0, 30), 50);
    compare("2 MiB", reply(2u << 20, 0), 5);
    compare("2 MiB, 30", reply(0, 30, (2u << 20) / 30), 5);
    return 0;
}
