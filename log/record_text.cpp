#include "log/record_text.h"

std::string FillRecord(const std::string& text, const char* placeholder, const std::string& value) {
  std::string filled = text;
  const std::size_t at = filled.find(placeholder);
  if (at != std::string::npos) {
    filled.replace(at, std::char_traits<char>::length(placeholder), value);
  }
  return filled;
}
