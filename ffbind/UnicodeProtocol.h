// The "unicode" protocol: file names handed to the libraries as "unicode:utf8:" URLs, served by
// a custom I/O context because the libraries no longer accept registered protocols.
#ifndef SOUNDPICK_FFBIND_UNICODEPROTOCOL_H
#define SOUNDPICK_FFBIND_UNICODEPROTOCOL_H

// Keeps the protocol's checks; the I/O context does the serving. Returns true.
bool RegisterUnicodeProtocol();

#endif
