#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The two configuration files: lines of Windows-1252 text, each ended by CR LF.
namespace cfgfile {

// Hostnames hold at most 253 characters; a line is cut after this many.
constexpr int kMaxLineLength = 1024;

// Splits by the files' line rule: a line ends at CR, an LF right after that CR
// belongs to the line end, a lone LF does not end a line; a last line without a
// line end counts; an empty line counts. Stops after maxLines lines.
QStringList splitLines(const QByteArray &bytes, int maxLines, int maxLineLength = kMaxLineLength);

// Reads at most maxLines lines of the file; an unreadable or missing file gives
// no lines. Reading stops early, so a huge file costs no more than it yields.
QStringList readLines(const QString &path, int maxLines, int maxLineLength = kMaxLineLength);

// Each line followed by CR LF; no lines gives 0 bytes.
QByteArray joinLines(const QStringList &lines);

// Writes beside the file and renames it over the old one, so the file holds
// either the old content or the new one, never a part. False when it failed;
// the old file is then untouched and `why`, if given, holds the system's reason.
bool save(const QString &path, const QByteArray &content, QString *why = nullptr);

} // namespace cfgfile
