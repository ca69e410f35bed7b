// A deterministic synthetic intra-oral frame in sensor polarity (higher = less dose reached the
// sensor): two teeth and two partial ones with enamel, dentin, pulp and roots in alveolar bone, soft tissue, an
// air gap at the biting edge, noise, and a bright unexposed margin. The block the exposure
// classification reads (rows 700-799, columns 600-699 of the usual frames) lies in soft tissue
// between two teeth, around 2000 counts.
#pragma once
#include <cstdint>

void RenderPhantom(uint16_t* pixels, int width, int height, uint32_t seed);
