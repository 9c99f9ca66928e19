// The push of a workstation's history to its lab server in the background: a host asks for a push
// at start and after each stored run, and carries on; one thread pushes, a request made while a push
// runs is served by one more push after it (requests coalesce), and each push's outcome goes to a
// callback (on the pusher's thread: a host with an event loop passes it on to its own thread). The
// history file is opened anew, read-only, for each push, so the host's own writes are never held up.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "HistoryServer.h"
#include "HistoryStore.h"

namespace quarn::history {

class ServerPusher {
 public:
  using Done = std::function<void(const Result<SyncResult>&)>;
  // `store` is how the history is opened for each push (path and anchors); `server` where to.
  ServerPusher(std::string historyPath, OpenOptions store, ServerOptions server, Done done);
  // Stops: a push under way ends after its current transaction (what was committed stays; the next
  // push goes on from there).
  ~ServerPusher();
  ServerPusher(const ServerPusher&) = delete;
  ServerPusher& operator=(const ServerPusher&) = delete;

  // Asks for a push; returns at once.
  void request();
  // Waits until no push is asked for or under way (for tests and for an orderly exit).
  void waitIdle();
  int pushes() const;  // pushes made so far

 private:
  void loop();

  std::string historyPath_;
  OpenOptions store_;
  ServerOptions server_;
  Done done_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  bool requested_ = false, running_ = false, stopping_ = false;
  int pushes_ = 0;
  std::thread thread_;
};

}  // namespace quarn::history
