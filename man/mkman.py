#!/usr/bin/env python3
r"""Turns a manual page's source (both languages in one file) into roff pages.

    mkman.py SOURCE OUTDIR --version V --date YYYY-MM-DD

writes OUTDIR/en/NAME.SECTION and OUTDIR/ja/NAME.SECTION, and each again gzipped
(NAME.SECTION.gz, as Debian installs manual pages).

The source:

    # a comment (only at the start of a line)
    :name: nolvi2                 the page's name and section
    :section: 1
    :summary en: ...              the NAME line's text in each language
    :summary ja: ...
    == DESCRIPTION | 説明          a section heading, English | Japanese

Below a heading, lines are for both languages until a line "[en]" or "[ja]" chooses one;
"[*]" chooses both again, and every heading does. A blank line ends a paragraph;
"- TAG" starts a tagged paragraph whose text follows on lines indented by two blanks;
"| TEXT" is a line kept as it is (with "|" and one blank removed), for synopses and
examples. In text, **bold** and _italic_; \* and \_ stand for themselves. A minus in a
kept line or inside bold or italic is roff's minus sign, so that commands and options copy
as typed.
"""

import argparse
import gzip
import os
import re
import sys
import unicodedata

LANGUAGES = ("en", "ja")
MANUAL = {"en": "User Commands", "ja": "ユーザーコマンド"}

# Japanese lines break between any two wide characters, except before closing marks and
# after opening ones; groff knows no such rule and would otherwise not break such text at all.
NO_BREAK_BEFORE = set("、。，．・：；？！ー～）」』】〕〉》’”")
NO_BREAK_AFTER = set("（「『【〔〈《‘“")
# A line broken right after an opening bracket or right before a closing one leaves the bracket
# alone at a line's end or start, in either script.
BRACKETS_OPEN = set("([")
BRACKETS_CLOSE = set(")]")


class SourceError(Exception):
    pass


def is_wide(c):
    return unicodedata.east_asian_width(c) in ("W", "F")


# In roff text as inline makes it: a font change or the mark of a name (\3) is no character.
ROFF_UNIT = re.compile(r"\\f[BIR]|\\[-e]|.", re.S)
OPENING = ("\3", "\\fB", "\\fI")


def break_points(text):
    """Break points (\\:) in a Japanese line of roff text. Font changes are looked through, so
    that "（**name**）" breaks neither after "（" nor before "）"; a break point goes after the
    end of a bold or italic span and before the start of one."""
    out = []
    p = ""  # the last character
    between = []  # the font changes since p
    for unit in ROFF_UNIT.findall(text):
        if unit == "\\fR" or unit in OPENING:
            between.append(unit)
            continue
        c = unit[-1] if unit.startswith("\\") else unit
        if (p and (is_wide(p) or is_wide(c)) and not p.isspace() and not c.isspace()
                and c not in NO_BREAK_BEFORE | BRACKETS_CLOSE and p not in NO_BREAK_AFTER | BRACKETS_OPEN):
            at = next((i for i, u in enumerate(between) if u in OPENING), len(between))
            between.insert(at, "\\:")
        out += between
        out.append(unit)
        p, between = c, []
    return "".join(out + between)


def inline(text, lang, literal=False):
    """Source text to roff text: escapes, bold and italic, then break points. In a literal
    line every minus is roff's minus sign (commands there are typed as shown)."""
    text = text.replace("\\*", "\0").replace("\\_", "\1")
    text = text.replace("\\", "\\e")
    if literal:
        text = text.replace("-", "\2")

    def span(font, inner):  # names and options: never hyphenated (see unhyphenated)
        return "\3\\f" + font + inner.replace("-", "\\-") + "\\fR"

    text = re.sub(r"(?<!\w)_(.+?)_(?!\w)", lambda m: span("I", m.group(1)), text)
    text = re.sub(r"\*\*(.+?)\*\*", lambda m: span("B", m.group(1)), text)
    if "*" in text or re.search(r"(?<!\w)_|_(?!\w)", text):
        raise SourceError("unpaired '**' or '_' in: " + text)
    if lang == "ja":
        text = break_points(text)
    text = unhyphenated(text)
    return text.replace("\0", "*").replace("\1", "_").replace("\2", "\\-")


def unhyphenated(text):
    """Each word that holds a name (marked \\3) with roff's \\% in front: at a word's start it
    keeps the word from hyphenation, while inside one, as after "(" or "（", it would be a
    hyphenation point, and a line could end in "(-". Blanks and break points (\\:) end words."""
    words = re.split(r"( |\\:)", text)
    return "".join("\\%" + w.replace("\3", "") if "\3" in w else w for w in words)


def line_out(text):
    """A text line that roff must not read as a request."""
    return "\\&" + text if text.startswith((".", "'")) else text


def quoted(text):
    return '"' + text.replace('"', '""') + '"'


