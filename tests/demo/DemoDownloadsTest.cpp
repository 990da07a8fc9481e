// The offline catalogue's installers: both addresses of an entry, on two servers, serve the same
// bytes with byte ranges, and only for programs of the catalogue; two entries are marked for
// what they show instead.

#include "demo/DemoServices.h"
#include "download/ShareLink.h"
#include "net/Curl.h"

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

struct Reply {
    long status = 0;
    std::string body;
};

size_t append(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

Reply get(const std::string& url, const char* range = nullptr) {
    Reply r;
    auto h = net::makeCurlEasy();
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(h.get(), CURLOPT_PATH_AS_IS, 1L); // "../" reaches the server as sent
    if (range)
        curl_easy_setopt(h.get(), CURLOPT_RANGE, range);
    curl_easy_perform(h.get());
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &r.status);
    return r;
}

} // namespace

TEST(DemoDownloads, BothAddressesServeTheInstallerWithRanges) {
    demo::DemoServices services;
    const catalogue::CatalogueRecord& timer = services.programs().back().record;
    ASSERT_EQ(timer.filename, "tomato_timer.exe");
    const std::string bytes = demo::installerBytes(timer.filename, std::stoull(timer.filesize));

    const Reply whole = get(timer.url);
    EXPECT_EQ(whole.status, 200);
    EXPECT_TRUE(whole.body == bytes);

    EXPECT_TRUE(timer.https.starts_with(services.mirrorBase() + "/mirror/"));
    EXPECT_NE(services.mirrorBase(), services.base());
    const Reply part = get(timer.https, "1000-1999");
    EXPECT_EQ(part.status, 206);
    EXPECT_TRUE(part.body == bytes.substr(1000, 1000));

    EXPECT_EQ(get(services.base() + "/files/not_in_catalogue.exe").status, 404);
    EXPECT_EQ(get(services.mirrorBase() + "/mirror/../files/" + timer.filename).status, 404);
}

TEST(DemoDownloads, MarkedEntriesHaveAnOtherMirrorOrAnExpiringShareLink) {
    demo::DemoServices services;
    auto entry = [&](demo::DemoKind kind) {
        for (const demo::DemoProgram& p : services.programs())
            if (p.kind == kind)
                return p.record;
        return catalogue::CatalogueRecord{};
    };

    const catalogue::CatalogueRecord other = entry(demo::DemoKind::OtherMirror);
    const std::string bytes = demo::installerBytes(other.filename, std::stoull(other.filesize));
    // The last 4 KiB from an open range: as many bytes as the file has, and others.
    const std::string tail = std::to_string(bytes.size() - 4096) + "-";
    EXPECT_TRUE(get(other.url, tail.c_str()).body == bytes.substr(bytes.size() - 4096));
    const Reply mirrored = get(other.https, tail.c_str());
    EXPECT_EQ(mirrored.body.size(), 4096u);
    EXPECT_FALSE(mirrored.body == bytes.substr(bytes.size() - 4096));

    const catalogue::CatalogueRecord expiring = entry(demo::DemoKind::ExpiringLink);
    services.applyToConfig();
    auto direct = download::resolveShareLink(expiring.url);
    demo::DemoServices::removeFromConfig();
    ASSERT_TRUE(direct.ok()) << expiring.url;
    EXPECT_TRUE(direct->starts_with(services.base() + "/file/" + expiring.filename + "?sig="));
    const std::string head = get(*direct, "0-65535").body;
    EXPECT_TRUE(
        head ==
        demo::installerBytes(expiring.filename, std::stoull(expiring.filesize)).substr(0, 65536));
}
