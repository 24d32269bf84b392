#pragma once
// The photometric normalisation of a 64 x 64 geometric face, in place, on the
// module-wide preprocessor with its current mask: compact the masked pixels,
// normalise their grey levels, expand them back (0 outside the mask) and
// correct the gamma against the mean face. Shared by face cutting and
// template creation so that both produce identical faces.
void ApplyPhotometricSteps(unsigned char* face);
