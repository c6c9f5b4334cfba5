// Plain text operations shared by the file readers and the programs.
#pragma once

#include <string>
#include <vector>

namespace foundation {

std::vector<std::string> SplitText(const std::string& text, char separator, bool trim, bool quoted);
void UpperCaseText(std::string& text);
void ReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement);

} // namespace foundation
