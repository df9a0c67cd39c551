// The structural part of the image check, shared with the fuzz harness.
#pragma once

#include <cstdint>
#include <span>

#include "platform_core/firmware.h"

namespace pc::flash {

// Sections, inner item descriptors, layout texts and, when the device asks
// for them, the identifier rules of a decrypted image whose checksum and
// product have been checked. Fills info (its item list is freed on
// failure); 0 or -1.
int parse_image_body(std::span<const uint8_t> img, int index, IMAGE_INFO_T *info);

}  // namespace pc::flash
