// Writes the program's drawn pictures as XPM files into the folder given (ui/pictures).
// Run through the update-pictures target; the files it writes are committed.

#include <fstream>
#include <iostream>
#include <string>

#include "ui/picture_art.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_pictures <output folder>\n";
    return 2;
  }
  const std::string folder = argv[1];
  struct Output {
    const char* file;
    const char* name;
    orbelan::art::IndexedArt art;
  };
  const Output outputs[] = {
      {"splash.xpm", "splash_xpm", orbelan::art::SplashArt()},
      {"logo.xpm", "logo_xpm", orbelan::art::LogoArt()},
  };
  for (const Output& o : outputs) {
    const std::string path = folder + "/" + o.file;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << orbelan::art::XpmFile(o.art, o.name);
    if (!file.flush()) {
      std::cerr << "make_pictures: cannot write " << path << "\n";
      return 1;
    }
  }
  return 0;
}
