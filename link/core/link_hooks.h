/* Hooks the core calls into the other areas of the library at start-up, shut-down and task start.
 *
 * The core refers to them weakly: a library built without the area simply skips the hook. They are
 * internal to the library (hidden visibility), with C linkage so the weak reference and the
 * definition meet by name. */
#ifndef QUARN_LINK_HOOKS_H
#define QUARN_LINK_HOOKS_H

#include "../platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QUARN_HOOK __attribute__((visibility("hidden")))

/* End of record initialisation (InitDev, so also InitDll): reset the UAIL receiver and store its
 * address into Dev.uailPtr (InitDev has just cleared the record). */
QUARN_HOOK void quarn_link_startup(void);

/* Shut-down after the timer has been stopped: switch the calibrator out of remote operation and
 * release the calibrator port. It runs from the library's destructor too, possibly at process exit
 * after C++ static objects have been destroyed: it must use only plain (trivially destructible) state
 * and must never block except through quarn_sleep_ms. */
QUARN_HOOK void quarn_link_shutdown(void);

/* SetTask, after its 200 ms pause: discard both buffers of the calibrator port in use. */
QUARN_HOOK void quarn_link_purge(void);

/* The relay check's defaults, once from InitDev (after the readiness settings have their initial
 * values). A library function of the relay check; exported like the other procedures. */
QUARN_API void InitRelay(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_LINK_HOOKS_H */
