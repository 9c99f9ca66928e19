// The one failure type inside the report library: a UTF-8 text for the operator. It never leaves the
// library; MakeXLSX turns it into its result code and error text.
#pragma once

#include <stdexcept>
#include <string>

namespace xlsxgen {

class XlsxError : public std::runtime_error {
 public:
  explicit XlsxError(const std::string& utf8Message) : std::runtime_error(utf8Message) {}
};

}  // namespace xlsxgen
