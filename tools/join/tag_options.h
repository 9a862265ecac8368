#pragma once

#include "media/join_plan.h"

#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace sonaweld {

// What --tag, --cover, --bitrate and --no-chapters ask of the joined file.
struct TagOptions
{
    std::vector<std::pair<std::string, std::string>> tags; // in the order given
    QString cover;
    int bitrateKbps = 0;
    bool chapters = true;
};

// "KEY=VALUE" as a tag; an empty value clears the tag. Empty when the text
// is no such pair, else the reason.
std::string parseTag(const QString &text, std::pair<std::string, std::string> &tag);

// Applies the options to a plan whose chapters and tags were read from its
// clips. Empty on success, else the reason (a cover that cannot be read or
// is no JPEG or PNG picture).
std::string applyTagOptions(const TagOptions &options, media::JoinPlan &plan);

} // namespace sonaweld
