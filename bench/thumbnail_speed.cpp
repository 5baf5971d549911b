// The time a thumbnail takes on the host: reading a structure from its bytes (already in memory,
// as the handler has them once it has read its stream) and telling what each atom is, and
// choosing the view and drawing it at each size given.
//   thumbnail_speed FILE RUNS CX...
// Prints the median milliseconds of the reading, then of the drawing at each CX, over RUNS runs.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "thumbnails/meaning.h"
#include "thumbnails/picture.h"
#include "thumbnails/structure.h"
#include "thumbnails/view.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: thumbnail_speed FILE RUNS CX...\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), {});
  const int runs = std::stoi(argv[2]);
  std::vector<Shown> atoms;
  std::printf("%.2f", MedianMilliseconds(runs, [&] { atoms = AtomsToShow(ReadStructure(file)); }));
  if (atoms.empty()) {
    std::fputs("\nthumbnail_speed: no structure\n", stderr);
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    const int cx = std::stoi(argv[i]);
    std::printf(" %.2f", MedianMilliseconds(runs, [&] {
                  // As Thumbnail does: the atoms that would hide the rest left out of a copy.
                  const View view = ViewOf(atoms);
                  if (!view.lipids_cut) {
                    DrawAtoms(atoms, view, cx);
                    return;
                  }
                  std::vector<Shown> shown = atoms;
                  LeaveOutWhatHides(view, &shown);
                  DrawAtoms(shown, view, cx);
                }));
  }
  std::printf("\n");
  return 0;
}
