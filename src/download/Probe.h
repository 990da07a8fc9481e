#pragma once
// The probe: what the server says about the file before a byte of it is fetched, its length,
// its validators, whether it serves ranges, where the address finally led, and what it announces
// of the file (Announced.h).

#include "common/Result.h"
#include "download/Checksum.h"
#include "download/DownloadRun.h"
#include "download/ResumeState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::download {

struct Probe {
    std::optional<std::uint64_t> length;
    bool coded = false;
    bool rangesRefused = false;
    bool webPage = false;
    bool metalink = false; // a metalink document: it describes files, it is none of them
    Validators validators;
    std::string url;
    Seconds wait{};                      // from the request to the reply (see net::replyWait)
    std::vector<std::string> duplicates; // mirrors the server names (Link rel=duplicate)
    // The file's digest as the server announces it; none for a coded reply, whose digest is
    // of the coded bytes, not of the file saved.
    std::optional<Checksum> digest;
};

// The probe; where a file is expected, a reply that says it is a web page (an error or login
// page served in place of the file) ends the download before a byte of it is fetched. So does a
// metalink document (FailureKind::Metalink): a front end downloads the files it describes.
// `url` is the address to ask (a source's direct address); `background`: asked beside the
// workers, it ends once the download settles.
Result<Probe> probe(DownloadRun& job, const std::string& url, bool background = false);

} // namespace vantorel::download
