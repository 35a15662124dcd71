#pragma once

#include <cstdint>
#include <vector>

// The still picture readers get while nothing streams: Vidloom's icon on a
// dark background over the line "NO VIDEO PLAYING", drawn at any size
// (BGR24, top row first). Drawn once per camera, so plain loops will do.
std::vector<uint8_t> PlaceholderBgr(int width, int height);
