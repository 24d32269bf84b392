#pragma once
// Connected dark regions of a binary eye patch.

// Most labels a patch yields to its callers.
constexpr int kMaxComponents = 25;

// Writes labels 1, 2, ... over the 255 pixels of the interior (rows 1..h-2,
// columns 1..w-2), one per connected region in the raster order of its first
// pixel; connectivity 8 gives 8-connected regions, anything else 4-connected.
// Labels are bytes, so labelling stops after 254 regions (the rest stay 255).
// Returns the number of labels, at most kMaxComponents.
int LabelComponents(unsigned char* image, int width, int height, int connectivity);

struct ComponentBox {
    int bottom; // largest row holding the label
    int top;    // smallest row
    int right;  // largest column
    int left;   // smallest column
};

// Bounds of the pixels equal to label over the whole image. A label that is
// absent gives bottom < top and right < left.
ComponentBox ComponentBounds(const unsigned char* image, int label, int width, int height);