class Page:
    def __init__(self):
        self.fields = {}
        self.sections = []  # (headings by language, [(language or None, line)])
        self.language = None  # the language of the lines that follow; None for both

    @staticmethod
    def parse(path):
        page = Page()
        with open(path, encoding="utf-8") as f:
            for number, raw in enumerate(f, 1):
                line = raw.rstrip("\n")
                try:
                    page.take(line)
                except SourceError as e:
                    raise SourceError("%s:%d: %s" % (path, number, e)) from None
        for key in ("name", "section", "summary en", "summary ja"):
            if key not in page.fields:
                raise SourceError("%s: no ':%s:' field" % (path, key))
        return page

    def take(self, line):
        if line.startswith("#"):
            return
        field = re.fullmatch(r":([a-z]+(?: [a-z]+)?):\s*(.*)", line)
        if field and not self.sections:
            self.fields[field.group(1)] = field.group(2)
            return
        if line.startswith("== "):
            names = [n.strip() for n in line[3:].split("|")]
            if len(names) != len(LANGUAGES) or not all(names):
                raise SourceError("a heading needs an English and a Japanese name")
            self.sections.append((dict(zip(LANGUAGES, names)), []))
            self.language = None
            return
        if not self.sections:
            if line.strip():
                raise SourceError("text before the first heading")
            return
        marker = re.fullmatch(r"\[(en|ja|\*)\]", line.strip())
        if marker:
            self.language = None if marker.group(1) == "*" else marker.group(1)
            return
        self.sections[-1][1].append((self.language, line))

    def roff(self, lang, version, date):
        name, section = self.fields["name"], self.fields["section"]
        out = [
            '.\\" Generated by man/mkman.py from man/%s.%s.txt; edit that file.' % (name, section),
            ".TH %s %s %s %s %s" % (name.upper(), section, quoted(date),
                                     quoted("nolvi2 " + version), quoted(MANUAL[lang])),
        ]
        # Lines flush left: Japanese lines have few blanks to stretch, and long command names
        # would stretch English ones far apart.
        out.append(".ad l")
        out += [".SH " + ("NAME" if lang == "en" else "名前"),
                name.replace("-", "\\-") + " \\- " + inline(self.fields["summary " + lang], lang)]
        for headings, lines in self.sections:
            out.append(".SH " + quoted(headings[lang]))
            out += body([text for (which, text) in lines if which in (None, lang)], lang)
        return "\n".join(out) + "\n"


def join(lines):
    """A paragraph's source lines as one line: a line break between two wide characters, or
    next to a Japanese punctuation mark, is no blank (Japanese runs on); any other is one."""
    marks = NO_BREAK_BEFORE | NO_BREAK_AFTER
    text = ""
    for line in lines:
        line = line.strip()
        a, b = text[-1:], line[0]
        if a and not ((is_wide(a) and is_wide(b)) or a in marks or b in marks):
            text += " "
        text += line
    return text


def body(lines, lang):
    out = []
    paragraph = []  # the running paragraph's or tag's text lines

    def flush():
        if paragraph:
            out.append(line_out(inline(join(paragraph), lang)))
            paragraph.clear()

    state = None  # None, "text", "tag", "literal"
    for line in lines:
        if line.startswith("|"):
            flush()
            if state != "literal":
                out += [".nf"] if state == "tag" else [".PP", ".nf"]
            state = "literal"
            out.append(line_out(inline(line[2:], lang, literal=True)))
            continue
        if state == "literal":
            out.append(".fi")
            state = None
        if not line.strip():
            if state == "text":
                flush()
                state = None
            continue
        if line.startswith("- "):
            flush()
            out += [".TP", line_out(inline(line[2:], lang))]
            state = "tag"
        elif line.startswith("  ") and state == "tag":
            paragraph.append(line)
        elif line.startswith(" "):
            raise SourceError("an indented line outside a tagged paragraph: " + line)
        else:
            if state != "text":
                flush()
                out.append(".PP")
                state = "text"
            paragraph.append(line)
    flush()
    if state == "literal":
        out.append(".fi")
    return out


def main():
    parser = argparse.ArgumentParser(description="Writes a manual page in English and Japanese.")
    parser.add_argument("source")
    parser.add_argument("outdir")
    parser.add_argument("--version", required=True)
    parser.add_argument("--date", required=True)
    args = parser.parse_args()
    try:
        page = Page.parse(args.source)
    except SourceError as e:
        sys.exit("mkman.py: %s" % e)
    file_name = "%s.%s" % (page.fields["name"], page.fields["section"])
    for lang in LANGUAGES:
        try:
            text = page.roff(lang, args.version, args.date).encode("utf-8")
        except SourceError as e:
            sys.exit("mkman.py: %s (%s): %s" % (args.source, lang, e))
        folder = os.path.join(args.outdir, lang)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(text)
        # No name and no time in the gzip header, so that the same page gives the same bytes.
        with open(os.path.join(folder, file_name + ".gz"), "wb") as raw:
            with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as f:
                f.write(text)


if __name__ == "__main__":
    main()
