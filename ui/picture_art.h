#pragma once
// The drawings behind the program's larger pictures, in plain C++ so the generator in
// tools/ needs nothing but a compiler. Each drawing is an indexed image (at most 16
// colours) that becomes an XPM file under ui/pictures/; those files are what the program
// compiles in. Change a drawing here, then rebuild the files with the update-pictures target.

#include <cstdint>
#include <string>
#include <vector>

namespace orbelan::art {

// An image of palette indices. Colours are XPM colour specs: "#RRGGBB" or "None".
struct IndexedArt {
  IndexedArt(int w, int h, std::vector<std::string> palette, std::uint8_t background);

  void Set(int x, int y, std::uint8_t index);  // points outside the image are ignored
  std::uint8_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  void Fill(int x, int y, int w, int h, std::uint8_t index);

  int width;
  int height;
  std::vector<std::string> colours;
  std::vector<std::uint8_t> pixels;
};

IndexedArt SplashArt();       // 206 x 135: a faded part of the results list
IndexedArt LogoArt();         // 133 x 74: the emblem on a night-blue ground

// The strings of an XPM image (values line, colour lines, pixel rows), without quotes.
std::vector<std::string> XpmStrings(const IndexedArt& art);
// A whole XPM file declaring `static const char* const <name>[]`.
std::string XpmFile(const IndexedArt& art, const std::string& name);

}  // namespace orbelan::art
