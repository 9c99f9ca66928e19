// What the run commands (verify, relay, calibrate) share: the parameter check before connecting, the
// built-in simulator's operator, the reference's upper limit kept on every measurement, and the
// host's part of a history entry.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include "CalibratorCatalogue.h"
#include "ProjectModel.h"
#include "ReferenceLimit.h"
#include "RunBuilder.h"
#include "quarn/library_binding.h"
#include "session.h"

namespace cli {

// The project file of a run. A file cut off or damaged is refused; one changed outside the program
// since it was saved is used only with `acceptEdited` (--accept-edited: nobody is there to ask); a
// note (a file without the checksum, an accepted change) goes to stderr.
quarn::data::Project loadRunProject(const std::string& path, bool acceptEdited);

// The parameters the screen would refuse, told before any connection is made. The calibrator's
// working limits are checked again once it is linked.
void refuseInvalidParameters(const quarn::data::Project& project, bool relayMode);

// When and where the run was made; the run's snapshot gives the rest of its history entry.
quarn::history::HostContext hostContext(int64_t startedAtMs);

// The operator of the built-in Quarn simulator: brings the pressure to every new target, so a Quarn
// run finishes unattended. quarn-sim reads its operator commands from its standard input, which it
// inherits from this process while it is started; the simulator inside this process (--sim-virtual)
// is told directly.
class SimOperator {
 public:
  // Call before the simulator starts; adds its command option.
  void prepare(Options& opts) {
    if (opts.simVirtual) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    savedStdin_ = dup(STDIN_FILENO);
    if (savedStdin_ < 0 || dup2(fds[0], STDIN_FILENO) < 0) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    close(fds[0]);
    write_ = fds[1];
    opts.simArgs.push_back("--stdin-control");
  }
  // Call once the simulator runs: this process gets its own standard input back.
  void started(Session& s) {
    if (s.inProcess && s.opts.model == 1) bench_ = &s.inProcess->engine();
    started();
  }
  void started() {
    if (savedStdin_ >= 0) {
      dup2(savedStdin_, STDIN_FILENO);
      close(savedStdin_);
      savedStdin_ = -1;
    }
  }
  void follow(float targetKPa) {
    if (std::isnan(targetKPa) || targetKPa == last_) return;
    if (bench_) {
      last_ = targetKPa;
      bench_->operatorSetsPressure(targetKPa);
      return;
    }
    if (write_ < 0) return;
    last_ = targetKPa;
    char line[64];
    const int n = std::snprintf(line, sizeof line, "target %.6g\n", static_cast<double>(targetKPa));
    if (n > 0 && ::write(write_, line, static_cast<size_t>(n)) != n) {
      close(write_);
      write_ = -1;
    }
  }
  ~SimOperator() {
    started();
    if (write_ >= 0) close(write_);
  }

 private:
  int savedStdin_ = -1;
  int write_ = -1;
  quarnsim::Engine* bench_ = nullptr;
  float last_ = NAN;
};

// The upper limit of the reference in use for the uncertainty (refUpper), kept as the workstation
// keeps it: the data layer's rule over the calibrator catalogue beside the program (or in the
// working folder), on every measurement, so the point the library records next has the module now in
// use. `--ref-upper` fixes it instead. Each reason the catalogue's limit cannot be taken is told once.
class ReferenceLimitKeeper {
 public:
  explicit ReferenceLimitKeeper(std::optional<float> fixed) : fixed_(fixed) {}
  // After connecting: the catalogue of the calibrator that answered.
  void load(const TDev& d) {
    if (fixed_) return;
    const bool brenk = d.model == 0;
    const quarn::data::Result<quarn::data::TModelRec> model = quarn::data::readModelCatalogue(
        quarn::data::cataloguePath(quarn::data::modelCatalogueName(brenk), quarn::host::programFolder()),
        quarn::data::catalogueModelText(d, brenk));
    if (model)
      model_ = *model;
    else
      whyNoModel_ = model.why();
  }
  // Writes refUpper; returns what the operator has not been told yet ("" when nothing).
  std::string apply(TDev& d) {
    if (fixed_) {
      d.refUpper = *fixed_;
      return {};
    }
    return quarn::data::applyReferenceLimit(d, model_ ? &*model_ : nullptr, whyNoModel_, told_);
  }

 private:
  std::optional<float> fixed_;
  std::optional<quarn::data::TModelRec> model_;
  std::string whyNoModel_;
  std::set<std::string> told_;
};

}  // namespace cli
