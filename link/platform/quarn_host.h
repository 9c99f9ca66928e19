/* Host-side additions of libquarn (prefix quarn_): clock injection, timer integration, the port map
 * and the virtual-port backend. The names of the workstation's surface (SetTask, Dev, ...) are
 * declared in the core headers; these are this platform's own. */
#ifndef QUARN_HOST_H
#define QUARN_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library's exported surface: visible names of the shared library, the export table of the DLL. */
#if defined(QUARN_BUILDING_LIBRARY)
#if defined(_WIN32)
#define QUARN_API __declspec(dllexport)
#else
#define QUARN_API __attribute__((visibility("default")))
#endif
#else
#define QUARN_API
#endif

/* SetTask and TimerProc use the system's calling convention on 32-bit Windows (the callee removes
 * the arguments; exported as SetTask@8 and TimerProc@16), so 32-bit callers and the system's timer
 * can call them; every other platform has one convention only. A host that calls SetTask through a
 * pointer declares the pointer with QUARN_STDCALL. */
#if defined(_WIN32) && defined(__i386__)
#define QUARN_STDCALL __stdcall
#else
#define QUARN_STDCALL
#endif

/* ---- Time ---------------------------------------------------------------------------------- */

/* A clock: the millisecond tick (monotonic, truncated to 32 bits) and a plain sleep. */
typedef struct quarn_clock {
  void* ctx;
  uint32_t (*now_ms)(void* ctx);
  void (*sleep_ms)(void* ctx, uint32_t ms);
} quarn_clock;

/* Installs a clock (copied); null restores the system clock. */
QUARN_API void quarn_set_clock(const quarn_clock* clock);
/* The tick of the installed clock. */
QUARN_API uint32_t quarn_now_ms(void);
/* Sleeps on the installed clock (a virtual clock advances at once). */
QUARN_API void quarn_sleep_ms(uint32_t ms);
/* Wrap-safe "a is at or after b" for 32-bit ticks. */
QUARN_API int quarn_tick_reached(uint32_t a, uint32_t b);

/* ---- Timer --------------------------------------------------------------------------------- */

/* Descriptor of the library's periodic timer (a timerfd), readable when the timer expired. It stays
 * open while the timer is disarmed, so a watcher never sees a closed descriptor. */
QUARN_API int quarn_timer_fd(void);
/* Called by the host when the descriptor is readable: consumes the expirations and calls TimerProc
 * once with the current tick. Returns the number of expirations read (0 when none were due). */
QUARN_API int quarn_timer_dispatch(void);

/* ---- Ports --------------------------------------------------------------------------------- */

#define QUARN_PORT_MAX 253

/* A virtual port: an in-process peer standing in for a serial device. Every call carries the
 * library's current tick so the peer can time its answers. */
typedef struct quarn_vport_ops {
  void* ctx;
  /* 0 when the port can be opened, -1 when it refuses (busy / absent). */
  int (*open)(void* ctx);
  void (*close)(void* ctx);
  /* Line mode: speed in baud, parity 0 none / 1 odd, stop bits 1 or 2. */
  void (*set_line)(void* ctx, uint32_t baud, int parity, int stop_bits);
  /* Takes up to n bytes; returns how many were taken, -1 when the device is gone. */
  int (*write)(void* ctx, const uint8_t* data, uint32_t n, uint32_t now_ms);
  /* Bytes waiting to be read now, -1 when the device is gone. */
  int (*available)(void* ctx, uint32_t now_ms);
  /* Reads up to max waiting bytes; returns the count, -1 when the device is gone. */
  int (*read)(void* ctx, uint8_t* buf, uint32_t max, uint32_t now_ms);
  /* Discards what waits in both directions. */
  void (*purge)(void* ctx);
} quarn_vport_ops;

/* Maps a port number (1..253) to a device path, e.g. a pseudo-terminal. 0 ok, -1 bad number. */
QUARN_API int quarn_port_register_path(uint32_t port_no, const char* path);
/* Plugs a virtual port in for a number (ops copied). 0 ok, -1 bad number. */
QUARN_API int quarn_port_register_virtual(uint32_t port_no, const quarn_vport_ops* ops);
/* Removes a registration. */
QUARN_API void quarn_port_unregister(uint32_t port_no);
/* Rebuilds the map of present serial devices (registrations stay). Returns the number mapped. */
QUARN_API int quarn_port_rescan(void);
/* Device path of a port number, "" when unmapped (virtual ports give "virtual:N"). The text
 * stays valid until the next map change. */
QUARN_API const char* quarn_port_path(uint32_t port_no);
/* Number of a device path, 0 when unmapped. */
QUARN_API uint32_t quarn_port_number(const char* path);

/* ---- The measuring cycle ------------------------------------------------------------------ */

/* What the measuring cycle under way, or the last one once it has ended, has read. The record keeps
 * older values where a cycle reads none (an error answer leaves pRef NaN but the statistics as they
 * were; a failed Kesto reading leaves the currents and the channels' values of an earlier cycle), so
 * a host that shows one cycle's readings asks which of them that cycle read. Cleared when a cycle
 * starts. */
#define QUARN_CYCLE_REFERENCE 1u /* a reference pressure: pRef, refStat */
#define QUARN_CYCLE_KESTO 2u     /* the Kesto module's currents: kestoCurrent */
#define QUARN_CYCLE_CHANNELS 4u  /* the channels' values converted from them: ch[k] */
QUARN_API uint32_t quarn_cycle_readings(void);

/* The error block of the last answer the calibrator's receiver took: the number after "$" (0 when the
 * answer had none, 51 after a damaged frame), and in `text`, when given, its text from the answer-code
 * table (Windows-1251, "" for 0). In the notification of a new measurement (event 2) it is the
 * measuring answer's. */
QUARN_API int32_t quarn_uail_answer_error(const char** text);

/* ---- HART device search --------------------------------------------------------------------- */

/* The search's answer windows. Off (the default): every poll waits 1 s and every read 800 ms,
 * whatever arrives. On: an answer (also the Kesto module's to a channel select) is taken as soon as
 * it is complete, and a poll without answer ends when the device's time to begin one (28 HART
 * characters after the request's last byte) plus `turnaround_ms` has passed; a poll whose answer
 * arrived damaged is sent once more. The turnaround is what the calibrator's line adds between the
 * device and the port (at most 1000 ms; the default is what the simulator adds on a
 * pseudo-terminal, with a margin). A search takes the setting when it starts. */
#define QUARN_HART_TURNAROUND_DEFAULT_MS 5
QUARN_API void quarn_hart_set_fast_search(int on, uint32_t turnaround_ms);
/* 1 when the fast search is on; the turnaround goes where `turnaround_ms` points (may be null). */
QUARN_API int quarn_hart_fast_search(uint32_t* turnaround_ms);

/* ---- Log ----------------------------------------------------------------------------------- */

/* Debug lines of the library go to this sink (null: dropped, or stderr when QUARN_LOG=1). */
typedef void (*quarn_log_fn)(const char* line);
QUARN_API void quarn_set_log(quarn_log_fn sink);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HOST_H */
