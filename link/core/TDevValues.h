/* Named values of the shared record's fields that hold a code (TDev.h): the reference source, the
 * notification's reason, the link state, the requested control mode and the result code of a
 * procedure's end. The numbers are the record's and stay as they are; hosts write the names instead
 * of bare numbers. */
#ifndef QUARN_TDEV_VALUES_H
#define QUARN_TDEV_VALUES_H

#ifdef __cplusplus
extern "C" {
#endif

/* settings.refSource: where the reference pressure comes from. */
enum {
  REF_SOURCE_AUTO = 0,     /* the calibrator picks its module */
  REF_SOURCE_MODULE_1 = 1, /* the calibrator's module 1 */
  REF_SOURCE_MODULE_2 = 2, /* the calibrator's module 2 */
  REF_SOURCE_EXTERNAL = 3, /* the external reference transducer (Dorv) */
  REF_SOURCE_MANUAL = 4    /* typed by the operator */
};

/* event: why the library notifies; 0 between notifications and for errors and result codes. */
enum {
  EVENT_NONE = 0,
  EVENT_LINK_CHANGED = 1,          /* linked / linkState changed */
  EVENT_MEASUREMENT = 2,           /* a new measurement (calibrator or external transducer) */
  EVENT_SETTINGS_READ = 3,         /* the calibrator's settings were read */
  EVENT_CONTROL_DONE = 4,          /* the calibrator acknowledged a control command */
  EVENT_TRANSDUCER_IDENTIFIED = 5, /* the external transducer answered its identification */
  EVENT_HART_SEARCH_DONE = 6,      /* the HART search finished */
  EVENT_SENSOR_TRIM_DONE = 7,      /* the HART sensor trim finished */
  EVENT_HART_ZERO_DONE = 8,        /* the HART zero finished */
  EVENT_HART_INFO_READ = 9         /* a HART device's information was read */
};

/* linkState. */
enum { LINK_STATE_NONE = 0, LINK_STATE_LINKED = 2 };

/* controlMode: the Brenk's requested mode. The Quarn has no modes: any change of the value (the
 * hosts toggle it between 0 and 1) asks for its valve command to be sent. */
enum { CONTROL_MODE_MEASURE = 0, CONTROL_MODE_REGULATE = 1, CONTROL_MODE_VENT = 2 };

/* retCode: the result code a procedure's end writes. SetTask clears it to 0 when a task starts, which
 * is also the code of the relay check's start. */
enum {
  RETCODE_CLEARED = 0,
  RETCODE_RELAY_PREPARED = 0, /* relay initialisation, the start of the relay check */
  /* the common end, back in the measuring cycle; also the end of a HART check or trim run as a task */
  RETCODE_FINISHED = 1,
  RETCODE_HART_DEVICE_FOUND = 3,      /* HART search: a device answered, its information is read */
  RETCODE_HART_WRITTEN = 4,           /* the HART configuration was written */
  RETCODE_HART_INFO_READ = 5,         /* a HART device's information was read */
  RETCODE_HART_ZERO_FAILED = 7,       /* the HART zero failed */
  RETCODE_HART_RESTORE_NO_DEVICE = 9, /* restoring manufacturer settings found no device */
  RETCODE_HART_CHECK_DONE = 13,       /* the HART check sequence ended */
  RETCODE_VERIFICATION_DONE = 14,     /* the verification run ended */
  RETCODE_RELAY_CHECK_DONE = 15,      /* the relay check ended */
  RETCODE_LINKED = 16,                /* the link to the calibrator was established */
  /* the verification run or relay check was stopped because the link to the calibrator was lost; the
   * results recorded before stay, nothing resumes after a reconnect (errCode ERR_LINK_LOST) */
  RETCODE_RUN_LINK_LOST = 17,
  /* the calibrator answered the zero adjustment without an error: it does the adjustment now */
  RETCODE_ZERO_ACCEPTED = 18
};

#ifdef __cplusplus
}
#endif

#endif /* QUARN_TDEV_VALUES_H */
