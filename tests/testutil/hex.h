// Bytes written as hex digits in tests ("00ff10" -> {0x00, 0xff, 0x10}).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chron::testing {

inline std::vector<uint8_t> Hex(const std::string& digits) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

}  // namespace chron::testing
