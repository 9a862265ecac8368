#include "medialist/media_item.h"

#include "app/paths.h"

#include <cstring>
#include <utility>

namespace sonaweld {

ItemTable::ItemTable()
    : items_(std::make_unique<std::array<MediaItem, kMaxItems>>())
{
}

QString ItemTable::pathAt(int index) const
{
    return QString::fromUtf8((*items_)[index].path);
}

bool ItemTable::append(const QString &path, ReferenceTime duration)
{
    if (count_ >= kMaxItems || !pathFits(path))
        return false;
    const QByteArray bytes = path.toUtf8();
    if (bytes.size() >= kPathBufferBytes)
        return false;
    MediaItem &item = (*items_)[count_];
    std::memcpy(item.path, bytes.constData(), static_cast<size_t>(bytes.size()) + 1);
    item.duration = duration;
    ++count_;
    return true;
}

void ItemTable::removeItemAt(int index)
{
    auto &items = *items_;
    for (int i = index; i < count_ - 1; ++i) {
        std::memcpy(items[i].path, items[i + 1].path, std::strlen(items[i + 1].path) + 1);
        items[i].duration = items[i + 1].duration;
    }
    --count_;
}

void ItemTable::exchange(int a, int b)
{
    std::swap((*items_)[a], (*items_)[b]);
}

QString durationText(ReferenceTime duration)
{
    return QString::number(duration / kUnitsPerSecond);
}

QString itemNameText(const QString &path)
{
    QString name;
    fileNameOfPath(path, name);
    return name;
}

} // namespace sonaweld
