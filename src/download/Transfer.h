#pragma once
// One libcurl handle of a download's worker, prepared through the network session with the
// download's common settings and reused for every transfer of its worker, so that the
// connection stays open from range to range.

#include "download/DownloadRun.h"
#include "net/Curl.h"
#include "net/ReplyHead.h"

#include <optional>
#include <string>

namespace vantorel::download {

class Transfer {
  public:
    // `background`: the transfer is not a worker's; it ends too once the download settles.
    explicit Transfer(DownloadRun& job, bool background = false)
        : job_(job), easy_(net::makeCurlEasy()), background_(background) {}

    CURL* handle() const { return easy_.get(); }
    const net::ReplyHead& head() const { return head_; }
    // What failed, in the user's words, with libcurl's own as the detail.
    Error failure(CURLcode code) const;
    // The next transfer opens a new connection (the last one was too slow).
    void freshConnection() { fresh_ = true; }
    // Seconds of the TCP handshake of the connection last opened.
    double roundTrip() const { return roundTrip_; }
    // Whether the reply under way came through a redirect to another server than `url`'s.
    bool redirectedAwayFrom(const std::string& url) const;

    // GET of `url` with the header block; body bytes go to `onBody`. `decode`: a coded body is
    // decoded (else its bytes arrive as they came).
    CURLcode get(const std::string& url, const std::string& headerBlock, curl_write_callback onBody,
                 void* user, bool decode);

  private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    // The speed floor of this connection: under it for the floor's time (not counting time the
    // speed limit held the download back), the transfer ends and its range goes on over a new
    // connection. `received`: the body bytes of this transfer so far.
    bool underFloor(std::uint64_t received);

    DownloadRun& job_;
    net::CurlEasy easy_;
    net::ReplyHead head_;
    char errorText_[CURL_ERROR_SIZE] = {};
    std::string proxy_;                  // what the last transfer went through; empty: direct
    std::optional<Error> unusableProxy_; // the last transfer could not start: its proxy is bad
    const bool background_ = false;
    bool fresh_ = false;
    double roundTrip_ = 0;
    bool tooSlow_ = false;
    Clock::time_point floorFrom_;
    std::uint64_t floorBytes_ = 0;
};

} // namespace vantorel::download
