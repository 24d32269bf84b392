#pragma once
// Gamma curves fitted against a reference face. Images are row-major bytes.

// Maps every non-zero pixel p to trunc(p^(1/gamma) * k) with k = 255 / max^(1/gamma),
// so the brightest pixel lands at about 255; zero pixels stay 0.
void ApplyGamma(unsigned char* image, int count, double gamma);

// Euclidean distance between the image after ApplyGamma(gamma) and the
// reference; the image is not changed.
double GammaDistance(const unsigned char* image, const unsigned char* reference, int count, double gamma);

// Walks the gamma from 1.0 in steps of 0.02 downhill in GammaDistance to its
// first local minimum, applies that gamma to the image and returns it.
double FitGamma(unsigned char* image, const unsigned char* reference, int width, int height);

// Smooths the seams between the quadrants of an image corrected quadrant by
// quadrant: rows h/2 - 2 .. h/2 + 1 and columns w/2 - 2 .. w/2 + 1 only.
void BlendSeams(unsigned char* image, int width, int height);
