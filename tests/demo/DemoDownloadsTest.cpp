// The offline catalogue's installers: both addresses of an entry serve the same bytes, with
// byte ranges, and only for programs of the catalogue.

#include "demo/DemoServices.h"
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

    const Reply part = get(timer.https, "1000-1999");
    EXPECT_EQ(part.status, 206);
    EXPECT_TRUE(part.body == bytes.substr(1000, 1000));

    EXPECT_EQ(get(services.base() + "/files/not_in_catalogue.exe").status, 404);
    EXPECT_EQ(get(services.base() + "/mirror/../files/" + timer.filename).status, 404);
}
