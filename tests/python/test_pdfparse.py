"""The Python module over the engine's library, with PDFs written here."""

import os
import shutil
import subprocess

import pytest

import pdfparse

TINT = b"<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>"


def assemble(objects, info=2):
    """A PDF of `objects` (numbered from 1) with a cross-reference table."""
    out = bytearray(b"%PDF-1.7\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, info, xref)
    return bytes(out)


JOB = assemble([
    b"<< /Type /Catalog /Pages 3 0 R >>",
    b"<< /Producer (Imposer \\351dition) /Title <FEFF00480069> >>",
    b"<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R] /Count 3 /MediaBox [0 0 595 842] >>",
    b"<< /Type /Page /Parent 3 0 R /TrimBox [10 10 585 832] /Rotate 450 /UserUnit 1.5"
    b" /Resources << /ColorSpace << /S [/Separation /Varnish /DeviceCMYK " + TINT + b"] >> >> >>",
    b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 300] /CropBox [-5 10 290 400] /BleedBox [0 0 1]"
    b" /Resources << /ColorSpace << /N [/DeviceN [/Gold /Magenta] /DeviceCMYK " + TINT + b"] >> >> >>",
    b"<< /Type /Page /Parent 3 0 R /Resources << /ColorSpace << /S [/Separation /Gold /DeviceCMYK " + TINT +
    b"] >> >> >>",
])


@pytest.fixture
def files(tmp_path):
    def write(name, data):
        path = tmp_path / name
        path.write_bytes(data)
        return path
    return write


def test_pages_boxes_info_and_inks(files):
    with pdfparse.open(files("job.pdf", JOB)) as doc:
        assert doc.page_count == 3 and len(doc.pages) == 3
        first, second = doc.pages[0], doc.pages[1]
        assert first.mediabox == first.cropbox == first.bleedbox == first.artbox == (0, 0, 595, 842)
        assert first.trimbox == (10, 10, 585, 832)
        assert (first.rotation, first.user_unit) == (90, 1.5)
        # The crop box is clipped to the media box; a malformed bleed box is the crop box.
        assert second.cropbox == second.bleedbox == (0, 10, 290, 300)
        assert doc.pages[-1].index == 2 and [p.index for p in doc.pages[1:]] == [1, 2]
        with pytest.raises(IndexError):
            doc.pages[3]
        assert doc.info["Producer"] == "Imposer \u00e9dition" and doc.info["/Title"] == "Hi"
        assert doc.info.get("Author") is None and "Author" not in doc.info
        with pytest.raises(KeyError):
            doc.info["Author"]
        assert first.inks == [pdfparse.Ink("Varnish", False)]
        assert [i.name for i in doc.inks] == ["Varnish", "Gold"]
        # Only the malformed bleed box needed a default.
        assert doc.repaired and doc.warning_count == 1 and "/BleedBox" in doc.warnings[0]
    with pytest.raises(ValueError):
        doc.page_count


def test_a_file_cut_short_is_repaired_and_says_so(files):
    cut = JOB[:JOB.index(b"xref")]
    with pdfparse.open(files("cut.pdf", cut)) as doc:
        assert doc.page_count == 3
        assert doc.repaired and doc.warnings and doc.warning_count >= len(doc.warnings)


@pytest.mark.parametrize("name, data, code, words", [
    ("empty.pdf", b"", "not-pdf", "empty"),
    ("text.pdf", b"hello", "not-pdf", "not a PDF"),
    ("nowhere.pdf", None, "file-not-found", "nowhere.pdf"),
])
def test_failures_carry_code_and_message(files, tmp_path, name, data, code, words):
    path = files(name, data) if data is not None else tmp_path / name
    with pytest.raises(pdfparse.Error) as raised:
        pdfparse.open(path)
    assert raised.value.name == code and words in raised.value.message


def test_limits(files):
    with pytest.raises(pdfparse.Error) as raised:
        pdfparse.open(files("job.pdf", JOB), memory_limit_bytes=1)
    assert raised.value.code == 4 and raised.value.name == "memory-limit"


@pytest.mark.skipif(shutil.which("qpdf") is None, reason="needs the qpdf program")
def test_password(files, tmp_path):
    plain = files("plain.pdf", JOB)
    locked = tmp_path / "locked.pdf"
    subprocess.run(["qpdf", "--encrypt", "secret", "owner", "256", "--", str(plain), str(locked)], check=True)
    with pytest.raises(pdfparse.Error) as raised:
        pdfparse.open(locked)
    assert raised.value.name == "password"
    with pytest.raises(pdfparse.Error):
        pdfparse.open(locked, password="wrong")
    with pdfparse.open(locked, password="secret") as doc:
        assert doc.page_count == 3 and doc.info["Producer"].startswith("Imposer")
