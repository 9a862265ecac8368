#include "console_prompter.h"

#include <cstdio>

namespace sonaweld {

void ConsolePrompter::appMessage(const QString &text)
{
    std::fprintf(stderr, "sonaweld-join: %s\n", text.toLocal8Bit().constData());
}

Answer ConsolePrompter::message(const QString &text, const QString &caption, MessageButtons buttons,
                                MessageIcon)
{
    std::fprintf(stderr, "sonaweld-join: %s: %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    return buttons == MessageButtons::YesNo ? Answer::No : Answer::Ok;
}

} // namespace sonaweld
