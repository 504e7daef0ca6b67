// scale_frame SOURCE WIDTH HEIGHT OUTPUT WIDTH HEIGHT: scales a file of raw 32-bit BGRX pixels
// (lines top-down, packed) with the filter's own scaler and writes the result in the same form.
// For the reference test, which judges it against ffmpeg's scaler.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture/frame_scaler.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: scale_frame SOURCE WIDTH HEIGHT OUTPUT WIDTH HEIGHT\n");
    return 2;
  }
  const FrameSize source{std::atol(argv[2]), std::atol(argv[3])};
  const FrameSize output{std::atol(argv[5]), std::atol(argv[6])};
  if (source.width <= 0 || source.height <= 0 || output.width <= 0 || output.height <= 0) return 2;
  std::vector<BYTE> in(static_cast<size_t>(source.width) * source.height * 4);
  std::vector<BYTE> out(static_cast<size_t>(output.width) * output.height * 4);
  FILE* file = std::fopen(argv[1], "rb");
  if (!file || std::fread(in.data(), 1, in.size(), file) != in.size()) {
    std::fprintf(stderr, "scale_frame: cannot read %zu bytes of %s\n", in.size(), argv[1]);
    return 1;
  }
  std::fclose(file);
  FrameScaler scaler;
  if (!scaler.Prepare(source, output)) return 1;
  scaler.Scale(in.data(), source.width * 4, out.data(), output.width * 4, 0, output.height);
  file = std::fopen(argv[4], "wb");
  if (!file || std::fwrite(out.data(), 1, out.size(), file) != out.size()) return 1;
  return std::fclose(file) == 0 ? 0 : 1;
}
