#pragma once
// A share service's pages for the links it publishes: each share page embeds a download frame,
// the frame page holds the four request values, and the AJAX endpoints answer with
// {"dom": ..., "url": ...}, so that dom + "/file/" + url is the file's direct address.

#include "demo/DemoServices.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantorel::demo {

struct SharedFile {
    std::string sharePath;  // the link's path on the share host, e.g. "/iVantorel310"
    std::string title;      // the file name the share page shows
    std::string frameQuery; // the frame page is "/fn?" + frameQuery
    // The frame page's values, which the AJAX requests must send back.
    std::string action;
    std::string fileId;
    std::string sign;
    std::string key;
    // The "url" of each answer: a fixed token, or a freshly signed one each time.
    std::function<std::string()> token;
};

class ShareSite {
  public:
    // `dom`: the "dom" of every answer, the server that serves the files.
    explicit ShareSite(std::string dom) : dom_(std::move(dom)) {}

    // Every file is added before the routes.
    void add(SharedFile file) { files_.push_back(std::move(file)); }
    // The share pages, "/fn" and the two AJAX endpoints of `site`.
    static void addRoutes(Router& router, std::shared_ptr<const ShareSite> site);

  private:
    HttpResponse sharePage(const HttpRequest& request) const;
    HttpResponse framePage(const HttpRequest& request) const;
    HttpResponse answer(const HttpRequest& request) const;

    std::string dom_;
    std::vector<SharedFile> files_;
};

} // namespace vantorel::demo
