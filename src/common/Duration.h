#pragma once
// A span of time written for the user, as a clock shows it.

#include <string>

namespace vantorel {

// Rounded to the second: "02:05" under an hour, "1:02:03" from an hour on.
std::string formatDuration(double seconds);

} // namespace vantorel
