// The player's application id: the name of its desktop entry, metadata and icon, and the
// bus name that keeps it to one player per session (single_instance.h).
#pragma once

namespace newsbar {

inline constexpr char kApplicationId[] = "io.github.newsbar.newsbar";

}  // namespace newsbar
