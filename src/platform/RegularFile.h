// Opening files the program owns (log, user database) only when they are regular files:
// a FIFO or a device under that name must neither hang the program nor be written.
#pragma once

#include <sys/types.h>

#include <QString>

namespace orvane {

// open(2) with O_CLOEXEC and O_NONBLOCK added (so a FIFO without a reader cannot block the
// open), then refused unless it is a regular file. The descriptor, or -1 with errno set
// (EINVAL when the name is something other than a regular file).
int OpenRegularFile(const QString& path, int flags, mode_t createMode = 0600);

// True when nothing is at `path` or a regular file is (symbolic links followed).
bool IsRegularFileOrMissing(const QString& path);

}  // namespace orvane
