// The remote control's request handling on arbitrary bytes: the request head,
// then the route and the JSON command body. Whatever comes in, the answer is a
// command within its ranges or an error status with a message.

#include "remote/command.h"
#include "remote/httphead.h"
#include "remote/listenaddress.h"

#include <QHostAddress>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    const QByteArray head = end < 0 ? bytes : bytes.left(end);
    const QByteArray body = end < 0 ? QByteArray() : bytes.mid(end + 4);

    HttpHead h;
    int status = 0;
    QString error;
    if (httphead::parse(head, &h, &status, &error)) {
        // An absolute-form target leaves a path, its authority the host.
        if (h.contentLength < 0 || !h.target.startsWith('/'))
            std::abort();
        // Only this server's own names pass the Host check, always with the port.
        if (listenaddress::hostNamesServer(h.host, 8080, {QByteArray("show.local")}, nullptr)
            && !h.host.toLower().endsWith(":8080"))
            std::abort();
        // What the head says is a command is what the route makes one of.
        const remotecmd::Route r = remotecmd::route(h.method, h.target, body);
        const bool command = remotecmd::isCommand(h.method, h.target);
        if ((r.kind == remotecmd::Route::Kind::Command) && !command)
            std::abort();
        if (command && r.kind == remotecmd::Route::Kind::None
            && (r.parsed.status == 404 || r.parsed.status == 405))
            std::abort();
    } else if (status != 400 && status != 431 && status != 501 && status != 505) {
        std::abort();
    }

    // The body against every command path, whether or not the head parsed.
    for (const char *path : {"/api/time", "/api/run", "/api/nudge", "/api/state"}) {
        const remotecmd::Route r
            = remotecmd::route(end < 0 ? QByteArray("POST") : h.method, path, body);
        if (r.kind == remotecmd::Route::Kind::Command) {
            const Command &c = r.parsed.command;
            if (c.kind == Command::Kind::SetTime
                && (c.hours < 0 || c.hours > remotecmd::kMaxHours || c.minutes < 0 || c.minutes > 59
                    || c.seconds < 0 || c.seconds > 59))
                std::abort();
            if (c.kind == Command::Kind::Nudge && std::abs(c.seconds) > remotecmd::kMaxNudge)
                std::abort();
        } else if (r.kind == remotecmd::Route::Kind::None && r.parsed.error.isEmpty()) {
            std::abort();
        }
    }
    return 0;
}
