// The graph screen (mode "График"): the reference pressure and the channels' pressures, currents and errors
// over time. Not built yet: a page with its title.
#pragma once

#include "Screen.h"

namespace arm {

class GraphScreen : public Screen {
  Q_OBJECT
 public:
  explicit GraphScreen(WorkstationContext& context, QWidget* parent = nullptr);
  // The no-Kesto view: without a usable Kesto module only the reference is plotted (the channel
  // curves, value labels and curve selectors hide).
  void setChannelsVisible(bool visible) { channelsVisible_ = visible; }
  bool channelsVisible() const { return channelsVisible_; }

 private:
  bool channelsVisible_ = true;
};

}  // namespace arm
