"""PDF pages, boxes, inks and information entries, over pdfparse's document API.

    import pdfparse
    with pdfparse.open("job.pdf") as doc:
        print(doc.page_count, doc.pages[0].trimbox, doc.info["Producer"])

Boxes are (llx, lly, urx, ury) in default user space units. A failure raises
pdfparse.Error with the engine's code and message. A document is used by one
thread at a time; different documents may be used on different threads.
"""

import ctypes
import os
from collections import namedtuple

__all__ = ["open", "Document", "Page", "Ink", "Error"]

_LIBRARY_FILE = "libpdfparse_document.so.1"
_ARGUMENT = 64


def _library_candidates():
    named = os.environ.get("PDFPARSE_DOCUMENT_LIBRARY")
    if named:
        return [named]
    candidates = []
    try:
        from . import _location  # written when built or installed

        here = os.path.dirname(os.path.abspath(__file__))
        candidates.append(os.path.normpath(os.path.join(here, _location.LIBRARY_DIR, _LIBRARY_FILE)))
    except ImportError:
        pass
    candidates.append(_LIBRARY_FILE)  # the dynamic linker's search path
    return candidates


def _load():
    reasons = []
    for candidate in _library_candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as e:
            reasons.append(str(e))
    raise ImportError("pdfparse: cannot load the engine's library: " + "; ".join(reasons))


class _Box(ctypes.Structure):
    _fields_ = [("llx", ctypes.c_double), ("lly", ctypes.c_double), ("urx", ctypes.c_double), ("ury", ctypes.c_double)]


class _Page(ctypes.Structure):
    _fields_ = [("media_box", _Box), ("crop_box", _Box), ("bleed_box", _Box), ("trim_box", _Box),
                ("art_box", _Box), ("rotation", ctypes.c_int), ("user_unit", ctypes.c_double)]


class _Ink(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("process", ctypes.c_int)]


_lib = _load()
_handle = ctypes.c_void_p
_size = ctypes.c_size_t
for _name, _result, _args in [
    ("pdfparse_error_name", ctypes.c_char_p, [ctypes.c_int]),
    ("pdfparse_version", ctypes.c_char_p, []),
    ("pdfparse_open", ctypes.c_int, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint64, ctypes.c_uint64,
                                     ctypes.POINTER(_handle)]),
    ("pdfparse_close", None, [_handle]),
    ("pdfparse_error_message", ctypes.c_char_p, [_handle]),
    ("pdfparse_repaired", ctypes.c_int, [_handle]),
    ("pdfparse_warning_count", _size, [_handle]),
    ("pdfparse_warning", ctypes.c_char_p, [_handle, _size]),
    ("pdfparse_page_count", ctypes.c_int, [_handle, ctypes.POINTER(_size)]),
    ("pdfparse_page_info", ctypes.c_int, [_handle, _size, ctypes.POINTER(_Page)]),
    ("pdfparse_info", ctypes.c_int, [_handle, ctypes.c_char_p, ctypes.c_char_p, _size, ctypes.POINTER(_size)]),
    ("pdfparse_page_inks", ctypes.c_int, [_handle, _size, ctypes.POINTER(ctypes.POINTER(_Ink)), ctypes.POINTER(_size)]),
    ("pdfparse_document_inks", ctypes.c_int, [_handle, ctypes.POINTER(ctypes.POINTER(_Ink)), ctypes.POINTER(_size)]),
]:
    _function = getattr(_lib, _name)
    _function.restype = _result
    _function.argtypes = _args

__version__ = _lib.pdfparse_version().decode()


def _text(raw):
    return raw.decode("utf-8", "replace") if raw else ""


class Error(Exception):
    """A failed call: `code` the engine's error code, `name` its word
    ("damaged", "password", ...), `message` what happened."""

    def __init__(self, code, message):
        self.code = code
        self.name = _lib.pdfparse_error_name(code).decode()
        self.message = message
        super().__init__("%s: %s" % (self.name, message))


Ink = namedtuple("Ink", "name process")


def _box(box):
    return (box.llx, box.lly, box.urx, box.ury)


