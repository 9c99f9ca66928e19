// The UAIL link's hooks of the library's life, as its area (link/areas.h) hands them to the core.
#pragma once

// End of record initialisation: reset the UAIL receiver and store its address into Dev.uailPtr.
void quarn_link_startup();
// Shut-down after the timer has stopped: the calibrator out of remote operation, every port released.
// It may run at process exit: plain state only, and no waiting except through quarn_sleep_ms.
void quarn_link_shutdown();
// SetTask, after its pause: discard both buffers of the calibrator port in use.
void quarn_link_purge();
