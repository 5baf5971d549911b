// A structure file as Explorer's preview pane shows it: the thumbnails' picture (the same atoms,
// view and look) at the pane's size, which the user turns, and the facts of the file under it.

#ifndef THUMBNAILS_PREVIEW_H_
#define THUMBNAILS_PREVIEW_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "thumbnails/picture.h"
#include "thumbnails/preview_facts.h"

class Preview {
 public:
  // The preview of the structure `file` holds (as ReadStructure reads it); none where it holds no
  // atom to show.
  static std::optional<Preview> Of(std::string_view file);

  const Facts& facts() const { return facts_; }

  // Turns the structure about the picture's middle by `right` radians about its vertical axis
  // (the front moving to the right) and `up` about its horizontal axis (the front moving up).
  void TurnBy(double right, double up);

  // The picture, `width` × `height` pixels (each at least 1), on `background` (0xRRGGBB).
  Picture Draw(int width, int height, std::uint32_t background);

  // The picture while the structure is being turned, to be stretched to `width` × `height`: the
  // same, of fewer pixels where a picture of them all would take longer than a frame of a
  // smooth turn may, and, where even the fewest would (a large structure), of an even sample of
  // its atoms. How much it can draw in time is learnt from the pictures it has drawn.
  Picture DrawMoving(int width, int height, std::uint32_t background);

 private:
  Preview(Scene scene, Facts facts) : scene_(std::move(scene)), facts_(std::move(facts)) {}

  // The picture of every `every`th sphere, `width` × `height`; and what it took.
  Picture Timed(int width, int height, std::uint32_t background, std::size_t every,
                double* milliseconds);

  Scene scene_;
  Facts facts_;
  Turn turn_ = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  // Milliseconds a pixel, of the last picture drawn; every how many spheres one is drawn while
  // turning.
  double pixel_milliseconds_ = 0;
  std::size_t moving_every_ = 1;
};

#endif  // THUMBNAILS_PREVIEW_H_
