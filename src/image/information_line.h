#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "image/date_text.h"
#include "image/object_image.h"

namespace downloader {

/// Appends `piece` to `text`, then cuts `text` to at most `cap` characters: the running
/// length caps that keep an over-long text (a length byte above its capacity) from
/// stretching a line or caption.
void AppendCapped(std::string& text, std::string_view piece, std::size_t cap);

/// The "051-" information line of an accepted image whose Crc field already holds its
/// DisplayChecksum: company, product, firmware under running caps (62, 71, 121, 131, 181,
/// 191), then the checksum in decimal, the compile date text and the notes unchanged.
std::string InformationLine(const ObjectImage& image, const DateNames& names = UserDateNames());

}  // namespace downloader
