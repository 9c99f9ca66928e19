#include "HistoryServerPusher.h"

namespace quarn::history {

ServerPusher::ServerPusher(std::string historyPath, OpenOptions store, ServerOptions server, Done done)
    : historyPath_(std::move(historyPath)),
      store_(std::move(store)),
      server_(std::move(server)),
      done_(std::move(done)) {
  store_.readOnly = true;
  store_.keepHead = false;
  // A push stops between two transactions when the pusher is asked to stop.
  server_.cancelled = [this] {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  };
  thread_ = std::thread([this] { loop(); });
}

ServerPusher::~ServerPusher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ServerPusher::request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  wake_.notify_all();
}

void ServerPusher::waitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || (!requested_ && !running_); });
}

int ServerPusher::pushes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pushes_;
}

void ServerPusher::loop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      idle_.notify_all();
      wake_.wait(lock, [this] { return stopping_ || requested_; });
      if (stopping_) break;
      requested_ = false;
      running_ = true;
    }
    Result<SyncResult> result = [this]() -> Result<SyncResult> {
      Result<std::unique_ptr<HistoryStore>> local = HistoryStore::open(historyPath_, store_);
      if (!local) return local.error();
      return syncToServer(*local.value(), server_);
    }();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_ = false;
      ++pushes_;
    }
    if (done_) done_(result);
  }
  idle_.notify_all();
}

}  // namespace quarn::history
