#pragma once

#include <string>

// `text` with its first `placeholder` ("<name>", "<code>") replaced by `value`. The
// placeholders are ASCII, and no GBK character holds their bytes, so the text's other bytes
// stay as they are.
std::string FillRecord(const std::string& text, const char* placeholder, const std::string& value);
