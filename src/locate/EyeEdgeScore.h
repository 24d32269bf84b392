#pragma once

// Mean gradient strength (|horizontal Prewitt| + |vertical Sobel|) of the full
// image over a window of boxHeight / 2 rows and boxWidth / 2 columns centred on
// (x, y). Pixels on the image border do not count; with none counted the
// result is not a number.
double EyeEdgeScore(const unsigned char* image, int width, int height, int x, int y, int boxWidth,
                    int boxHeight);
