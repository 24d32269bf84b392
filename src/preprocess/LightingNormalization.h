#pragma once
// Grey-level operations on vectors of masked face values (doubles).

// Sum divided by count; 0.0 when count is below 1.
double MeanValue(const double* values, int count);

// Maps lower..upper linearly onto 0..255 (upper itself lands just below 255),
// values outside to 0.0 or 255.0. Returns 1 when upper > lower, else 0 and
// leaves the values alone.
int StretchRange(double* values, int count, double lower, double upper);

// Maps the values linearly from [min, max + 1) onto [newMin, newMax).
void RescaleRange(double* values, int count, double newMin, double newMax);

void ScaleValues(double* values, int count, double factor);
void PowerValues(double* values, int count, double exponent);
