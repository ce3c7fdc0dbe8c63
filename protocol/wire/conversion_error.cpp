#include "protocol/wire/conversion_error.h"

namespace oxlo {

ConversionError ConversionError::NoHexNumber() {
  return ConversionError("No Hex-Number");
}

ConversionError ConversionError::NotAnInteger(std::string_view text) {
  return ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace oxlo
