// quarn-cli: drives libquarn without the workstation. JSON lines on stdout for machines, progress
// and errors on stderr for people. Exit 0 success, 2 no calibrator found / timed out, 1 any other
// failure.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "session.h"

namespace {

const char kUsage[] =
    "usage: quarn-cli [--port PATH|N|all] [--model quarn|brenk] [--sim] [--sim-arg ARG]...\n"
    "                 [--timeout S] [--library FILE] COMMAND [ARGS]\n"
    "  --sim-virtual: the simulator inside quarn-cli in virtual time (no waiting; the timeouts count\n"
    "                 virtual seconds), with the bench options of --sim-arg\n"
    "commands:\n"
    "  probe                      connect and print the calibrator's identification and settings\n"
    "  measure [--cycles N]       print one object per measuring cycle\n"
    "  control [--input on|off] [--vent on|off] [--mode N] [--setpoint KPA]\n"
    "  settings [--units N] [--decimals N] [--averaging N] [--ready-band F] ... (read; write given)\n"
    "  verify PROJECT.aip [--set K] [--report OUT.xlsx [--pdf]] [--template T.xlsx] [--ref-upper KPA]\n"
    "                     [--run-timeout S]   verification run; prints one object with the results\n"
    "  relay PROJECT.aip [--set K] [--run-timeout S]   relay check; prints the eight relay records\n"
    "  verify, relay and calibrate refuse a project changed since it was saved unless given --accept-edited\n"
    "  hart search|info|write|check-current|trim-current|trim-sensor|zero|reset|restore|exit-fixed [ARGS]\n"
    "       HART jobs (docs/hart_procedures.md); --ch N or LIST (1..4), --run-timeout S\n"
    "  verify and relay store the finished run in the run history: [--history FILE]\n"
    "       (default: the user's data folder) [--tag auto|as-found|as-left]\n"
    "  calibrate PROJECT.aip [--always] [--report OUT.xlsx [--template T.xlsx] [--pdf]] [--run-timeout S]\n"
    "       as-found run, HART sensor and current trims of the devices that need them, as-left run;\n"
    "       exit 0 when every device that needed it is adjusted and suitable, 3 when one is not\n"
    "  history list [--serial S] [--since DATE] [--device NAME] [--all]   one JSON line per run\n"
    "  history show RUN | pair SERIAL | report RUN --report OUT.xlsx [--template T.xlsx]\n"
    "  history check [--protocol FILE.xlsx]... | backup OUT.db\n"
    "  history sync [--server URI] [--workstation ID]   push the entries a lab server lacks\n"
    "  history check --server URI | list --server URI [filters]   the lab server's history\n"
    "       what the run history holds; each takes --history FILE (docs/history.md)\n"
    "  history show RUN | pair SERIAL | report RUN --report OUT.xlsx --workstation ID [--server URI]\n"
    "       one workstation's run read from the lab server, as the local command prints it\n";

void onSignal(int) { cli::Host::requestStop(); }

}  // namespace

namespace cli {
// Verification run and relay check of a project (cmd_verify.cpp).
int cmdVerify(Session& s, const std::vector<std::string>& args);
int cmdRelay(Session& s, const std::vector<std::string>& args);
int cmdCalibrate(Session& s, const std::vector<std::string>& args);
// HART jobs on the transmitters (cmd_hart.cpp).
int cmdHart(Session& s, const std::vector<std::string>& args);
// What the run history holds (cmd_history.cpp).
int cmdHistory(Session& s, const std::vector<std::string>& args);
}  // namespace cli

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  cli::Options opts;
  size_t i = 0;
  try {
    for (; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a.rfind("--", 0) != 0) break;
      if (a == "--help" || a == "-h") {
        std::fputs(kUsage, stdout);
        return cli::kOk;
      } else if (a == "--port") {
        opts.port = cli::takeValue(args, i);
      } else if (a == "--model") {
        const std::string m = cli::takeValue(args, i);
        if (m == "quarn")
          opts.model = 1;
        else if (m == "brenk")
          opts.model = 0;
        else
          throw cli::Failure{cli::kFailure, "--model takes quarn or brenk"};
      } else if (a == "--sim") {
        opts.sim = true;
      } else if (a == "--sim-virtual") {
        opts.sim = true;
        opts.simVirtual = true;
      } else if (a == "--sim-arg") {
        opts.simArgs.push_back(cli::takeValue(args, i));
      } else if (a == "--timeout") {
        opts.timeoutS = cli::parseNumber(cli::takeValue(args, i), "--timeout");
        if (opts.timeoutS <= 0 || opts.timeoutS > 86400)
          throw cli::Failure{cli::kFailure, "--timeout takes seconds above 0, at most 86400"};
      } else if (a == "--library") {
        opts.library = cli::takeValue(args, i);
      } else {
        throw cli::Failure{cli::kFailure, "unknown option " + a};
      }
    }
    if (i >= args.size()) {
      std::fputs(kUsage, stderr);
      return cli::kFailure;
    }
    const std::string command = args[i];
    const std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());

    using Command = int (*)(cli::Session&, const std::vector<std::string>&);
    const std::map<std::string, Command> commands{
        {"probe", cli::cmdProbe},         {"measure", cli::cmdMeasure}, {"control", cli::cmdControl},
        {"settings", cli::cmdSettings},   {"verify", cli::cmdVerify},   {"relay", cli::cmdRelay},
        {"calibrate", cli::cmdCalibrate}, {"hart", cli::cmdHart},       {"history", cli::cmdHistory},
    };
    const auto it = commands.find(command);
    if (it == commands.end()) throw cli::Failure{cli::kFailure, "unknown command " + command};

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    // A signal ends the command as its own end does: the library's unload takes the calibrator out
    // of remote operation, and the simulator is ended after it.
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    cli::Session session(opts);
    const int status = it->second(session, rest);
    // A simulator that did not end cleanly (a crash, a sanitizer report) makes the run suspect.
    if (!session.close() && status == cli::kOk) return cli::kFailure;
    return status;
  } catch (const cli::Failure& f) {
    std::fprintf(stderr, "quarn-cli: %s\n", f.reason.c_str());
    return f.status;
  }
}
