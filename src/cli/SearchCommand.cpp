#include "catalogue/CatalogueSearch.h"
#include "catalogue/DisplayForms.h"
#include "cli/Commands.h"
#include "cli/TerminalText.h"
#include "common/Config.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace vantorel::cli {

int runSearch(Args args) {
    std::string_view keyword;
    bool json = false;
    bool haveKeyword = false;
    for (std::string_view a : args) {
        if (a == "--json")
            json = true;
        else if (!haveKeyword && !a.starts_with("--"))
            keyword = a, haveKeyword = true;
        else
            return usageError("search", "未知选项或多余的参数: " + std::string(a));
    }
    if (!haveKeyword)
        return usageError("search", "缺少搜索关键字");
    auto records = catalogue::search(keyword, config::catalogueBase());
    if (!records) {
        std::fprintf(stderr, "%s\n", messageWithDetail(records.error()).c_str());
        return 1;
    }
    if (json) {
        nlohmann::ordered_json out;
        out["count"] = records->size();
        out["records"] = nlohmann::ordered_json::array();
        for (const auto& r : *records) {
            out["records"].push_back({{"displayname", r.displayname},
                                      {"filename", r.filename},
                                      {"filesize", r.filesize},
                                      {"hash", r.hash},
                                      {"url", r.url},
                                      {"publishdate", r.publishdate},
                                      {"versionname", r.versionname},
                                      {"https", r.https},
                                      {"logo48", r.logo48}});
        }
        // Texts come from the network: never let invalid UTF-8 abort the output.
        std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                  << '\n';
        return 0;
    }
    // Texts come from the network: terminalSafe (inside alignedTable) keeps them from steering
    // the terminal.
    std::vector<std::vector<std::string>> rows = {
        {"序号", "应用名", "大小", "版本号", "下载链接1"}};
    for (const auto& r : *records)
        rows.push_back({std::to_string(rows.size()), r.displayname,
                        catalogue::sizeDisplay(r.filesize), r.versionname, r.url});
    std::cout << alignedTable(rows);
    std::cout << catalogue::foundCountText(records->size()) << '\n';
    return 0;
}

} // namespace vantorel::cli
