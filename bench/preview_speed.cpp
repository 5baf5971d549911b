// The time the preview pane takes on the host, at each size of pane given: what DoPreview does
// once it has the stream's bytes (the structure read, its atoms told apart, the scene and the facts
// worked out, and the first picture drawn), a picture of the structure turned a little, and a
// picture while it turns (DrawMoving, which learns how many pixels it can draw in time).
//   preview_speed FILE RUNS WIDTHxHEIGHT...
// Prints a line a size: the median milliseconds of each of the three, over RUNS runs.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "bench/timing.h"
#include "thumbnails/preview.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: preview_speed FILE RUNS WIDTHxHEIGHT...\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), {});
  const int runs = std::stoi(argv[2]);
  constexpr std::uint32_t kPane = 0xFFFFFF;
  for (int i = 3; i < argc; ++i) {
    int width = 0, height = 0;
    if (std::sscanf(argv[i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1) {
      std::fputs("preview_speed: a size is WIDTHxHEIGHT\n", stderr);
      return 2;
    }
    std::optional<Preview> preview;
    const double shown = MedianMilliseconds(runs, [&] {
      preview = Preview::Of(file);
      if (preview) {
        preview->Draw(width, height, kPane);
      }
    });
    if (!preview) {
      std::fputs("preview_speed: no structure\n", stderr);
      return 1;
    }
    const auto turned = [&](Picture (Preview::*draw)(int, int, std::uint32_t)) {
      return MedianMilliseconds(runs, [&] {
        preview->TurnBy(0.05, 0.02);
        (*preview.*draw)(width, height, kPane);
      });
    };
    const double turn = turned(&Preview::Draw);
    std::printf("%.2f %.2f %.2f\n", shown, turn, turned(&Preview::DrawMoving));
  }
  return 0;
}
