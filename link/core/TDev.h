/* The shared record of the instrument-link library and its hosts.
 *
 * One instance (`Dev`) lives in libquarn; a host gets its address with task 2 of SetTask and reads
 * and writes the same memory from its window thread. The record is packed (byte alignment) and keeps
 * the field order and widths the workstation relies on: 48428 bytes in a 32-bit build. Pointers have
 * the platform's width, so a 64-bit build is larger; `size` holds sizeof(TDev) of the build and the
 * host compares it with QUARN_TDEV_SIZE of this header.
 *
 * Texts are zero-terminated Windows-1251 bytes. NaN marks a float without a value. */
#ifndef QUARN_TDEV_H
#define QUARN_TDEV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A step: a function without arguments; its result is not read by anybody. */
typedef int32_t (*TStepFn)(void);
/* The host's notification callback. */
typedef void (*TUpdateFn)(void);

#pragma pack(push, 1)

/* One ring slot of a TStatValue. */
typedef struct TStatSlot {
  uint8_t valid;
  float value;
  uint32_t tick; /* system tick when the sample was added */
} TStatSlot;

#define STAT_RING_SIZE 200

/* Running statistics and readiness test of one measured quantity. */
typedef struct TStatValue {
  int32_t count; /* samples held, 0..window */
  int32_t last;  /* ring index of the newest sample */
  TStatSlot slots[STAT_RING_SIZE];
  float target;        /* centre of the readiness corridor */
  uint32_t holdMs;     /* how long the value must stay steady */
  float stableBand;    /* largest change counted as steady */
  float readyCorridor; /* half-width of the corridor around target */
  int32_t window;      /* ring slots in use, 1..200 */
  uint8_t inCorridor;
  uint8_t corridorChanged;
  uint8_t stable;
  uint8_t ready;
  uint8_t holding;
  float value;
  float prevValue;
  float mean;
  float sd;
  float min;
  float max;
  float speed; /* change per second between the two newest samples */
  uint32_t holdStart;
  uint32_t holdEnd;
  int32_t holdLeftS;
} TStatValue;

/* Measured and computed values of one channel. */
typedef struct TMeasCh {
  float current;   /* mA */
  float pFromI;    /* device unit */
  float pFromIKPa; /* kPa */
  TStatValue pStat;
  TStatValue iStat;
  uint8_t reserved[2];
  float reducedError; /* percent of the device's span */
} TMeasCh;

/* The calibrator's settings as read from the device. */
typedef struct TSettings {
  uint32_t valid;
  int32_t refSource; /* 0 auto, 1 module 1, 2 module 2, 3 external Dorv, 4 manual */
  int32_t subRange;
  int32_t pressType; /* 0 absolute, 1 gauge, 2 gauge-vacuum */
  int32_t units;     /* display unit index 0..7 */
  int32_t decimals;
  int32_t averaging;
  float readyBand1;
  int32_t regMode;
  int32_t autoRange;
  uint32_t reserved;
  float pTargetStored; /* kPa */
  float readyBand2;
  float unitFactorInv; /* display unit -> kPa */
  float unitFactor;    /* kPa -> display unit */
} TSettings;

/* The calibrator's identification. */
typedef struct TCalInfo {
  uint32_t valid;
  char serial[40];
  char madeDate[40];
  float pLimitMin; /* kPa */
  float pLimitMax; /* kPa */
  float span;      /* kPa */
  float spanUnits;
  int32_t version; /* major * 100 + minor */
  char modelName[12];
  int32_t modelNo;
  uint8_t module1Class;
  uint8_t module2Class;
  uint8_t reserved[2];
} TCalInfo;

/* The external reference transducer. */
typedef struct TDorv {
  uint32_t present;
  uint32_t address;
  int32_t pressType;
  float rangeLow;  /* kPa */
  float rangeHigh; /* kPa */
  float reserved;
  uint32_t serialNo; /* before identification: the Dorv's port number (Brenk) */
  int32_t accuracyClass;
  float unitToKPa;
} TDorv;

/* One HART dynamic variable. */
typedef struct THartVar {
  uint32_t present;
  float value;
  uint8_t units;
  const char* unitsText;
  uint32_t lowerTrimSupported;
  uint32_t upperTrimSupported;
  uint8_t trimUnits;
  float lowerTrimPoint;
  float upperTrimPoint;
  float minLowerTrim;
  float maxLowerTrim;
  float minUpperTrim;
  float maxUpperTrim;
  float minTrimDiff;
} THartVar;

