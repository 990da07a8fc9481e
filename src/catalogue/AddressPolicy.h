#pragma once
// Which addresses from the network may be handed to the desktop's default handler.

#include <string_view>

namespace vantorel::catalogue {

// True only for "http://" and "https://" addresses (scheme compared without regard to case)
// with a host and no control characters or white space. Anything else (file:, a local path,
// a program, javascript:) is refused by the caller with a message.
bool isWebAddress(std::string_view address);

} // namespace vantorel::catalogue
