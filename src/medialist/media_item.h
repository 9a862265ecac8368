#pragma once

#include "media/wave_format.h"

#include <QString>

#include <array>
#include <memory>

namespace sonaweld {

using media::kUnitsPerSecond;
using media::ReferenceTime;

inline constexpr int kMaxItems = 1000;
// UTF-8 bytes a stored path may hold, terminator included (POSIX PATH_MAX).
inline constexpr int kPathBufferBytes = 4096;

struct MediaItem
{
    char path[kPathBufferBytes];
    ReferenceTime duration;
};

// The ordered list of sources a join plays one after another. All entries are
// allocated once with the table, so editing never allocates and the table can
// never grow past kMaxItems.
class ItemTable
{
public:
    ItemTable();

    int itemCount() const { return count_; }
    bool isFull() const { return count_ == kMaxItems; }

    QString pathAt(int index) const;
    ReferenceTime durationAt(int index) const { return (*items_)[index].duration; }

    // Appends one entry; false when the table is full or the path does not fit
    // the entry (nothing is cut).
    bool append(const QString &path, ReferenceTime duration);
    void removeItemAt(int index);
    // Exchanges entries a and b, both fields together.
    void exchange(int a, int b);
    void clear() { count_ = 0; }

private:
    std::unique_ptr<std::array<MediaItem, kMaxItems>> items_;
    int count_ = 0;
};

// Whole seconds for display, truncated toward zero.
QString durationText(ReferenceTime duration);

// Column-0 text of an item: its file name, or empty for an empty path.
QString itemNameText(const QString &path);

} // namespace sonaweld
