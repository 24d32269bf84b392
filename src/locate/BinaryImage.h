#pragma once
// Binary eye-patch images: 0 is background, 255 a marked (dark) pixel.

// Marks about the darkest 3.9 percent of the pixels (the whole threshold level
// included) with 255 and clears the rest. Does nothing for null or empty input.
void BinarizeDarkest(unsigned char* patch, int width, int height);

enum MorphDirection { kMorphHorizontal = 0, kMorphVertical = 1 };

// Three-pixel dilation and erosion along one direction, in place. Border lines
// that the window cannot cover are cleared (dilation) or set (erosion).
// Return 1, or 0 with the image unchanged when a processed pixel is neither 0
// nor 255, the arguments are unusable, or the temporary image cannot be had.
int DilateBinary(unsigned char* image, int width, int height, int direction);
int ErodeBinary(unsigned char* image, int width, int height, int direction);
