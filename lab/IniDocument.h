// An INI document as the workstation's project and settings files hold it: sections in square
// brackets, "key=value" lines, ';' comments. Lookup of sections and keys ignores letter case
// (Latin and Cyrillic) and the first occurrence of a name wins. Every line that the program does not
// change - unknown sections and keys, comments, blank lines, even malformed lines - is kept as it was
// read, so rewriting a file loses nothing. Writing produces CRLF line ends.
//
// The document works on bytes: names and values are Windows-1251 text, exactly as in the file.
// Conversion to and from UTF-8 happens one level up (IniValues.h, ProjectFile.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarn::data {

class IniDocument {
 public:
  // Parses file content (Windows-1251 bytes). Line ends may be CRLF, LF or CR. Never fails: a line
  // that is neither a section header, a comment nor "key=value" is kept verbatim and ignored.
  static IniDocument parse(std::string_view bytes);

  // The value of `key` in `section`, or nothing when either is absent. Values are taken verbatim
  // after the first '=' (blanks inside and around the value belong to it); names are compared
  // without their surrounding blanks.
  std::optional<std::string_view> get(std::string_view section, std::string_view key) const;
  bool hasSection(std::string_view section) const;
  bool hasKey(std::string_view section, std::string_view key) const;

  // Sets a value: replaces the first occurrence of the key in place, or adds the key after the last
  // key of the section, or adds the section at the end of the document. CR, LF and NUL inside names
  // or values would break the line structure of the file; they are written as blanks. A section name
  // loses any ']' for the same reason, a key name any '='.
  void set(std::string_view section, std::string_view key, std::string_view value);

  // Removes every occurrence of a key from the first section of that name (used for tests and tools;
  // the workstation itself never removes keys).
  void remove(std::string_view section, std::string_view key);
  // Removes every section of that name with all its lines.
  void removeSection(std::string_view section);

  // Section names in file order (duplicates included) and the keys of the first section of a name.
  std::vector<std::string> sectionNames() const;
  // The same names one by one, without copies: section i of sectionCount(), as read or set.
  std::size_t sectionCount() const { return sections_.size(); }
  std::string_view sectionName(std::size_t i) const { return sections_[i].name; }
  std::vector<std::string> keys(std::string_view section) const;

  // The document as file content: every line followed by CRLF.
  std::string serialize() const;
  // The same without every section of the name `without` (its header and all its lines).
  std::string serializeWithout(std::string_view without) const;

  // Whether the last line of the parsed content lacked a line end and was an incomplete entry (a
  // '[' line without ']', or text without '='): the sign of a file cut off while it was written.
  bool endsInBrokenLine() const { return endsInBrokenLine_; }

 private:
  // Case-insensitive hashing and comparison of names, usable with string_view keys (no allocation).
  struct FoldHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
  };
  struct FoldEq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };
  using NameIndex = std::unordered_map<std::string, std::size_t, FoldHash, FoldEq>;

  struct Line {
    std::string raw;  // the line as written (without line end)
    std::string key;  // empty for lines that are not entries
    bool isEntry = false;
    std::size_t valueOffset = 0;  // where the value starts in raw
  };
  struct Section {
    std::string name;
    std::string headerRaw;
    std::vector<Line> lines;
    // Key index, built on the first lookup in a long section; short sections are searched in order.
    mutable NameIndex keyIndex;
    mutable bool indexed = false;
  };

  Section* findSection(std::string_view name);
  const Section* findSection(std::string_view name) const;
  static const Line* findKey(const Section& s, std::string_view key);

  std::vector<Line> preamble_;  // lines before the first section
  std::vector<Section> sections_;
  NameIndex firstSection_;  // name -> index of its first section
  bool endsInBrokenLine_ = false;
};

// Case folding used for names: ASCII and the Cyrillic letters of Windows-1251 fold to lower case.
std::string foldName(std::string_view name);

// Section name of a component by the owner chain: each owner's name followed by '_', behind a leading
// '_' for the nameless application object; {"FormMain", "Frame_Mode_3_Param1"} gives
// "_FormMain_Frame_Mode_3_Param1_".
std::string ownerChainSection(const std::vector<std::string_view>& owners);

}  // namespace quarn::data
