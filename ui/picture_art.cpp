#include "ui/picture_art.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>

namespace orbelan::art {
namespace {

// ---- A small pixel font: 7 rows above the baseline, 2 below, proportional widths. ----

struct Glyph {
  std::vector<std::string> rows;  // '#' is ink; missing rows are blank
};

const std::map<char, Glyph>& Font() {
  static const std::map<char, Glyph> font = {
      {' ', {{"...", "...", "...", "...", "...", "...", "..."}}},
      {'0', {{".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}}},
      {'1', {{"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}}},
      {'2', {{".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}}},
      {'3', {{"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}}},
      {'4', {{"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}}},
      {'5', {{"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}}},
      {'6', {{"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}}},
      {'7', {{"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}}},
      {'8', {{".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}}},
      {'9', {{".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}}},
      {',', {{"..", "..", "..", "..", "..", ".#", ".#", "#."}}},
      {'%', {{"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##"}}},
      {'M', {{"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}}},
      {'R', {{"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}}},
      {'Z', {{"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}}},
      {'a', {{".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}}},
      {'c', {{"....", "....", ".###", "#...", "#...", "#...", ".###"}}},
      {'d', {{"....#", "....#", ".####", "#...#", "#...#", "#...#", ".####"}}},
      {'e', {{".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}}},
      {'g', {{".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."}}},
      {'i', {{"#", ".", "#", "#", "#", "#", "#"}}},
      {'n', {{".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#"}}},
      {'o', {{".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}}},
      {'p', {{".....", ".....", "####.", "#...#", "#...#", "#...#", "####.", "#....", "#...."}}},
      {'r', {{"....", "....", "#.##", "##..", "#...", "#...", "#..."}}},
      {'s', {{"....", "....", ".###", "#...", ".##.", "...#", "###."}}},
      {'t', {{".#..", ".#..", "####", ".#..", ".#..", ".#..", "..##"}}},
      {'y', {{".....", ".....", "#...#", "#...#", "#...#", "#...#", ".####", "....#", ".###."}}},
  };
  return font;
}

const Glyph& GlyphOf(char c) {
  const auto& font = Font();
  const auto it = font.find(c);
  if (it == font.end()) throw std::invalid_argument(std::string("no glyph for '") + c + "'");
  return it->second;
}

int TextWidth(const std::string& text) {
  int w = 0;
  for (char c : text) w += static_cast<int>(GlyphOf(c).rows[0].size()) + 1;
  return text.empty() ? 0 : w - 1;
}

// Draws text with its cap line at `top`; returns the x just past it.
int DrawText(IndexedArt& art, int x, int top, const std::string& text, std::uint8_t ink) {
  for (char c : text) {
    const Glyph& g = GlyphOf(c);
    for (std::size_t row = 0; row < g.rows.size(); ++row) {
      for (std::size_t col = 0; col < g.rows[row].size(); ++col) {
        if (g.rows[row][col] == '#') art.Set(x + static_cast<int>(col), top + static_cast<int>(row), ink);
      }
    }
    x += static_cast<int>(g.rows[0].size()) + 1;
  }
  return x;
}

void DrawTextRight(IndexedArt& art, int right, int top, const std::string& text, std::uint8_t ink) {
  DrawText(art, right - TextWidth(text), top, text, ink);
}

// 4 x 4 ordered dither, thresholds in (0, 1).
double Bayer(int x, int y) {
  static const int m[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  return (m[y & 3][x & 3] + 0.5) / 16.0;
}

// ---- The emblem: a shaded orb with a zipped folder in front of it. ----

struct EmblemInks {
  std::uint8_t orb[4];  // lightest to darkest
  std::uint8_t folderOutline, folderBack, folderBody, folderFlap;
  std::uint8_t zipDark, zipLight;
};

void DrawOrb(IndexedArt& art, double cx, double cy, double r, const EmblemInks& ink) {
  const double lx = cx - r * 0.38, ly = cy - r * 0.42;  // where the light falls
  for (int y = static_cast<int>(cy - r) - 1; y <= static_cast<int>(cy + r) + 1; ++y) {
    for (int x = static_cast<int>(cx - r) - 1; x <= static_cast<int>(cx + r) + 1; ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      if (dx * dx + dy * dy > r * r) continue;
      const double shade = std::hypot(x + 0.5 - lx, y + 0.5 - ly) / (1.45 * r);  // 0 .. ~1
      const int level = std::clamp(static_cast<int>(shade * 3.0 + Bayer(x, y)), 0, 3);
      art.Set(x, y, ink.orb[level]);
    }
  }
}

// A folder of w x h whose top-left corner is (x, y), zipped shut down its middle.
void DrawZippedFolder(IndexedArt& art, int x, int y, int w, int h, const EmblemInks& ink) {
  const int tabW = w * 2 / 5, tabH = std::max(2, h / 8);
  // The back with its tab.
  art.Fill(x, y, tabW, tabH + 1, ink.folderOutline);
  art.Fill(x + 1, y + 1, tabW - 2, tabH, ink.folderBack);
  art.Fill(x, y + tabH, w, h - tabH, ink.folderOutline);
  art.Fill(x + 1, y + tabH + 1, w - 2, h - tabH - 2, ink.folderBack);
  // The front, a little lower, and a lighter flap along its top.
  const int frontTop = y + tabH + std::max(2, h / 7);
  art.Fill(x, frontTop, w, y + h - frontTop, ink.folderOutline);
  art.Fill(x + 1, frontTop + 1, w - 2, y + h - frontTop - 2, ink.folderBody);
  art.Fill(x + 1, frontTop + 1, w - 2, std::max(1, h / 10), ink.folderFlap);
  // The zipper: teeth alternating left and right of the middle, a slider near the top.
  const int mid = x + w / 2;
  for (int ty = frontTop + 1; ty < y + h - 1; ++ty) {
    const bool left = ((ty - frontTop) / std::max(1, h / 24)) % 2 == 0;
    art.Set(left ? mid - 1 : mid, ty, ink.zipDark);
    art.Set(left ? mid : mid - 1, ty, ink.zipLight);
  }
  const int sw = std::max(4, w / 8), sh = std::max(5, h / 4);
  const int sy = frontTop + 2;
  art.Fill(mid - sw / 2 - 1, sy - 1, sw + 2, sh + 2, ink.zipDark);
  art.Fill(mid - sw / 2, sy, sw, sh, ink.zipLight);
  art.Fill(mid - 1, sy + sh / 3, 2, sh - sh / 3, ink.zipDark);  // the pull
}

}  // namespace

IndexedArt::IndexedArt(int w, int h, std::vector<std::string> palette, std::uint8_t background)
    : width(w), height(h), colours(std::move(palette)),
      pixels(static_cast<std::size_t>(w) * h, background) {
  if (colours.size() > 16) throw std::invalid_argument("more than 16 colours");
}

void IndexedArt::Set(int x, int y, std::uint8_t index) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  pixels[static_cast<std::size_t>(y) * width + x] = index;
}

void IndexedArt::Fill(int x, int y, int w, int h, std::uint8_t index) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) Set(i, j, index);
}

IndexedArt SplashArt() {
  enum : std::uint8_t { kPaper, kFace, kEdge, kHeadInk, kInk1, kInk2, kInk3, kSelect, kSelectInk };
  IndexedArt art(206, 135,
                 {"#FFFFFF", "#ECECEC", "#C4C4C4", "#8A8A8A", "#8C98B4", "#A6AFC6", "#C0C6D7",
                  "#C9D3F0", "#FBFCFF"},
                 kPaper);
  // The column header: a raised bar with one cell per column.
  struct Column {
    int left, right;
    const char* caption;
    bool alignRight;
  };
  const Column columns[] = {{0, 64, "Zipped", true}, {64, 98, "%", true}, {98, 206, "Most Recent", false}};
  const int headerH = 15, rowH = 15;
  art.Fill(0, 0, 206, headerH, kFace);
  art.Fill(0, headerH - 1, 206, 1, kEdge);
  for (const Column& c : columns) {
    art.Fill(c.right - 1, 1, 1, headerH - 2, kEdge);
    art.Fill(c.right, 1, 1, headerH - 2, kPaper);
    if (c.alignRight) DrawTextRight(art, c.right - 6, 4, c.caption, kHeadInk);
    else DrawText(art, c.left + 6, 4, c.caption, kHeadInk);
  }
  art.Fill(0, 0, 206, 1, kPaper);

  // Rows as the list shows them: sizes, share zipped, age of the newest file.
  struct Row {
    const char *zipped, *percent, *recent;
  };
  const Row rows[] = {
      {"1,204,736", "62%", "today"},        {"38,912", "7%", "yesterday"},
      {"9,437,184", "88%", "12 days ago"},  {"0", "0%", "3 days ago"},
      {"512,000", "41%", "27 days ago"},    {"2,621,440", "95%", "140 days ago"},
      {"77,824", "13%", "6 days ago"},      {"4,194,304", "70%", "61 days ago"},
  };
  const int selected = 2;
  for (int i = 0; i < 8; ++i) {
    const int top = headerH + i * rowH;
    // The further down, the fainter, as if the list faded out.
    std::uint8_t ink = i < 3 ? kInk1 : (i < 6 ? kInk2 : kInk3);
    if (i == selected) {
      art.Fill(0, top + 1, 206, rowH - 2, kSelect);
      ink = kSelectInk;
    }
    DrawTextRight(art, columns[0].right - 6, top + 4, rows[i].zipped, ink);
    DrawTextRight(art, columns[1].right - 6, top + 4, rows[i].percent, ink);
    DrawText(art, columns[2].left + 6, top + 4, rows[i].recent, ink);
  }
  return art;
}

namespace {

enum : std::uint8_t {
  kOrb0, kOrb1, kOrb2, kOrb3, kOutline, kBack, kBody, kFlap, kZipDark, kZipLight, kGround,
  kGround2, kSpark,
};

std::vector<std::string> EmblemPalette(const std::string& ground, const std::string& ground2) {
  return {"#9FEFEF", "#2FBFBF", "#008C8C", "#005A64", "#6B4208", "#D89A20", "#F8CC40",
          "#FFE890", "#3C3C3C", "#D8D8D8", ground,    ground2,   "#FFFFFF"};
}

constexpr EmblemInks kInks = {{kOrb0, kOrb1, kOrb2, kOrb3}, kOutline, kBack, kBody, kFlap,
                              kZipDark, kZipLight};

}  // namespace

IndexedArt LogoArt() {
  IndexedArt art(133, 74, EmblemPalette("#000050", "#101880"), kGround);
  // A night-blue ground that lightens toward the bottom.
  for (int y = 0; y < 74; ++y)
    for (int x = 0; x < 133; ++x)
      if (y / 74.0 > Bayer(x, y) * 1.3) art.Set(x, y, kGround2);
  // A few sparks in the sky.
  const int sparks[][2] = {{112, 9}, {124, 22}, {98, 5}, {121, 48}, {8, 64}, {104, 30}};
  for (const auto& s : sparks) {
    art.Set(s[0], s[1], kSpark);
    art.Set(s[0] - 1, s[1], kOrb1);
    art.Set(s[0] + 1, s[1], kOrb1);
    art.Set(s[0], s[1] - 1, kOrb1);
    art.Set(s[0], s[1] + 1, kOrb1);
  }
  DrawOrb(art, 44.0, 36.0, 31.0, kInks);
  DrawZippedFolder(art, 50, 30, 50, 38, kInks);
  return art;
}

std::vector<std::string> XpmStrings(const IndexedArt& art) {
  static const char kKeys[] = "abcdefghijklmnop";
  std::vector<std::string> lines;
  lines.push_back(std::to_string(art.width) + " " + std::to_string(art.height) + " " +
                  std::to_string(art.colours.size()) + " 1");
  for (std::size_t i = 0; i < art.colours.size(); ++i)
    lines.push_back(std::string(1, kKeys[i]) + " c " + art.colours[i]);
  for (int y = 0; y < art.height; ++y) {
    std::string row;
    for (int x = 0; x < art.width; ++x) row += kKeys[art.At(x, y)];
    lines.push_back(row);
  }
  return lines;
}

std::string XpmFile(const IndexedArt& art, const std::string& name) {
  std::string out = "/* XPM */\n/* Made by tools/make_pictures from ui/picture_art.cpp: edit the drawing "
                    "there and run the update-pictures target. */\nstatic const char* const " +
                    name + "[] = {\n";
  const auto lines = XpmStrings(art);
  for (std::size_t i = 0; i < lines.size(); ++i)
    out += "\"" + lines[i] + "\"" + (i + 1 < lines.size() ? ",\n" : "};\n");
  return out;
}

}  // namespace orbelan::art
