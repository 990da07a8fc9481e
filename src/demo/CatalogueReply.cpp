#include "demo/CatalogueReply.h"

namespace vantorel::demo {

std::string catalogueEntry(const catalogue::CatalogueRecord& r) {
    return "<soft>\n  <displayname><![CDATA[" + r.displayname + "]]></displayname>\n  <filename>" +
           r.filename + "</filename>\n  <filesize>" + r.filesize + "</filesize>\n  <hash>" +
           r.hash + "</hash>\n  <url><![CDATA[" + r.url + "]]></url>\n  <publishdate>" +
           r.publishdate + "</publishdate>\n  <versionname>" + r.versionname +
           "</versionname>\n  <https><![CDATA[" + r.https + "]]></https>\n  <logo48>" + r.logo48 +
           "</logo48>\n</soft>\n";
}

std::string catalogueReply(std::span<const catalogue::CatalogueRecord> records) {
    std::string reply =
        "searchCallback({\"retCode\":0,\"count\":" + std::to_string(records.size()) +
        ",\"xml\":'<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<softlist>\n";
    for (const auto& r : records)
        reply += catalogueEntry(r);
    reply += "</softlist>'});";
    return reply;
}

} // namespace vantorel::demo
