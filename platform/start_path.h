#pragma once
// The folder a user names, made absolute and tidied by its text alone, so that a scan
// records the same paths (and matches the same ignored paths) however the folder was typed:
// "t2", "./t2", "t2//" and "/home/me/t2" all become "/home/me/t2". Links are never resolved:
// a ".." is folded only into a component that is a real folder, never into a link, where the
// kernel would climb from the link's target instead.

#include <string>
#include <string_view>

namespace orbelan {

// The working folder as the user knows it: $PWD when it names the same folder as ".",
// else the kernel's own. Empty when neither can be had.
std::string WorkingFolder();

// path made absolute against the working folder, with repeated "/" and "." components
// dropped and ".." folded where that is safe; no trailing "/" (except for "/" itself).
// An empty path stays empty; a relative path stays as typed when the working folder is gone.
std::string AbsoluteFolderPath(std::string_view path);

}  // namespace orbelan
