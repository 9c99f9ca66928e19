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
  std::string_view sectionName(std::size_t i) const { return sections_[i].name(); }
  std::vector<std::string> keys(std::string_view section) const;

  // The document as file content: every line followed by CRLF.
  std::string serialize() const;
  // The same without every section of the name `without` (its header and all its lines).
  std::string serializeWithout(std::string_view without) const;

  // Whether the last line of the parsed content lacked a line end and was an incomplete entry (a
  // '[' line without ']', or text without '='): the sign of a file cut off while it was written.
  bool endsInBrokenLine() const { return endsInBrokenLine_; }

 private:
  // Positions of names in a vector (of sections, or of a section's lines), found by the names'
  // folded hashes: an open-addressing table that holds the first position of each name only, so a
  // lookup finds the first occurrence. Names are compared only when their hashes are equal.
  class NameTable {
   public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    // `same(pos)`: whether the name at a position stored earlier is the name looked for.
    template <class Same>
    std::size_t find(std::size_t hash, Same same) const;
    // Adds a position under its name's hash unless the name is there already.
    template <class Same>
    void addFirst(std::size_t pos, std::size_t hash, Same same);
    void clear() {
      slots_.clear();
      count_ = 0;
    }

   private:
    struct Slot {
      std::size_t pos = 0;  // position + 1; 0 is a free slot
      std::size_t hash = 0;
    };
    void grow();
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
  };

  struct Line {
    std::string raw;  // the line as written (without line end)
    // For entries: the key (trimmed) inside raw and its folded hash, computed once when the line is
    // read or made, so a lookup compares hashes before it compares letters.
    std::size_t keyBegin = 0;
    std::size_t keyLength = 0;
    std::size_t keyHash = 0;
    std::size_t valueOffset = 0;  // where the value starts in raw
    bool isEntry = false;
    std::string_view key() const { return {raw.data() + keyBegin, keyLength}; }
  };
  struct Section {
    std::string headerRaw;  // the header line as written; the name (trimmed) lies inside it
    std::size_t nameBegin = 0;
    std::size_t nameLength = 0;
    std::size_t nameHash = 0;
    std::vector<Line> lines;
    // Key index, built on the first lookup in a long section; short sections are searched in order.
    mutable NameTable keyIndex;
    mutable bool indexed = false;
    std::string_view name() const { return {headerRaw.data() + nameBegin, nameLength}; }
  };

  std::size_t findSection(std::string_view trimmedName, std::size_t hash) const;
  // The line of a key in a section (its trimmed name and hash), or NameTable::npos.
  static std::size_t findKey(const Section& s, std::string_view trimmedKey, std::size_t hash);
  void indexSections();

  std::vector<Line> preamble_;  // lines before the first section
  std::vector<Section> sections_;
  NameTable firstSection_;  // the first section of each name
  bool endsInBrokenLine_ = false;
};

// Case folding used for names: ASCII and the Cyrillic letters of Windows-1251 fold to lower case.
std::string foldName(std::string_view name);

// Section name of a component by the owner chain: each owner's name followed by '_', behind a leading
// '_' for the nameless application object; {"FormMain", "Frame_Mode_3_Param1"} gives
// "_FormMain_Frame_Mode_3_Param1_".
std::string ownerChainSection(const std::vector<std::string_view>& owners);

}  // namespace quarn::data
