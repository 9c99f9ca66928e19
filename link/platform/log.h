// The library's debug log: lines go to the host's sink (quarn_set_log), or to stderr when the
// environment variable QUARN_LOG is 1, else nowhere.
#pragma once

// Hands one line (Windows-1251 text) to the sink.
void quarn_log_line(const char* line);
