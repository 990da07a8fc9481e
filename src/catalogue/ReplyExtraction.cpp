#include "catalogue/ReplyExtraction.h"

#include "script/RegexObject.h"

namespace vantorel::catalogue {

Result<std::vector<CatalogueRecord>> extractRecords(std::string_view reply) {
    script::RegexObject regex;
    if (!regex.create(kExtractionPattern, false, false, false, true))
        return regex.lastError();
    Result<int> count = regex.tryExecute(reply);
    if (!count)
        return makeError("搜索结果无法解析：" + count.error().message);
    std::vector<CatalogueRecord> records;
    records.reserve(static_cast<std::size_t>(*count));
    for (int m = 0; m < *count; ++m) {
        auto group = [&](int g) { return regex.submatch_text(m, g); };
        records.push_back(CatalogueRecord{group(1), group(2), group(3), group(4), group(5),
                                          group(6), group(7), group(8), group(9)});
    }
    return records;
}

} // namespace vantorel::catalogue
