// A deterministic synthetic intra-oral frame as the sensor delivers it: values rise with the dose
// that reached the sensor, so enamel reads low, bone and roots in between, soft tissue and air
// high. The picture is a maxillary periapical at the sensor's 20 um pitch: crowns near row 0 (the
// bottom of the delivered, turned picture), roots in trabecular alveolar bone, mild quantum noise,
// and a one-pixel unexposed border near full scale. The exposed field stays within about
// 450..6000 counts. The block the exposure classification reads (rows 700-799, columns 600-699 of
// the usual frames, the middle 200 x 200 of the widest) lies on a molar root in bone, around 2000
// counts.
#pragma once
#include <cstdint>

void RenderPhantom(uint16_t* pixels, int width, int height, uint32_t seed);
