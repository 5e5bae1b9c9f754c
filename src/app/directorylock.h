#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One console per working directory. Two consoles in one directory would each
// save the address list over the other's (the operator's additions in one are
// lost at the other's next save) and both would connect to every display. The
// lock is a file of its own beside the two configuration files, which stay as
// they are; the lock of a console that crashed is taken over.
class DirectoryLock
{
public:
    static inline const QString kFileName = QStringLiteral(".rv38t-timer.lock");

    DirectoryLock();
    ~DirectoryLock();

    enum class Outcome {
        Held,      // this console holds the directory
        Busy,      // another running console holds it: stop
        Unlockable // no lock could be made (a read-only directory): nothing can be saved
                   // there either, so the console runs without one
    };
    // Takes the lock in the current directory. message says what went wrong.
    Outcome take(QString *message);

private:
    std::unique_ptr<QLockFile> m_lock;
};

// Used by main.cpp once the working directory is settled and before the window:
// false with the message printed when the console must stop.
bool takeDirectoryLock(DirectoryLock &lock);
