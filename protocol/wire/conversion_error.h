// The one error raised when a text is not a number of the required form.
// Its message is shown to the operator as it stands.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace oxlo {

class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;

  // Hexadecimal readings.
  static ConversionError NoHexNumber();
  // Decimal readings; `text` is the offending text.
  static ConversionError NotAnInteger(std::string_view text);
};

// A field that lies beyond the end of a short datagram or file. It reads as
// the empty text did, so the operator sees the same words.
class MissingBytesError : public ConversionError {
 public:
  MissingBytesError() : ConversionError(NotAnInteger("")) {}
};

}  // namespace oxlo
