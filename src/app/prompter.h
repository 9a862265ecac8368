#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace sonaweld {

enum class MessageIcon { None, Exclamation, Question, Information, Error };
enum class MessageButtons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

// One entry of a file dialog's type list: what the user reads, and the
// patterns ("*.mp3;*.wav") it stands for.
struct FileFilter
{
    QString description;
    QString patterns;
};

// The one seam between application logic and the user's eyes: message boxes,
// questions and file dialogs. Widgets implement it with real dialogs, the
// command-line joiner with standard error, and tests with a script.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // The application box: caption "Sonaweld", exclamation icon, OK.
    virtual void appMessage(const QString &text) = 0;

    // A box with its own caption, buttons and icon.
    virtual Answer message(const QString &text, const QString &caption, MessageButtons buttons,
                           MessageIcon icon) = 0;

    // Open-file dialog allowing several files, the first filter selected.
    // Returns full paths in the dialog's order; empty when cancelled.
    virtual QStringList openFileNames(const QString &title, const QString &folder,
                                      const QList<FileFilter> &filters) = 0;

    // Save-file dialog. Empty result: cancelled. `selectedFilter`, when
    // given, is the index of the entry selected as the dialog opens (the
    // first when out of range) and receives the entry the user left chosen,
    // which decides what the name stands for.
    virtual QString saveFileName(const QString &title, const QString &initialPath,
                                 const QList<FileFilter> &filters, int *selectedFilter = nullptr) = 0;

    // The window that boxes and file dialogs belong to from now on; returns
    // the previous one. A prompter without windows has nothing to change.
    virtual QWidget *exchangeOwner(QWidget *owner)
    {
        (void)owner;
        return nullptr;
    }

    // The common "Error" box: caption "Error", OK, no icon.
    void error(const QString &text)
    {
        message(text, QStringLiteral("Error"), MessageButtons::Ok, MessageIcon::None);
    }
};

// Makes `owner` the prompter's window while it lives, so a dialog's boxes
// open over that dialog rather than under it.
class PrompterOwnerScope
{
public:
    PrompterOwnerScope(Prompter &prompter, QWidget *owner)
        : prompter_(prompter)
        , previous_(prompter.exchangeOwner(owner))
    {
    }
    ~PrompterOwnerScope() { prompter_.exchangeOwner(previous_); }
    PrompterOwnerScope(const PrompterOwnerScope &) = delete;
    PrompterOwnerScope &operator=(const PrompterOwnerScope &) = delete;

private:
    Prompter &prompter_;
    QWidget *previous_;
};

inline const QString kApplicationName = QStringLiteral("Sonaweld");

} // namespace sonaweld
