#pragma once

#include <QCursor>
#include <QIcon>
#include <QUrl>

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

inline constexpr int kHandCursorId = 141;
inline constexpr int kHoverSoundId = 144;

// The image of an icon resource; a null icon for an unknown number.
QIcon iconForResource(int resourceId);
// The hand shown over buttons and links; the platform's own pointing hand
// for an unknown number.
QCursor cursorForResource(int resourceId);
// Where a sound resource lies, for QSoundEffect; empty for an unknown number.
QUrl soundForResource(int resourceId);

} // namespace sonaweld
