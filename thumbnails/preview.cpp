#include "thumbnails/preview.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>
#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/structure.h"
#include "thumbnails/vector.h"
#include "thumbnails/view.h"

namespace {

// What a picture of a turn may take, of the 33 ms of a frame at 30 a second: the rest is the
// window's, which stretches it into the pane and writes the facts.
constexpr double kFrameMilliseconds = 20;
// While turning, a picture has at least this share of the pane's width and height.
constexpr double kLeastShare = 0.25;

}  // namespace

std::optional<Preview> Preview::Of(std::string_view file) {
  const Structure structure = ReadStructure(file);
  std::vector<Shown> atoms = AtomsToShow(structure);
  if (atoms.empty()) {
    return std::nullopt;
  }
  Facts facts = FactsOf(structure, atoms);
  // As the thumbnail first shows it: a membrane cut open before the protein in it.
  const View view = ViewOf(atoms);
  LeaveOutWhatHides(view, &atoms);
  return Preview(SceneOf(atoms, view), std::move(facts));
}

void Preview::TurnBy(double right, double up) {
  // The rows of the turn are the picture's axes: turning what is seen turns them the other way
  // round, x and z about y, then y and z about x; a rotation still, however many turns add up
  // their rounding.
  turn_ = Orthonormal(Turned(Turned(turn_, 1, -right), 0, up));
}

Picture Preview::Timed(int width, int height, std::uint32_t background, std::size_t every,
                       double* milliseconds) {
  const auto start = std::chrono::steady_clock::now();
  Picture picture = DrawTurned(scene_, turn_, width, height, background, every);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  *milliseconds = took.count();
  pixel_milliseconds_ = *milliseconds / (static_cast<double>(width) * height);
  return picture;
}

Picture Preview::Draw(int width, int height, std::uint32_t background) {
  double milliseconds = 0;
  return Timed(width, height, background, 1, &milliseconds);
}

Picture Preview::DrawMoving(int width, int height, std::uint32_t background) {
  const double pixels = static_cast<double>(width) * height;
  const double share =
      pixel_milliseconds_ > 0
          ? std::clamp(std::sqrt(kFrameMilliseconds / (pixel_milliseconds_ * pixels)), kLeastShare,
                       1.0)
          : 1.0;
  double milliseconds = 0;
  Picture picture = Timed(std::max(1, static_cast<int>(std::lround(width * share))),
                          std::max(1, static_cast<int>(std::lround(height * share))), background,
                          moving_every_, &milliseconds);
  // Where the fewest pixels still take too long, it is the spheres that cost: fewer of them the
  // next time, and more again once there is time to spare.
  if (share <= kLeastShare && milliseconds > kFrameMilliseconds) {
    moving_every_ = static_cast<std::size_t>(
        std::ceil(static_cast<double>(moving_every_) * milliseconds / kFrameMilliseconds));
  } else if (milliseconds < kFrameMilliseconds / 2) {
    moving_every_ = std::max<std::size_t>(1, moving_every_ / 2);
  }
  return picture;
}
