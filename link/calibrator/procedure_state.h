// The calibrator procedures' own state outside the shared record: what a connection, a reading or a
// run carries from one step to the next. The area's start hook puts all of it back to its initial
// values whenever the record is initialised, so a host that starts the library again, and every test
// of one test program, begins where a freshly loaded library begins.
#pragma once

namespace quarn::cal {

// Everything below, and the exported model flags, acknowledged control values and Kesto image.
void resetProcedureState();

// Parts kept in the files that own them.
void resetModuleAddress();    // uail_link.cpp: requests go to the calibrator's main unit
void resetKestoReading();     // kesto.cpp: the attempts of a current reading
void resetVerificationRun();  // verification_run.cpp: the Brenk's per-point hold bases

// verification_run.cpp: a verification run or relay check under way ends when the link is lost
// (errCode ERR_LINK_LOST, retCode RETCODE_RUN_LINK_LOST); the caller notifies. Otherwise nothing.
void stopRunOnLostLink();

}  // namespace quarn::cal
