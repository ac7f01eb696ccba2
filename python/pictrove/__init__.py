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
    Index,
    StoredImage,
    __version__,
    open,
    scan,
    _dhash_rgba,
    _IndexBuilder,
    _ReportBuilder,
)

__all__ = ["open", "scan", "scan_many", "dhash", "hamming", "Index", "build_index", "clusters", "report", "Error",
           "FileError", "FormatError", "IconSource", "Icon", "StoredImage"]

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


# --- corpora: records, the look-alike index, families, the report ----------

def _add_records(builder, records):
    """Feeds `builder` the records: one records file (a path), or an
    iterable of record dicts (as scan() gives them) and records files."""
    if isinstance(records, (str, _os.PathLike)):
        records = [records]
    elif isinstance(records, (dict, bytes, bytearray)):
        raise TypeError("records are an iterable of record dicts or records files, or one records file")
    for record in records:
        if isinstance(record, dict):
            builder.add(_json.dumps(record, separators=(",", ":")))
        elif isinstance(record, (str, _os.PathLike)):
            builder.add_file(record)
        else:
            raise TypeError("a record is a dict (as scan() gives it) or the path of a records file, not "
                            + type(record).__name__)
    return builder


def _jobs(jobs):
    if jobs is None:
        return _os.cpu_count() or 1
    if jobs < 1:
        raise ValueError("jobs must be at least 1")
    return jobs


def _similar(self, reference, max_distance=10, all_icons=False):
    """The icons within max_distance of a difference hash (an int) or of an
    Icon's, nearest first, as dicts as similar --index --json prints them."""
    if isinstance(reference, Icon):
        reference = reference.dhash()
    if isinstance(reference, bool) or not isinstance(reference, int):
        raise TypeError("similar() takes a difference hash (an int) or an Icon")
    if not 0 <= reference < 1 << 64:
        raise ValueError("a difference hash is 64 bits")
    return self._similar(reference, max_distance, all_icons)


Index.similar = _similar


def build_index(records, path, groups=True):
    """Writes the look-alike index of the records to `path` (whole or not at
    all), as pictrove-cli index does, and opens it. `records` is a records
    file, or an iterable of record dicts and records files. Lines that are no
    scan record are counted in the index's `skipped`; groups=False leaves the
    group hashes out (--no-groups)."""
    return _add_records(_IndexBuilder(groups), records).write(path)


def clusters(records_or_index, radius=4, min_size=2, all_icons=False, jobs=None):
    """Yields the icon families of an Index, or of records (built into an
    index in memory), largest first, as dicts as pictrove-cli clusters prints
    them."""
    if isinstance(records_or_index, Index):
        index = records_or_index
    else:
        index = _add_records(_IndexBuilder(True), records_or_index).in_memory()
    for line in index._clusters(radius, min_size, all_icons, _jobs(jobs)):
        yield _json.loads(line)


def report(records, path, radius=4, min_size=2, all_icons=False, jobs=None):
    """Writes the HTML page of the records' families to `path` (whole or not
    at all), as pictrove-cli report does. Returns how many lines of records
    files were no scan record."""
    return _add_records(_ReportBuilder(), records).write(path, radius, min_size, all_icons, _jobs(jobs))
