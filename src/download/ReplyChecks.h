#pragma once
// What a download makes of a server's reply: its status (gone, worth a retry, the words for the
// user) and whether its validators prove it is the version the probe saw.

#include "common/Result.h"
#include "download/ResumeState.h"
#include "net/ReplyHead.h"

#include <string>

namespace vantorel::download {

// What an error reply means for the download: 408, 429 and 5xx ServerBusy (worth a retry);
// 404 and 410 Gone (what was fetched of the file is of no more use); 401 and 403 Expired;
// 407 Proxy; any other Other.
FailureKind statusKind(long status);
std::string httpMessage(long status);
// The failure of an error reply, of its status's kind.
Error httpError(long status);

Validators validatorsOf(const net::ReplyHead& head);

// Whether a reply is the version the probe saw: it carries every validator the probe had, each
// the same. A reply that lacks one could come from anywhere (a mirror reached by a redirect, a
// server that switched the file and dropped its validators), so it proves nothing.
bool provesSameVersion(const Validators& probe, const net::ReplyHead& reply);

} // namespace vantorel::download
