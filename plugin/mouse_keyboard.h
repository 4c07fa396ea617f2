// Desktop input helpers and the small operations beside them that no
// script function reaches.
#pragma once

#include <cstdint>

#include "host/link/host_link.h"

namespace orvan {

// Shift (virtual key 16) down / up through keybd_event.
void ShiftKeyDown();
void ShiftKeyUp();

// Turns the image into 4-byte reals, then marks with 2.0 the 4-connected
// region of pixels equal to 1.0 around the seed (each coordinate truncated
// toward zero; a seed that is not a number or beyond the 32-bit range
// fills nothing), and tells the host the data changed. Framed: failures
// are reported as by every framed handler.
void FloodFillImage(LinkImage* image, float seed_x, float seed_y);

// Marks with 2.0 every pixel equal to 1.0 joined to (x, y) through
// 4-neighbours inside the inner rectangle 1..width-2 x 1..height-2; the
// outer ring of pixels is never read or written, and a seed on it or
// outside fills nothing. block holds width*height floats, pixel x + y*width
// (the caller guarantees it). Uses a work list, not the call stack.
void FloodFillRegion(int32_t x, int32_t y, int32_t width, int32_t height, float* block);

// The number at the start of the text ("%f"), else after exactly one first
// character ("%c %f"), else 0.0. Framed (returns 0.0 after a failure).
float ParseFloatString(LinkString* text);
// The same rule on a byte string.
float ParseFloatText(const char* text);

}  // namespace orvan
