#pragma once
// Texts the image container shows through ShowMessage, spelled as users know them.

namespace image_messages {
constexpr const char* kCompressed = "Con't process compressed image";
constexpr const char* kNoDIBMemory = "Unable to allocate DIB memory";
constexpr const char* kReadError = "Read error";
constexpr const char* kWriteError = "Write error--possible disk full condition";
constexpr const char* kInvalidPGM = "Invalid PGM image file";
constexpr const char* kPGMFormat = "The format is wrong!";
constexpr const char* kPGMDataLength = "w*h != DataLength, The image data is wrong!";
constexpr const char* kAllocMemory = "Allocmemory Error";
constexpr const char* kWrongData = "Wrong Data!";
constexpr const char* kNotGrey8 = "It is not 8-greylevel image!";
} // namespace image_messages
