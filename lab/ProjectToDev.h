// Applying a project to the shared record as the parameters screen does before a run, and taking
// channel and relay values back from the record (after a HART search, for instance).
#pragma once

#include <string>

#include "ParamsCheck.h"
#include "ProjectModel.h"
#include "TDev.h"

namespace quarn::data {

struct ApplyOptions {
  // The calibrator line of the protocol page ("Quarn №…"), the first entry of the reference list;
  // see calibratorLine().
  std::string calibratorLine;
};

// The project's own values into the record, without the channels: protocol kind and header texts, the
// reference list, the results' decimals, the readiness fields (tRdy, dRdy, vrCoeff, hardMode) and
// the relay settings. What the parameters screen copies before it copies its device grid.
void headerToDev(const Project& project, TDev& dev, const ApplyOptions& options = {});

// Copies the whole project into the record - protocol header, readiness, the four channels (an
// enabled one with the grid's derivations, see normalizeChannel), relay settings - then checks the
// parameters (povLo/povSpan on success) and sets the readiness for the fresh range. Returns the
// check; the record is filled whatever its outcome, as the screen does.
ParamsCheck applyProjectToDev(const Project& project, TDev& dev, const ApplyOptions& options = {});

// One channel into its record: texts as Windows-1251 cut to their fields, MinKpa/MaxKpa derived.
void channelToDev(const ChannelParams& ch, TDevChannel& out);
ChannelParams channelFromDev(const TDevChannel& ch);
// The relay settings as numbers back into the project's texts.
void relayFromDev(const TDev& dev, RelaySettings& relay);

// "Quarn №" or "Brenk №" (by the record's model) followed by the calibrator's serial number.
std::string calibratorLine(const TDev& dev);

// The reference-equipment list of the protocol: the calibrator line, the external transducer when
// present, the auxiliary equipment; carriage returns removed (UTF-8; cut to the field on copying).
std::string referenceList(const TDev& dev, const std::string& calibratorLine,
                          const std::vector<std::string>& auxEquipment);

// The protocol date as the screen shows it: "dd.mm.yyyy" of the local date of `when`.
std::string protocolDate(long long unixSeconds);

// Copies UTF-8 text into a record field as Windows-1251, cut to size - 1 bytes and zero-filled.
void copyTextField(char* field, std::size_t size, const std::string& utf8);

}  // namespace quarn::data
