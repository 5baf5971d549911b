// What the preview pane says of a structure file under its picture: the title the file gives
// itself, and a line of what the picture shows: its formula, its atoms, its chains, and the
// experimental method and resolution where the file gives them.

#ifndef THUMBNAILS_PREVIEW_FACTS_H_
#define THUMBNAILS_PREVIEW_FACTS_H_

#include <string>
#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/structure.h"

// Each a line of UTF-8 text, without control characters: the title as the file writes it, empty
// where it gives none; the summary, such as "C16H13ClN2O · 33 atoms" or "C1495H2385N407O456S14 ·
// 4,937 of 5,112 atoms shown · 4 chains · X-RAY DIFFRACTION, 2.55 Å".
struct Facts {
  std::string title;
  std::string summary;
};

// The facts of `structure`, whose picture shows `shown` (as AtomsToShow tells them): the formula
// of the atoms shown in Hill's order (carbon, hydrogen, then the others by their symbols; all by
// their symbols where there is no carbon), their number, and the file's where it holds more (of
// water and ions, which the picture hides), the polymer chains, the method and the resolution.
Facts FactsOf(const Structure& structure, const std::vector<Shown>& shown);

#endif  // THUMBNAILS_PREVIEW_FACTS_H_
