// Reading and writing a project file (*.aip): the parameters screen's own controls in the section of
// its owner chain, the four "Device_ch_N" sections, the 5 x 200 "Points_set_S_point_P" sections and
// "XmlTemplate". Everything else in the file is kept.
#pragma once

#include <string>
#include <string_view>

#include "IniDocument.h"
#include "Outcome.h"
#include "ProjectModel.h"
#include "TextFile.h"

namespace quarn::data {

// Sections of the parameters screen (FormMain -> Frame_Mode_3_Param1) and of its point list.
inline constexpr const char* kParamsSection = "_FormMain_Frame_Mode_3_Param1_";
inline constexpr const char* kPointListSection = "_FormMain_Frame_Mode_3_Param1_Frame_Points1_";
inline constexpr const char* kTemplateSection = "XmlTemplate";
std::string channelSection(int channel);       // "Device_ch_0" .. "Device_ch_3"
std::string pointSection(int set, int point);  // set 0..4, point 1..200

// The project held in a document, with the defaults of the file format for everything missing or
// unreadable. Never fails. Enabled channels get their derived fields as the parameters screen
// computes them (see normalizeChannel).
Project projectFromIni(IniDocument ini);
// Writes the project into the document: known keys are replaced in place, missing ones added; all
// 1000 point sections are written.
void projectToIni(const Project& project, IniDocument& ini);

// What the device grid does to an enabled channel before it goes to the record: the factor to kPa
// from the unit text, the signal limits and unit from the signal type (kept for the voltage type),
// an unknown transfer function or signal type taken as the first one. Texts are cut to their limits.
// A unit text that is not in the list keeps the channel's own factor (1 when that is not a positive
// number), so a range in an unlisted unit is not silently read as kPa.
void normalizeChannel(ChannelParams& ch);

// Loads a project file; the value is the encoding the file was written in (a save writes
// Windows-1251). On any failure `project` is left exactly as it was. A missing file is an error here
// (Fault::NotFound); the workstation's rule of reading an absent file as empty is projectFromIni({}).
// A file whose last line was cut off in the middle is refused as truncated (Fault::Damaged).
Result<FileEncoding> loadProject(const std::string& path, Project& project);

// Saves the project atomically, over `project.file` so that unknown content survives; on success
// `project.file` holds what was written, on a failure it is left as it was.
Outcome saveProject(const std::string& path, Project& project);

// The template the report will use: the project's folder + name when that file exists; otherwise the
// standard template in the program's "template_xml" folder. Reports are .xlsx workbooks here, so a
// name ending in ".xls" is also looked for with ".xlsx" (the name is then updated). Returns whether
// the project's own choice was kept.
bool resolveReportTemplate(ReportTemplate& t, const std::string& programDir);

// The project path to open: `path` when a file exists there, else "default.aip" in the working folder.
std::string effectiveProjectPath(const std::string& path);

}  // namespace quarn::data
