// A small bitmap font for the labels of pictures morvek-render draws: printable
// ASCII in cells of 5 x 9 pixels (7 rows above the baseline, 2 for
// descenders).
#ifndef MORVEK_RENDER_BITMAPFONT_H
#define MORVEK_RENDER_BITMAPFONT_H

namespace MorvekRender {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 9;

// True when pixel (x, y) of the character's cell is ink; characters without
// a glyph are drawn as '?'.
bool glyphInk(char c, int x, int y);

} // namespace MorvekRender

#endif
