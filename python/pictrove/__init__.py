"""Icons out of Windows programs, libraries and icon files.

The engine of Pictrove and its command-line tool, pictrove-cli: every
source kind the tool reads (PE32, PE32+, NE, ICO, CUR, ANI, collection
files, a system library's .mun file, installer databases, app packages,
AppImages and macOS icon files), the same choices and the same bytes.

    >>> import pictrove
    >>> with pictrove.open("app.exe") as icons:
    ...     png = icons[0].png(256)          # the main icon as a 256 px PNG
    >>> record = pictrove.scan("app.exe")    # pictrove-cli scan's record

Files and buffers are read lazily and in place, with the GIL let go, so the
objects may be used from several threads at once.
"""

import collections.abc as _abc
import json as _json
import os as _os
from concurrent.futures import ThreadPoolExecutor as _Pool

from ._pictrove import (  # noqa: F401
    Error,
    FileError,
    FormatError,
    Icon,
    IconSource,
    StoredImage,
    __version__,
    open,
    scan,
    _dhash_rgba,
)

__all__ = ["open", "scan", "scan_many", "dhash", "hamming", "Error", "FileError", "FormatError",
           "IconSource", "Icon", "StoredImage"]

# The tool's message, as it stands, for a file that cannot be read; errno and
# filename tell the rest, as an OSError's do.
FileError.__str__ = lambda self: str(self.args[0]) if len(self.args) == 1 else OSError.__str__(self)

_abc.Sequence.register(IconSource)
# What a Sequence offers beyond its length and items.
IconSource.index = _abc.Sequence.index
IconSource.count = _abc.Sequence.count


def scan_many(paths, jobs=None, all_icons=False, thumbnail=None):
    """Yields scan(path, all_icons, thumbnail) for every path, in input order.

    The files are read on `jobs` worker threads (the processors by default)
    with the GIL let go; at most twice as many records as workers are waiting
    at any time, so memory stays flat over any number of paths, and `paths`
    may be an endless iterator.
    """
    if isinstance(paths, (str, bytes, bytearray, _os.PathLike)):
        # One name would be scanned a character at a time.
        raise TypeError("scan_many() takes an iterable of paths; scan() takes one")
    if jobs is None:
        jobs = _os.cpu_count() or 1
    if jobs < 1:
        raise ValueError("jobs must be at least 1")
    pool = _Pool(max_workers=jobs, thread_name_prefix="pictrove")
    waiting = []
    try:
        for path in paths:
            waiting.append(pool.submit(scan, path, all_icons, thumbnail))
            if len(waiting) >= 2 * jobs:
                yield waiting.pop(0).result()
        while waiting:
            yield waiting.pop(0).result()
    finally:
        pool.shutdown(wait=True, cancel_futures=True)


def dhash(image):
    """The difference hash (an int) of an RGBA picture.

    `image` is a numpy uint8 array of shape (height, width, 4), or anything
    with Pillow's convert("RGBA") and tobytes(), such as a PIL.Image. The
    hash is that of pictrove-cli scan and Icon.dhash(): composited over
    white, made grey, shrunk to 9 x 8 with a box filter, one bit per pair
    of neighbours. Records hash the icon at 32 x 32; hash pictures of that
    size (Icon.rgba(32), or a 32 px PNG) to compare with them.
    """
    if hasattr(image, "convert") and hasattr(image, "tobytes"):
        picture = image.convert("RGBA")
        width, height = picture.size
        return _dhash_rgba(picture.tobytes(), width, height)
    shape = getattr(image, "shape", None)
    if shape is None or len(shape) != 3 or shape[2] != 4 or str(getattr(image, "dtype", "")) != "uint8":
        raise ValueError("dhash() takes a (height, width, 4) uint8 array or a Pillow image")
    if not image.flags.c_contiguous:
        image = image.copy()
    return _dhash_rgba(image, shape[1], shape[0])


def hamming(a, b):
    """How many of the 64 bits of two hashes differ: 0 for the same picture."""
    return bin((a ^ b) & 0xFFFFFFFFFFFFFFFF).count("1")
