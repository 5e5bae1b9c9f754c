#include "app/directorylock.h"
#include "app/mainwindow.h"
#include "app/options.h"
#include "app/remoteservices.h"
#include "app/rooms.h"
#include "app/unixsignals.h"
#include "app/workdir.h"
#include "core/qtsockets.h"
#include "standby/followed.h"
#include "standby/follower.h"
#include "remote/remoteserver.h"
#include "standby/mainlink.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStyleFactory>

#include <cstdio>

#ifdef RV38T_REPORT_SHOWN
#include "shownreporter.h"
#endif

int main(int argc, char *argv[])
{
#ifdef RV38T_REPORT_SHOWN
    ShownReporter shown; // the start-up benchmark's build only: "shown N ms" at first paint
#endif
    QApplication::setApplicationName(QStringLiteral("rv38t-timer"));
    QApplication::setApplicationVersion(QStringLiteral("1.0A"));
    // Help, version and a wrong command line need no display server: answered
    // before one is opened, so they work in a terminal without one. Anything
    // else is parsed again below, once Qt has taken its own options (-platform
    // ...) out.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        const ParsedOptions early = parseOptions(arguments);
        if (early.outcome == ParsedOptions::Outcome::ExitOk) {
            const QCoreApplication core(argc, argv); // names the program in the help text
            std::fputs(qPrintable(parseOptions(QCoreApplication::arguments()).message), stdout);
            return 0;
        }
        if (early.outcome == ParsedOptions::Outcome::ExitError && early.final) {
            std::fprintf(stderr, "%s\n", qPrintable(early.message));
            return 2;
        }
    }
    QApplication app(argc, argv);

    // Options are settled before any window exists: one that cannot be honoured
    // stops the program here.
    const ParsedOptions parsed = parseOptions(QApplication::arguments());
    if (parsed.outcome != ParsedOptions::Outcome::Run) {
        const bool ok = parsed.outcome == ParsedOptions::Outcome::ExitOk;
        std::fputs(qPrintable(parsed.message), ok ? stdout : stderr);
        if (!parsed.message.endsWith(QLatin1Char('\n')))
            std::fputc('\n', ok ? stdout : stderr);
        return ok ? 0 : 2;
    }
    // The files are read and written relative to the current directory: it is
    // settled before the window reads them.
    const QString notEntered = workdir::enter(parsed.options);
    if (!notEntered.isEmpty()) {
        std::fprintf(stderr, "rv38t-timer: %s\n", qPrintable(notEntered));
        return 1;
    }

    // What the options ask to listen on is bound now: a port in use or an
    // address not on this machine stops the program before the window opens.
    QString remoteError;
    const std::unique_ptr<RemoteServices> remote
        = RemoteServices::start(parsed.options, &remoteError);
    if (!remoteError.isEmpty()) {
        std::fprintf(stderr, "rv38t-timer: %s\n", qPrintable(remoteError));
        return 2;
    }
    if (remote)
        std::fputs(qPrintable(remote->summary()), stderr);

    // One look on every desktop: the layout is fixed to the pixel.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // Caught from here on, so a signal during start-up is not a kill: it waits
    // in the pipe and closes the window once the event loop runs.
    MainWindow *windowToClose = nullptr;
    UnixSignals signalsToClose([&windowToClose](int) {
        if (windowToClose)
            windowToClose->close();
        else
            QCoreApplication::exit(0);
    });

    // One console per directory, taken once the directory is settled and
    // before the window: a second console stops here.
    DirectoryLock directoryLock;
    if (!takeDirectoryLock(directoryLock))
        return 1;

    QtSocketFactory sockets;
    MainWindow window(sockets);
    // A termination signal closes the window as the operator's close does.
    windowToClose = &window;
    window.Form_Load();
    if (remote)
        wireRemote(window, remote->hub());
    QtMainLink::Fence fence;
    if (remote && remote->http()) {
        // What a main it follows is told: where this console's own remote
        // control listens (":PORT" when on every address: the main sees which).
        const QHostAddress at = remote->http()->address();
        const bool any
            = at == QHostAddress::Any || at == QHostAddress::AnyIPv4 || at == QHostAddress::AnyIPv6;
        const QString host = any ? QString()
                             : at.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QLatin1Char('[') + at.toString() + QLatin1Char(']')
                                 : at.toString();
        fence.announce = host + QLatin1Char(':') + QString::number(remote->http()->port());
        fence.token = parsed.options.remoteToken.toUtf8();
        wireFencing(window, fence.announce, fence.token);
    }
    if (!parsed.options.standby.isEmpty()) {
        // Checked when the options were parsed (with --remote, so fencing is
        // wired above); nothing connects to a display from here on.
        followed::MainAddress main;
        QString unused;
        followed::parseMain(parsed.options.standby, &main, &unused);
        Follower *follower
            = wireStandby(window, main, std::make_unique<QtMainLink>(main, fence), &remote->hub());
        follower->start();
    }
#ifdef RV38T_REPORT_SHOWN
    window.installEventFilter(&shown);
#endif
    window.show();
    const int status = app.exec();
    // Closed on purpose: a standby following this console takes over at once.
    if (remote && remote->http())
        remote->http()->goingAway();
    return status;
}
