#include "platform/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/quarn_host.h"
#include "quarn/cp1251.h"

namespace {

quarn_log_fn g_sink = nullptr;

bool stderrRequested() {
  const char* env = std::getenv("QUARN_LOG");
  return env && std::strcmp(env, "1") == 0;
}

}  // namespace

void quarn_log_line(const char* line) {
  if (g_sink) {
    g_sink(line);
    return;
  }
  if (stderrRequested()) {
    const std::string text = quarn::text::cp1251ToUtf8(line);
    std::fprintf(stderr, "quarn: %s\n", text.c_str());
  }
}

extern "C" QUARN_API void quarn_set_log(quarn_log_fn sink) { g_sink = sink; }
