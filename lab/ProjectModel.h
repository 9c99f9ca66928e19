// A verification project: what the parameters screen holds and the project file (*.aip) keeps - the
// devices under test on the four channels, the five point sets, the protocol header texts, the
// readiness and relay settings and the report template. Texts are UTF-8 here; the file and the
// shared record hold them as Windows-1251 (ProjectFile.h and ProjectToDev.h convert).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "IniDocument.h"
#include "MethodList.h"

namespace quarn::data {

inline constexpr int kChannelCount = 4;
inline constexpr int kPointSetCount = 5;
inline constexpr int kPointsPerSet = 200;

// Character limits of the channel texts (the record's field size less the terminator).
inline constexpr std::size_t kShortTextLimit = 39;  // name, model, sn, invNo
inline constexpr std::size_t kOwnerLimit = 119;
inline constexpr std::size_t kUnitLimit = 19;  // Unit, el_Unit

// One device under test, with the defaults a project without the channel's keys gets.
struct ChannelParams {
  bool enabled = false;
  std::string name = "кПа";
  std::string model;
  std::string sn;
  std::string invNo;
  std::string owner;
  float Min = 0;  // device unit
  float Max = 600;
  std::string unit = "кПа";
  float tDamp = 0;       // s
  int fnCode = 0;        // 0 linear, 1 square root
  float errOk = 0.2f;    // permissible error, % of span
  int elTypeSignal = 0;  // SignalType
  float toKpaMul = 1;    // kPa = value x toKpaMul
  float elMin = 4;       // signal at Min
  float elMax = 20;      // signal at Max
  std::string elUnit = "мА";

  float minKpa() const { return Min * toKpaMul; }
  float maxKpa() const { return Max * toKpaMul; }
};

struct PointDef {
  bool exist = false;
  float valuePrc = 0;  // percent of the device range
  float timeSec = 0;   // kept in the file only
};
using PointSet = std::array<PointDef, kPointsPerSet>;

enum class ProtocolKind { Primary, Periodic, Calibration };

// The protocol page: report header texts (the amp_ controls) and the results' decimals. Edit-box
// values are kept as the operator's text, as the file stores them.
struct ProtocolHeader {
  std::string protocolNo;                     // amp_D1_SH_NUM
  std::string date;                           // amp_CD_DATE: today's date, never stored in the file
  std::string temp;                           // amp_CD_TEMP
  std::string hum;                            // amp_CD_HUM
  std::string pres;                           // amp_CD_PRES
  std::string ivtmSerial;                     // ed_IVTM_SN
  std::string organisation;                   // amp_CD_ORG
  std::string accreditationNo;                // amp_CD_CRT_NUM
  std::vector<std::string> address;           // memo amp_CD_ADDRESS
  std::vector<std::string> auxEquipment;      // memo CD_ET_AUX_LST
  std::string verifierPosition;               // amp_CD_VERIF_POS
  std::string verifier;                       // amp_CD_VERIF
  std::string chiefPosition;                  // amp_CD_CHEF_POS
  std::string chief;                          // amp_CD_CHEF
  ProtocolKind kind = ProtocolKind::Primary;  // RadioButton1 / rb_IsPeriodic / rb_IsCalib
  int resultDecimals = 3;                     // cb_cDigits (items "0".."6")
  int brenkClass = 0;                         // cb_Class_Brenk, kept only
};

// Readiness of a point (the "Точки поверки" page).
struct ReadinessSettings {
  std::string holdTimeS = "5";   // ed_tRdy, seconds
  std::string bandPrc = "0.05";  // ed_d_Rdy, stability band in % of the span
  std::string vrCoeff = "0.7";   // amp_CD_VRCOEFF, share of the permissible error used as corridor
  bool hardMode = false;         // cbHardMode
};

// The relay check ("Тест реле").
struct RelaySettings {
  std::array<bool, 2> enabled{};                       // cbRelay_1, cbRelay_2
  std::array<std::string, 2> setpointKpa{"0", "0"};    // edRelay1_P, edRelay2_P
  std::array<std::string, 2> hysteresisKpa{"0", "0"};  // edRelay1_Hyst, edRelay2_Hyst
  std::string speed = "0";                             // edRelay_speed, kept only
};

inline constexpr const char* kDefaultTemplateName = "Протокол поверки.xls";

struct ReportTemplate {
  std::string folder;  // ends with a path separator when set
  std::string name = kDefaultTemplateName;
};

struct Project {
  Project();  // start-up state: set 1 holds the nine standard points, set 1 is selected

  std::array<ChannelParams, kChannelCount> channels;
  std::array<PointSet, kPointSetCount> pointSets{};
  int selectedSet = 0;  // 0..4 (rb_1 .. rb_5)
  ProtocolHeader header;
  ReadinessSettings readiness;
  RelaySettings relay;
  ReportTemplate reportTemplate;
  bool duplicateToAll = false;  // cbDoSetToAll, kept only
  // The measurement-method list. It lives in "mp.ini" beside the program, not in the project file;
  // the hosts read it with the project and a save writes it back.
  MethodList methods{};

  // The file as it was read: sections and keys this model does not know survive a save.
  IniDocument file;
};

// The switched-on points of a set, in list order (percent of the range).
std::vector<float> switchedOnPoints(const PointSet& set);

}  // namespace quarn::data
