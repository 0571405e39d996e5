#pragma once
// Photo-like test pictures made from a seed: a sky and ground with soft
// shapes, fractal texture and sensor grain, so that JPEG files have the
// entropy (size per pixel) of real photographs. Rows are made one at a time:
// a JPEG of any size is written without holding the picture.
#include <cstdint>
#include <string>

namespace bench {

// Writes a JPEG (quality 90, 4:2:0, baseline or progressive) of width x
// height stored pixels; an EXIF orientation other than 1 adds an APP1 segment
// carrying it. False with a message on stderr when the file cannot be written.
bool writeJpeg(const std::string& path, int width, int height, std::uint32_t seed, int orientation = 1,
               bool progressive = false);
// Copies a progressive JPEG with its smallest first AC scan repeated `times`
// more times: a scan bomb, each repeat a pass over the whole picture.
bool writeRepeatedScan(const std::string& from, const std::string& to, int times);
// Writes a PNG of the same content (through Qt's writer).
bool writePng(const std::string& path, int width, int height, std::uint32_t seed);

}  // namespace bench
