#pragma once

#include <QIcon>

namespace sonaweld {

// Resource numbers of the program's icons.
namespace IconId {
inline constexpr int kMainFrame = 128;
inline constexpr int kAdd = 140;
inline constexpr int kOptions = 146;
inline constexpr int kHelp = 148;
inline constexpr int kMoveUp = 150;
inline constexpr int kMoveDown = 151;
inline constexpr int kDelete = 152;
inline constexpr int kDeleteAll = 154;
inline constexpr int kExit = 159;
inline constexpr int kJoin = 160;
} // namespace IconId

// The image of an icon resource; a null icon for an unknown number.
QIcon iconForResource(int resourceId);

} // namespace sonaweld