/* One HART transmitter (one per channel). */
typedef struct THartDev {
  uint32_t size; /* THARTDEV_SIZE */
  uint32_t found;
  uint8_t longAddress[5];
  char deviceTypeName[100];
  char manufacturerName[100];
  uint32_t rxState;
  int32_t rxCount;
  uint8_t* rxPtr;
  uint8_t rxDelimiter;
  uint8_t rxShortAddress;
  uint8_t rxLongAddress[5];
  uint8_t rxCommand;
  uint8_t rxResponseCode;
  uint8_t rxDeviceStatus;
  uint8_t rxData[80];
  uint8_t rxDataLength;
  uint8_t rxChecksum;
  const char* responseText;
  uint16_t expandedDeviceType;
  uint8_t requestPreambles;
  uint8_t hartRevision;
  uint8_t deviceRevision;
  uint8_t softwareRevision;
  uint8_t hardwareRevision;
  uint8_t physicalSignaling;
  uint8_t maxDeviceVariables;
  uint8_t deviceFlags;
  uint32_t deviceId;
  uint8_t responsePreambles;
  uint16_t configChangeCounter;
  uint8_t extendedStatus;
  uint16_t manufacturerId;
  uint16_t privateLabelId;
  uint8_t deviceProfile;
  uint32_t variableCount;
  THartVar dynVar[4];
  float loopCurrent;
  float percentOfRange;
  char tag[8];
  char descriptor[16];
  uint16_t dateYear;
  uint16_t dateMonth;
  uint16_t dateDay;
  uint32_t sensorSerial;
  uint8_t sensorUnits;
  float upperSensorLimit;
  float lowerSensorLimit;
  float minSpan;
  uint8_t alarmSelection;
  uint8_t transferFunction;
  uint8_t rangeUnits;
  uint8_t writeProtect;
  uint8_t labelCode;
  float upperRange;
  float lowerRange;
  float damping;
  uint8_t pollingAddress;
  uint8_t loopCurrentMode;
  uint8_t classification[4];
  uint8_t outputType; /* 0 0-5 mA, 1 4-20 mA, 2 5-0 mA, 3 20-4 mA */
  uint8_t outputParam;
  float outputValueA;
  float outputValueB;
  float calibValueA;
  float calibValueB;
  char message[41];
  /* The listed fields add up to 689 bytes; the record is 711 with the end marker last, so 22 bytes
   * are kept in reserve before it. */
  uint8_t reserved[22];
  uint32_t endMark; /* THARTDEV_END_MARK */
} THartDev;

#define THARTDEV_END_MARK 23163u

/* Per-channel block of the HART current check. */
typedef struct THartChk {
  uint32_t active;
  float meas[3]; /* loop currents at the 4, 12, 20 mA set points */
  float dev[3];  /* their deviations, % */
} THartChk;

/* Protocol header and readiness settings. */
typedef struct TPovHeader {
  char temp[8];
  char hum[8];
  char pres[8];
  char protocolNo[20];
  char date[20];
  uint8_t reserved1[112];
  int32_t isCalib;
  int32_t isPeriodic;
  char etalonList[1024];
  uint8_t reserved2[4];
  int32_t tRdy;    /* seconds */
  float dRdy;      /* percent of span */
  float vrCoeff;
  int32_t hardMode;
} TPovHeader;

/* One device under test. */
typedef struct TDevChannel {
  int32_t enabled;
  char name[40];
  char model[40];
  char sn[40];
  char invNo[40];
  char owner[120];
  float errOk; /* permissible error, % of span */
  float tDamp; /* s */
  int32_t fnCode; /* 0 linear, 1 square root */
  float Min;
  float MinKpa;
  float Max;
  float MaxKpa;
  char Unit[20];
  float el_Min;
  uint8_t reserved1[4];
  float el_Max;
  uint8_t reserved2[4];
  char el_Unit[20];
  int32_t elTypeSignal;
  float toKpaMul; /* kPa = value * toKpaMul */
} TDevChannel;

/* One verification point. */
typedef struct TPovPoint {
  float prc;   /* percent of the range */
  float holdS; /* s */
} TPovPoint;

/* One channel's part of a verification result. */
typedef struct TPovChResult {
  float current;
  float iExpected;
  float pFromI;
  float pFromIKPa;
  float reducedError;
  float uncertainty;
} TPovChResult;

/* One result record per point. */
typedef struct TPovResult {
  uint32_t valid;
  float pRef; /* kPa */
  TPovChResult ch[4];
} TPovResult;

/* Switching result of one contact input of the relay check. */
typedef struct TRelayResult {
  uint32_t state; /* 1 while the input reads 0 */
  float pOn;      /* kPa */
  float pOff;     /* kPa */
} TRelayResult;

#define POV_POINTS_MAX 200
#define STEP_HIST_SIZE 200

