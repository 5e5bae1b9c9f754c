#pragma once

#include <QByteArray>

// How two consoles that share a token prove it to each other without sending
// it: one sends a fresh challenge, the other answers with a keyed hash of it.
namespace keyproof {

// 32 random hex digits, fresh for every question.
QByteArray challenge();
// HMAC-SHA256 of the challenge keyed with the token, in hex.
QByteArray answer(const QByteArray &token, const QByteArray &challenge);
// The answer compared in constant time.
bool proves(const QByteArray &token, const QByteArray &challenge, const QByteArray &answer);

} // namespace keyproof
