// The thumbnail of a structure file: its atoms read (thumbnails/structure.h), what each is worked
// out (thumbnails/meaning.h), the view chosen (thumbnails/view.h) and the picture drawn
// (thumbnails/picture.h).

#ifndef THUMBNAILS_THUMBNAIL_H_
#define THUMBNAILS_THUMBNAIL_H_

#include <optional>
#include <string_view>

#include "thumbnails/picture.h"

// The picture of the structure `file` holds (as ReadStructure reads it), the longer side
// `longer_side` pixels (at least 1); none where it holds no atom to show.
std::optional<Picture> Thumbnail(std::string_view file, int longer_side);

#endif  // THUMBNAILS_THUMBNAIL_H_
