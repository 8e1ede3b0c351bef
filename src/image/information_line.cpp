#include "image/information_line.h"

namespace downloader {

void AppendCapped(std::string& text, std::string_view piece, std::size_t cap) {
  text.append(piece);
  if (text.size() > cap) text.resize(cap);
}

std::string InformationLine(const ObjectImage& image, const DateNames& names) {
  // Each cap is the length so far with every text at its capacity of 50.
  std::string line = "051-COMPANY=";
  AppendCapped(line, image.CompanyName(), 62);
  AppendCapped(line, " PRODUCT=", 71);
  AppendCapped(line, image.ProductName(), 121);
  AppendCapped(line, " FIRMWARE=", 131);
  AppendCapped(line, image.FirmwareName(), 181);
  AppendCapped(line, " CHECKSUM=", 191);
  line += std::to_string(image.Crc());
  line += " COMPILEDATE=";
  line += DateText(image.CompileTime(), names);
  line += " INTROMESSAGE=";
  line += image.IntroMessage();
  return line;
}

}  // namespace downloader
