#pragma once
// The ten 2D-3D adjust files "dpx20remote%02d.adj".
#include <cstdint>
#include <string>

namespace dpx {

std::string AdjustFileText(int32_t mode, int32_t parallax, int32_t intensity, int32_t sub_intensity);
// Writes the file whole (temporary file, then rename); a failure shows its message and calls
// FatalExit(1). An empty name shows a message and writes nothing.
void WriteAdjustFile(const std::string& file_name, int32_t mode, int32_t parallax,
                     int32_t intensity, int32_t sub_intensity);
// 1 with all four outputs set when the file is valid; 0 after one message, outputs untouched.
int ReadAdjustFile(const std::string& file_name, int32_t* mode, int32_t* parallax,
                   int32_t* intensity, int32_t* sub_intensity);

// "dpx20remote%02d.adj" of adjust slot n.
std::string AdjustFileName(int n);

}  // namespace dpx