/* The shared record. */
typedef struct TDev {
  uint32_t size;
  const char* signature; /* "TDev" */
  uint32_t model;        /* 1 Quarn, 0 Brenk */
  uint32_t devTypeId;
  uint32_t reserved5;
  uint32_t tick;
  uint32_t deadline;
  uint32_t task;
  void* taskArg;
  uint32_t retCode;
  uint32_t reserved11;
  uint32_t checkState;
  uint32_t hartStage;
  uint32_t hartProgress;
  const char* dsc[3];
  uint32_t errCode;
  const char* errText;
  uint32_t linked;
  uint32_t linkState; /* 0 no link, 2 link */
  uint32_t regulReq;
  uint32_t portNo; /* 0 = search all ports */
  char baroText[20];
  char speedText[20];
  uint32_t sensorState;
  float refUpper;
  float pRef; /* kPa */
  float pRefUnits;
  char pRefText[20];
  TStatValue refStat;
  uint8_t reserved30[3];
  TMeasCh ch[4];
  uint32_t inputOn;
  uint32_t ventOn;
  uint32_t controlMode;
  float pTarget; /* kPa */
  char pTargetText[20];
  uint32_t kestoOk;
  uint32_t kestoDataValid;
  uint32_t kestoEnabled;
  uint32_t reserved40;
  uint32_t sensorType;
  uint32_t kestoChCount;
  float kestoCurrent[4]; /* mA */
  uint8_t chSkip[4];
  uint32_t relayInputs;
  uint32_t relayInputsPrev;
  TSettings settings;
  uint32_t handInput;
  TCalInfo calInfo;
  TDorv dorv;
  uint32_t hartWrAddress;
  float hartWrLower;
  float hartWrUpper;
  uint32_t hartWrUnits;
  float hartWrDamping;
  uint32_t hartWrFunction;
  THartDev hart[4];
  int32_t hartFirstCh;
  int32_t hartCh;
  uint32_t hartPollAdr;
  THartChk hartChk[4];
  uint32_t trimOn[4];
  float trimPmin;
  float trimPmax;
  float trimCorridor;
  int32_t trimTime;
  uint32_t povMode; /* 0 verification, 1 relay check */
  uint32_t reserved68;
  TPovHeader povHeader;
  int32_t cDigits;
  TDevChannel devCh[4];
  float povLo;
  float povSpan;
  TPovPoint points[POV_POINTS_MAX];
  int32_t pointCount;
  int32_t pointIdx;
  TPovResult results[POV_POINTS_MAX];
  uint8_t relayOn[2];
  uint8_t reserved79[2];
  float relayP[2];
  float relayHyst[2];
  uint8_t reserved82[8];
  TRelayResult relays[8];
  uint8_t reserved84[4];
  TUpdateFn onUpdate;
  uint32_t event;
  uint32_t measTimeStart;
  TStatValue cycleStat;
  uint8_t reserved89[3];
  void* uailPtr;
  int32_t stepHistIdx;
  TStepFn stepHist[STEP_HIST_SIZE];
  uint32_t measRepeats;
  uint32_t kestoRepeats;
} TDev;

#pragma pack(pop)

/* Sizes of this build: 48428 / 711 with 4-byte pointers; each pointer field adds 4 bytes in a
 * 64-bit build (232 pointer fields in TDev, 6 in THartDev). */
#define QUARN_POINTER_EXTRA ((uint32_t)sizeof(void*) - 4u)
#define QUARN_TDEV_SIZE (48428u + 232u * QUARN_POINTER_EXTRA)
#define THARTDEV_SIZE (711u + 6u * QUARN_POINTER_EXTRA)
#define TSTATVALUE_SIZE 1873u
#define QUARN_TDEV_SIGNATURE "TDev"

/* The workstation's task numbers (SetTask). */
enum {
  TASK_CHECK_ARG = 0,
  TASK_GET_RECORD = 2,
  TASK_CONNECT = 3,
  TASK_MEASURE = 4,
  TASK_MEASURE_REGUL = 5,
  TASK_CONTROL = 6,
  TASK_SETTINGS_READ = 7,
  TASK_SETTINGS_WRITE = 8,
  TASK_SET_SENSOR_TYPE = 9,
  TASK_HART_SEARCH = 10,
  TASK_HART_SET_0 = 11,
  TASK_HART_RESET = 12,
  TASK_HART_WRITE = 13,
  TASK_HART_CHECK_I = 14,
  TASK_HART_TUNE_I = 15,
  TASK_HART_TUNE_TRIM = 16,
  TASK_HART_EXIT_I_OUT = 17,
  TASK_SET_0_KD = 18,
  TASK_HART_REPAIR_MAN = 19,
  TASK_CHECK_HART = 20,
  TASK_CHECK = 21,
  TASK_TIMER_STOP = 22,
  TASK_TIMER_START = 23
};

#ifdef __cplusplus
}

static_assert(sizeof(TStatValue) == TSTATVALUE_SIZE, "TStatValue layout");
static_assert(sizeof(TMeasCh) == 3764, "TMeasCh layout");
static_assert(sizeof(TSettings) == 60, "settings layout");
static_assert(sizeof(TCalInfo) == 124, "calInfo layout");
static_assert(sizeof(TDorv) == 36, "dorv layout");
static_assert(sizeof(THartVar) == 50 + QUARN_POINTER_EXTRA, "THartVar layout");
static_assert(sizeof(THartDev) == THARTDEV_SIZE, "THartDev layout");
static_assert(sizeof(THartChk) == 28, "hartChk layout");
static_assert(sizeof(TPovHeader) == 1228, "TPovHeader layout");
static_assert(sizeof(TDevChannel) == 376, "TDevChannel layout");
static_assert(sizeof(TPovPoint) == 8, "TPovPoint layout");
static_assert(sizeof(TPovResult) == 104, "TPovResult layout");
static_assert(sizeof(TRelayResult) == 12, "relay record layout");
static_assert(sizeof(TDev) == QUARN_TDEV_SIZE, "TDev layout");
#endif

#endif /* QUARN_TDEV_H */
