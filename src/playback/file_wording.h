#pragma once

// What the player tells the user of a file, in words of its own: GStreamer's messages are
// English and name elements; these are Spanish and name the file.

#include <QString>

namespace melofon::playback {

// «path», in the platform's separators.
QString quoted(const QString& path);
QString fromUtf8(const char* text);

// The reason a path is no file to play, or empty. Only regular files are opened: a FIFO or
// a device would block the reader until someone writes to it. It looks at the file system,
// so it is never called on the window's thread nor under a lock.
QString refusalOf(const QString& path);

// The file took longer than a player waits for an answer.
QString noAnswer(const QString& file);

} // namespace melofon::playback
