// Access logs read in one pass: plain or gzip-compressed (several members one after another
// too, as rotated logs are often joined), split into lines for the funnel.
#pragma once

#include <string>

#include "tools/ticks/TickFunnel.h"

// Longest line read; longer ones are counted as malformed and skipped (nginx and Apache refuse
// request lines of more than 8 KiB by default, so a tick never comes near this).
inline constexpr size_t kMaxLineBytes = 64 * 1024;

// Reads the log open on fd to its end and gives each line to funnel. Returns false with problem
// set when the data could not be read or a compressed stream is damaged or cut short; every line
// read before that has been given to the funnel. Does not close fd.
bool ReadLog(int fd, TickFunnel& funnel, std::string& problem);
