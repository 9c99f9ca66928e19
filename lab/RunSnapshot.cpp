#include "RunSnapshot.h"

#include <cstring>
#include <utility>

#include "quarn/cp1251.h"

namespace quarn::data {

namespace {

// What the run works with and nobody may change under it: restored after every copy of the live
// record.
struct RunInputs {
  uint32_t model;
  TSettings settings;
  uint32_t handInput;
  uint32_t povMode;
  TPovHeader povHeader;
  int32_t cDigits;
  TDevChannel devCh[4];
  float povLo;
  float povSpan;
  TPovPoint points[POV_POINTS_MAX];
  uint8_t relayOn[2];
  float relayP[2];
  float relayHyst[2];

  explicit RunInputs(const TDev& d)
      : model(d.model),
        settings(d.settings),
        handInput(d.handInput),
        povMode(d.povMode),
        povHeader(d.povHeader),
        cDigits(d.cDigits),
        povLo(d.povLo),
        povSpan(d.povSpan) {
    std::memcpy(devCh, d.devCh, sizeof devCh);
    std::memcpy(points, d.points, sizeof points);
    std::memcpy(relayOn, d.relayOn, sizeof relayOn);
    std::memcpy(relayP, d.relayP, sizeof relayP);
    std::memcpy(relayHyst, d.relayHyst, sizeof relayHyst);
  }
  void restore(TDev& d) const {
    d.model = model;
    d.settings = settings;
    d.handInput = handInput;
    d.povMode = povMode;
    d.povHeader = povHeader;
    d.cDigits = cDigits;
    std::memcpy(d.devCh, devCh, sizeof devCh);
    d.povLo = povLo;
    d.povSpan = povSpan;
    std::memcpy(d.points, points, sizeof points);
    std::memcpy(d.relayOn, relayOn, sizeof relayOn);
    std::memcpy(d.relayP, relayP, sizeof relayP);
    std::memcpy(d.relayHyst, relayHyst, sizeof relayHyst);
  }
};

std::unique_ptr<TDev> copyOf(const TDev& dev) {
  auto copy = std::make_unique<TDev>();
  std::memcpy(copy.get(), &dev, sizeof(TDev));
  return copy;
}

}  // namespace

RunSnapshot::RunSnapshot(const TDev& dev, const Project& project, ProtocolFields fields)
    : record_(copyOf(dev)), fields_(std::move(fields)), pointSet_(project.selectedSet + 1) {
  for (int c = 0; c < kChannelCount; ++c) {
    const TDevChannel& ch = dev.devCh[c];
    if (!ch.enabled) continue;
    const std::string name = text::cp1251ToUtf8(std::string(ch.name, strnlen(ch.name, sizeof ch.name)));
    methods_[static_cast<std::size_t>(c)] = methodDocument(project.methods, name);
  }
}

RunSnapshot::RunSnapshot(const TDev& dev, ProtocolFields fields,
                         std::array<std::string, kChannelCount> channelMethods, int pointSet)
    : record_(copyOf(dev)),
      fields_(std::move(fields)),
      methods_(std::move(channelMethods)),
      pointSet_(pointSet) {}

RunSnapshot::RunSnapshot(const RunSnapshot& other)
    : record_(copyOf(*other.record_)),
      fields_(other.fields_),
      methods_(other.methods_),
      pointSet_(other.pointSet_) {}

RunSnapshot& RunSnapshot::operator=(const RunSnapshot& other) {
  if (this != &other) {
    record_ = copyOf(*other.record_);
    fields_ = other.fields_;
    methods_ = other.methods_;
    pointSet_ = other.pointSet_;
  }
  return *this;
}

RunSnapshot::~RunSnapshot() = default;

void RunSnapshot::follow(const TDev& live) {
  if (&live == record_.get()) return;
  const RunInputs inputs(*record_);
  std::memcpy(record_.get(), &live, sizeof(TDev));
  inputs.restore(*record_);
}

void RunSnapshot::deleteResult(int index) {
  if (index >= 0 && index < POV_POINTS_MAX) std::memset(&record_->results[index], 0, sizeof(TPovResult));
}

void RunSnapshot::deleteAllResults() { std::memset(record_->results, 0, sizeof record_->results); }

std::string RunSnapshot::methodStatement() const {
  std::string statement;
  for (const std::string& document : methods_)
    if (!document.empty() && statement.find(document) == std::string::npos)
      statement += (statement.empty() ? "" : "; ") + document;
  return statement;
}

bool RunSnapshot::anyChannelEnabled() const {
  for (const TDevChannel& ch : record_->devCh)
    if (ch.enabled) return true;
  return false;
}

}  // namespace quarn::data
