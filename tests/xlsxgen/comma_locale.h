// LC_NUMERIC with a decimal comma for the life of the object, as a Russian desktop session gives a
// Qt program (Qt sets the locale from the environment): a locale the system has, else one made
// with localedef (glibc's, always there) from a definition of that one category in a private
// folder. active() is false, with why(), when neither works.
#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace xlsxtest {

class CommaNumericLocale {
 public:
  CommaNumericLocale() {
    if (const char* now = std::setlocale(LC_NUMERIC, nullptr)) previous_ = now;
    for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
      if (use(name)) return;
    makeOwn();
  }
  ~CommaNumericLocale() {
    std::setlocale(LC_NUMERIC, previous_.c_str());
    if (!folder_.empty()) {
      if (oldLocPath_)
        setenv("LOCPATH", oldLocPath_->c_str(), 1);
      else
        unsetenv("LOCPATH");
      std::system(("rm -rf '" + folder_ + "'").c_str());
    }
  }
  CommaNumericLocale(const CommaNumericLocale&) = delete;
  CommaNumericLocale& operator=(const CommaNumericLocale&) = delete;

  bool active() const { return active_; }
  const std::string& why() const { return why_; }

 private:
  bool use(const char* name) {
    if (!std::setlocale(LC_NUMERIC, name)) return false;
    const char* point = std::localeconv()->decimal_point;
    active_ = point && std::strcmp(point, ",") == 0;
    if (!active_) std::setlocale(LC_NUMERIC, previous_.c_str());
    return active_;
  }

  void makeOwn() {
    char tmpl[] = "/tmp/comma_locale_XXXXXX";
    if (!mkdtemp(tmpl)) {
      why_ = "no folder for a locale of our own";
      return;
    }
    folder_ = tmpl;
    std::ofstream(folder_ + "/comma.src") << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\n"
                                             "grouping -1\nEND LC_NUMERIC\n";
    // -c: the other categories are left undefined on purpose (localedef warns and exits 1).
    const std::string cmd =
        "localedef -c -i '" + folder_ + "/comma.src' '" + folder_ + "/comma' >/dev/null 2>&1";
    std::system(cmd.c_str());
    if (const char* old = std::getenv("LOCPATH")) oldLocPath_ = old;
    setenv("LOCPATH", folder_.c_str(), 1);
    if (!use("comma")) why_ = "no locale with a decimal comma is installed and localedef could not make one";
  }

  std::string previous_ = "C";
  std::string folder_;
  std::optional<std::string> oldLocPath_;
  bool active_ = false;
  std::string why_;
};

}  // namespace xlsxtest
