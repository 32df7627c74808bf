// Hand-run: how long loading and saving the settings file take for a file at the read
// limit and for huge files. Usage: settings_file_bench [folder] (default: $TMPDIR or /tmp).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/ini_profile.h"
#include "settings/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A settings file of about size bytes, the worst case for loading: a full MAIN section
// that goes on with short keys of its own to the end.
void MakeFile(const std::string& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[MAIN]\r\nminSize=10\r\nNumFav=50\r\n";
  for (int n = 1; n <= 50; ++n) out << "Fav" << n << "=/home/user/folder" << n << "/\r\n";
  std::size_t written = 40 + 50 * 30;
  for (std::size_t i = 0; written < size; ++i) {
    const std::string number = std::to_string(i);
    out << 'k' << number << "=v\r\n";
    written += number.size() + 5;
  }
}

void Measure(const std::string& folder, std::size_t size, bool save) {
  orbelan::Settings settings;
  settings.SetProgramDir(folder + "orbelan");
  settings.FileName = folder + "orbelan-bench.dat";
  MakeFile(settings.FileName, size);
  double loadBest = 1e9, saveBest = 1e9;
  for (int run = 0; run < 5; ++run) {
    auto start = Clock::now();
    settings.LoadSettings();
    loadBest = std::min(loadBest, Millis(Clock::now() - start));
    if (save) {
      settings.Favorites.Items[0] = "/changed/" + std::to_string(run) + "/";
      start = Clock::now();
      settings.SaveSettings();
      saveBest = std::min(saveBest, Millis(Clock::now() - start));
    }
  }
  std::printf("%10zu bytes: load %7.2f ms", size, loadBest);
  if (save) std::printf(", save %7.2f ms", saveBest);
  std::printf("  (best of 5)\n");
  ::unlink(settings.FileName.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
  if (folder.back() != '/') folder.push_back('/');
  Measure(folder, 4096, true);
  Measure(folder, orbelan::kIniReadLimit, true);
  Measure(folder, 50u << 20, false);
  Measure(folder, 200u << 20, false);
  return 0;
}
