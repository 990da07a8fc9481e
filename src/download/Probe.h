#pragma once
// The probe: what the server says about the file before a byte of it is fetched, its length,
// its validators, whether it serves ranges, and where the address finally led.

#include "common/Result.h"
#include "download/DownloadRun.h"
#include "download/ResumeState.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vantorel::download {

struct Probe {
    std::optional<std::uint64_t> length;
    bool coded = false;
    bool rangesRefused = false;
    bool webPage = false;
    Validators validators;
    std::string url;
    Seconds wait{}; // from the request to the reply (see net::replyWait)
};

// The probe; where a file is expected, a reply that says it is a web page (an error or login
// page served in place of the file) ends the download before a byte of it is fetched.
// `url` is the address to ask (a source's direct address); `background`: asked beside the
// workers, it ends once the download settles.
Result<Probe> probe(DownloadRun& job, const std::string& url, bool background = false);

} // namespace vantorel::download
