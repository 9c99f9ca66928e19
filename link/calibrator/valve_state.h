// Where the Quarn's valve states in the record come from. A connection starts them at zero; until the
// device has reported them (the measuring cycle's state word, the valve command's answer) or the host
// has asked for a change, those zeros are no one's wish and must not be sent as a valve command.
#pragma once

#include <cstdint>

namespace quarn::cal {

// The valve states in the record are the device's since the connection.
inline bool valveStatesReported = false;
// `controlMode` when the connection was made: a different value is the host asking for its valves.
inline int32_t controlModeAtConnect = 0;

}  // namespace quarn::cal
