// The run history on the command line: the options every history command and the run commands
// take, the store a finished run goes into, and the JSON views of what the history holds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HistoryRecord.h"
#include "HistoryStore.h"
#include "json_out.h"

namespace cli {

// How a stored run is tagged: the store's offer (as-left when the same device was adjusted or
// calibrated since its as-found run that day), or as the operator says.
enum class TagChoice { Auto, AsFound, AsLeft };

struct HistoryArgs {
  std::string path;  // --history FILE; empty: the user's data folder
  TagChoice tag = TagChoice::Auto;
};

// Takes `--history FILE` (and, when `withTag`, `--tag auto|as-found|as-left`) at args[i], moving
// i past its value. False when args[i] is neither.
bool takeHistoryArg(const std::vector<std::string>& args, size_t& i, HistoryArgs& h, bool withTag);

// The history file: --history FILE as given, else the one in the user's data folder, whose folder
// is made when `makeFolder` (a run is to be stored). Throws Failure when neither is known.
std::string historyFile(const HistoryArgs& h, bool makeFolder);

// How the cli opens a history: every read and write compares the anchors kept in the user's settings
// folder; a write into the default history (the one the workstation writes too) remembers its head
// there.
quarn::history::OpenOptions historyOptions(const std::string& file, bool readOnly);

// The history a run is stored in. The store is opened before the run, so a file that cannot be
// written is told at once; the run goes on either way, and its results are printed whether or not
// it could be stored.
class RunHistory {
 public:
  explicit RunHistory(HistoryArgs args) : args_(std::move(args)) {}
  // Opens the store; a problem is said on stderr (the store is tried again at the end).
  void prepare();
  // Stores a finished run, tagged as asked. Returns the results' "history" member: the file, the
  // run id, its tag and hash; or the file and the error, which `error` receives too.
  Json store(quarn::history::RunRecord run, std::string& error);
  // How the next run is tagged (a calibration stores its as-found and its as-left run).
  void setTag(TagChoice tag) { args_.tag = tag; }
  // Stores an adjustment of a device. Returns {"entry"} or {"error"}, which `error` receives too.
  Json storeAdjustment(const quarn::history::Adjustment& adjustment, std::string& error);
  // The line the run's protocol carries about its entry (after store(); says so when not stored).
  std::string protocolFooter() const { return footer_; }

 private:
  bool open(std::string& error);

  HistoryArgs args_;
  std::string file_;
  std::unique_ptr<quarn::history::HistoryStore> store_;
  std::string footer_;
};

// JSON views of the history.
std::string localTimeText(int64_t msUtc, int utcOffsetMin);  // "2026-12-09T10:15:03+03:00"
Json runSummaryJson(const quarn::history::RunSummary& run);
// The same object written straight into `out` as one line (what `history list` prints for each run,
// byte for byte what runSummaryJson would print, without building it).
void appendRunSummaryLine(const quarn::history::RunSummary& run, std::string& out);
Json runRecordJson(const quarn::history::RunRecord& run);
Json storedRunJson(const quarn::history::StoredRun& run);
Json pairJson(const quarn::history::RunPair& pair);

}  // namespace cli
