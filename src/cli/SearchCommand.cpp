#include "catalogue/CatalogueSearch.h"
#include "catalogue/DisplayForms.h"
#include "cli/Commands.h"
#include "common/Config.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

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
        else {
            std::fprintf(stderr, "用法: vantorel-cli search KEYWORD [--json]\n");
            return 2;
        }
    }
    if (!haveKeyword) {
        std::fprintf(stderr, "用法: vantorel-cli search KEYWORD [--json]\n");
        return 2;
    }
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
    auto oneLine = [](std::string text) {
        for (char& c : text)
            if (c == '\r' || c == '\n' || c == '\t')
                c = ' ';
        return text;
    };
    std::cout << "序号\t应用名\t大小\t版本号\t下载链接1\n";
    std::size_t n = 0;
    for (const auto& r : *records)
        std::cout << ++n << '\t' << oneLine(r.displayname) << '\t'
                  << catalogue::sizeDisplay(r.filesize) << '\t' << r.versionname << '\t' << r.url
                  << '\n';
    std::cout << catalogue::foundCountText(records->size()) << '\n';
    return 0;
}

} // namespace vantorel::cli
