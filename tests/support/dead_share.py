#!/usr/bin/python3
"""Mounts a file system whose files never answer, as a network share that went away:
stat and open on each NAME block for ten minutes.

    dead_share.py MOUNTPOINT NAME...   (in the foreground; fusermount3 -u -z MOUNTPOINT ends it)

Needs fuse3, python3-fusepy, /dev/fuse and the right to mount."""
import errno
import stat
import sys
import time

from fusepy import FUSE, FuseOSError, Operations

NEVER = 600


class DeadShare(Operations):
    def __init__(self, names):
        self.names = frozenset(names)

    def getattr(self, path, fh=None):
        if path == '/':
            return {'st_mode': stat.S_IFDIR | 0o755, 'st_nlink': 2}
        if path.lstrip('/') not in self.names:
            raise FuseOSError(errno.ENOENT)
        time.sleep(NEVER)
        return {'st_mode': stat.S_IFREG | 0o644, 'st_nlink': 1, 'st_size': 1 << 20}

    def readdir(self, path, fh):
        return ['.', '..', *sorted(self.names)]

    def open(self, path, flags):
        time.sleep(NEVER)
        return 0


if __name__ == '__main__':
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    FUSE(DeadShare(sys.argv[2:]), sys.argv[1], foreground=True, nothreads=False, ro=True)
