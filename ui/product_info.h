#pragma once
// The texts that present the product: one place for the name, version, maker and web site.

namespace orbelan::product {

inline constexpr char kName[] = "Orbelan";
inline constexpr char kVersion[] = "1.2";
inline constexpr char kMaker[] = "Kel Systems";
inline constexpr char kMakerLine[] = "Made by Kel Systems";
inline constexpr char kWebHost[] = "www.kelsystems.example";

}  // namespace orbelan::product
