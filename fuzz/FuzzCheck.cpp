#include "FuzzCheck.hpp"

#include <cstdio>
#include <cstdlib>

namespace qor::fuzz {

void CheckFailed(const char* AFile, int ALine, const char* ACondition, const std::string& ADetail) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", AFile, ALine, ACondition, ADetail.c_str());
  std::abort();
}

std::string Escaped(const std::string& ABytes) {
  std::string result = "\"";
  for (const char c : ABytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127 && c != '"' && c != '\\') {
      result.push_back(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      result += hex;
    }
  }
  return result + "\" (" + std::to_string(ABytes.size()) + " bytes)";
}

}  // namespace qor::fuzz
