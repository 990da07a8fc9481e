#pragma once
// One plain GET with curl for tests of the loopback servers, redirects followed.

#include "net/Curl.h"

#include <string>

namespace vantorel::testing {

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string contentType;
    std::string body;
};

// `range` as curl takes it ("0-99"); empty for the whole body.
Fetched fetch(const std::string& url, const std::string& range = {});

} // namespace vantorel::testing