class Page:
    """One page: its boxes as (llx, lly, urx, ury), rotation (0, 90, 180 or
    270), user unit and inks."""

    def __init__(self, document, index, info):
        self._document = document
        self.index = index
        self.mediabox = _box(info.media_box)
        self.cropbox = _box(info.crop_box)
        self.bleedbox = _box(info.bleed_box)
        self.trimbox = _box(info.trim_box)
        self.artbox = _box(info.art_box)
        self.rotation = info.rotation
        self.user_unit = info.user_unit

    @property
    def inks(self):
        """The inks the page names besides Cyan, Magenta, Yellow and Black."""
        return self._document._inks(self.index)

    def __repr__(self):
        return "<pdfparse.Page %d mediabox=%r rotation=%d>" % (self.index, self.mediabox, self.rotation)


class _Pages:
    def __init__(self, document):
        self._document = document

    def __len__(self):
        return self._document.page_count

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        if index < 0:
            index += len(self)
        if index < 0:
            raise IndexError("page index out of range")
        info = _Page()
        code = _lib.pdfparse_page_info(self._document._live(), index, ctypes.byref(info))
        if code == _ARGUMENT:
            raise IndexError("page index out of range")
        self._document._check(code)
        return Page(self._document, index, info)

    def __iter__(self):
        return (self[i] for i in range(len(self)))


class _Info:
    def __init__(self, document):
        self._document = document

    def get(self, key, default=None):
        handle = self._document._live()
        raw = key.encode("utf-8")
        length = _size()
        self._document._check(_lib.pdfparse_info(handle, raw, None, 0, ctypes.byref(length)))
        if length.value == 0:
            return default
        buffer = ctypes.create_string_buffer(length.value + 1)
        self._document._check(_lib.pdfparse_info(handle, raw, buffer, len(buffer), ctypes.byref(length)))
        return buffer.raw[:length.value].decode("utf-8", "replace")

    def __getitem__(self, key):
        value = self.get(key)
        if value is None:
            raise KeyError(key)
        return value

    def __contains__(self, key):
        return self.get(key) is not None


class Document:
    """An open PDF file. Close it, or use it as a context manager."""

    def __init__(self, path, password=None, time_limit_ms=0, memory_limit_bytes=0):
        self._handle = _handle()
        code = _lib.pdfparse_open(os.fsencode(path), None if password is None else password.encode("utf-8"),
                                  time_limit_ms, memory_limit_bytes, ctypes.byref(self._handle))
        if code != 0:
            message = _text(_lib.pdfparse_error_message(self._handle))
            self.close()
            raise Error(code, message)
        self.pages = _Pages(self)
        self.info = _Info(self)

    def _live(self):
        if not self._handle:
            raise ValueError("the document is closed")
        return self._handle

    def _check(self, code):
        if code != 0:
            raise Error(code, _text(_lib.pdfparse_error_message(self._handle)))

    def _ink_list(self, inks, count):
        return [Ink(_text(inks[i].name), bool(inks[i].process)) for i in range(count.value)]

    def _inks(self, index):
        inks, count = ctypes.POINTER(_Ink)(), _size()
        self._check(_lib.pdfparse_page_inks(self._live(), index, ctypes.byref(inks), ctypes.byref(count)))
        return self._ink_list(inks, count)

    @property
    def page_count(self):
        count = _size()
        self._check(_lib.pdfparse_page_count(self._live(), ctypes.byref(count)))
        return count.value

    @property
    def inks(self):
        """The inks of every page, each once, in the order first found."""
        inks, count = ctypes.POINTER(_Ink)(), _size()
        self._check(_lib.pdfparse_document_inks(self._live(), ctypes.byref(inks), ctypes.byref(count)))
        return self._ink_list(inks, count)

    @property
    def repaired(self):
        """Whether the answers so far needed repair."""
        return bool(_lib.pdfparse_repaired(self._live()))

    @property
    def warning_count(self):
        return _lib.pdfparse_warning_count(self._live())

    @property
    def warnings(self):
        """The first warnings so far (warning_count says how many there were)."""
        handle = self._live()
        kept = min(_lib.pdfparse_warning_count(handle), 8)
        return [_text(_lib.pdfparse_warning(handle, i)) for i in range(kept)]

    def close(self):
        if self._handle:
            _lib.pdfparse_close(self._handle)
            self._handle = _handle()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        self.close()


def open(path, password=None, time_limit_ms=0, memory_limit_bytes=0):  # noqa: A001 - the module's own open
    """Opens the PDF file at `path`; raises Error when it cannot be read.
    `password` is tried after the empty one; the limits are those of
    pdfparse_open (0: the engine's defaults)."""
    return Document(path, password, time_limit_ms, memory_limit_bytes)
