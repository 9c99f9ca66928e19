// Reading and writing a project file (*.aip): the parameters screen's own controls in the section of
// its owner chain, the four "Device_ch_N" sections, the 5 x 200 "Points_set_S_point_P" sections and
// "XmlTemplate". Everything else in the file is kept.
#pragma once

#include <optional>
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

// The checksum a project file of this program carries: CRC-32 of the file's content without this
// section, as the document writes it (CRLF line ends, Windows-1251), in hexadecimal. The section is
// written last on every save; other programs ignore a section they do not know.
inline constexpr const char* kChecksumSection = "ProjectChecksum";
inline constexpr const char* kChecksumKey = "crc32";

enum class ProjectChecksum {
  Absent,   // a file of another program, an earlier version or made by hand
  Matches,  // the content is what this program saved
  Differs   // changed since this program saved it (and the change was accepted)
};

struct LoadedProject {
  FileEncoding encoding = FileEncoding::Cp1251;  // what the file was written in (a save writes Windows-1251)
  ProjectChecksum checksum = ProjectChecksum::Absent;
  // For the operator after the load: a file without the checksum, an edited file accepted. UTF-8;
  // empty when there is nothing to say.
  std::string note;
};

// Loads a project file. On any failure `project` is left exactly as it was. A missing file is an
// error here (Fault::NotFound); the workstation's rule of reading an absent file as empty is
// projectFromIni({}). A file cut off while it was written is refused (Fault::Damaged, see
// cutOffReason). A file whose checksum does not match its content is refused with Fault::Edited
// unless `acceptEdited`: the host asks the operator first, or is told to on its command line.
Result<LoadedProject> loadProject(const std::string& path, Project& project, bool acceptEdited = false);
// The same on file content already in Windows-1251 (what readTextFile gives); `name` names the file
// in the texts. The encoding of the value is Windows-1251.
Result<LoadedProject> loadProjectText(std::string_view bytes, const std::string& name, Project& project,
                                      bool acceptEdited = false);

// Why a project file's content is taken for one cut off while it was written, or nothing:
//  - its last line has no line end and is an incomplete entry ("[Points_set_2_po", "valueP");
//  - it has no final line end and its last section is a channel, point or template section that
//    lacks one of its keys;
//  - it was written by a program and lacks a channel section, a point section, the template
//    section or one of their keys: every save writes all of them, so such a file lost its end. A
//    file counts as written by a program when it carries the checksum section, or holds every key a
//    save writes into the parameters screen's section (which a save puts first in a new file), or
//    holds all four channel sections with every key.
// Files made by hand may leave out any section or key (a missing point is off, a missing key takes
// its default); they are refused only for the first two reasons.
std::optional<std::string> cutOffReason(std::string_view bytes, const IniDocument& ini);

// Whether the content carries the checksum section and whether it matches.
ProjectChecksum projectChecksum(const IniDocument& ini);

// Saves the project atomically, over `project.file` so that unknown content survives, with the
// checksum section last; on success `project.file` holds what was written, on a failure it is left
// as it was.
Outcome saveProject(const std::string& path, Project& project);

// The template the report will use: the project's folder + name when that file exists; otherwise the
// standard template in the program's "template_xml" folder. Reports are .xlsx workbooks here, so a
// name ending in ".xls" is also looked for with ".xlsx" (the name is then updated). Returns whether
// the project's own choice was kept.
bool resolveReportTemplate(ReportTemplate& t, const std::string& programDir);

// The project path to open: `path` when a file exists there, else "default.aip" in the working folder.
std::string effectiveProjectPath(const std::string& path);

}  // namespace quarn::data
