#!/usr/bin/env python3
"""Fails on a relative link in README.md or docs/ that does not resolve: a file or folder
that is missing or lies outside the repository, or an #anchor that no heading of the
target Markdown file makes as GitHub renders it (in an HTML file: no id). Names the file,
line and link.

    scripts/check_links.py [FILE.md|FILE.html ...]    (default: README.md and docs/**/*.md)

Links with a scheme (https:, mailto: ...) are not followed. Code spans and code blocks
hold no links."""
import glob
import html
import os
import re
import sys
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^\s)]+)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
HTML = re.compile(r"""<(?:a|img)\b[^>]*?\b(?:href|src)\s*=\s*["']([^"']*)["']""", re.I)
ANCHOR_HTML = re.compile(r"""<a\b[^>]*?\b(?:name|id)\s*=\s*["']([^"']*)["']""", re.I)
HTML_LINK = re.compile(r"""<(?:a|link|script|img)\b[^>]*?\b(?:href|src)\s*=\s*["']([^"']*)["']""", re.I)
HTML_ID = re.compile(r"""\bid\s*=\s*["']([^"']*)["']""", re.I)
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:|^//")
# What GitHub drops from a heading's text to make its anchor: ASCII punctuation but
# the hyphen and the underscore.
PUNCTUATION = re.compile(r"[!-,./:-@\[-^`{-~]")


def prose_lines(text):
    """(line number, line) of the lines outside fenced and indented code blocks."""
    fence, previous_blank, in_indented = None, True, False
    for number, line in enumerate(text.split("\n"), 1):
        stripped = line.lstrip(" ")
        marker = re.match(r"(`{3,}|~{3,})", stripped)
        if fence:
            if marker and stripped.startswith(fence) and not stripped[len(marker[1]):].strip():
                fence = None
            continue
        if marker and len(line) - len(stripped) < 4:
            fence = marker[1]
            continue
        indented = line.startswith("    ") or line.startswith("\t")
        in_indented = indented and (previous_blank or in_indented) and line.strip() != ""
        previous_blank = line.strip() == "" and not in_indented
        if not in_indented:
            yield number, line


def heading_text(raw):
    """A heading's text as rendered: code spans as their text, links as their text."""
    text = CODE_SPAN.sub(lambda m: m[2].strip(), raw)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"<[^>]+>", "", text)
    return re.sub(r"(\*+|(?<!\w)_+|_+(?!\w))", "", text)


def anchors(path, cache={}):
    """The anchors GitHub gives the headings of a Markdown file, and its HTML anchors."""
    if path not in cache:
        found, seen = set(), {}
        text = open(path, encoding="utf-8").read()
        for _, line in prose_lines(text):
            found.update(ANCHOR_HTML.findall(line))
            m = HEADING.match(line)
            if not m:
                continue
            slug = PUNCTUATION.sub("", heading_text(m[2]).lower()).replace(" ", "-")
            count = seen.get(slug, 0)
            seen[slug] = count + 1
            found.add(slug if count == 0 else "%s-%d" % (slug, count))
        cache[path] = found
    return cache[path]


def problem(source, target):
    """Why a link target of the Markdown file `source` does not resolve, or None."""
    if target.startswith("<") and target.endswith(">"):
        target = target[1:-1]
    if not target or SCHEME.match(target):
        return None
    path, _, anchor = target.partition("#")
    path = urllib.parse.unquote(path)
    resolved = os.path.normpath(os.path.join(os.path.dirname(source), path)) if path else source
    shown = os.path.relpath(resolved, ROOT)
    if os.path.commonpath([resolved, ROOT]) != ROOT:
        return "it leads out of the repository"
    if not os.path.exists(resolved):
        return "%s does not exist" % shown
    if path.endswith("/") and not os.path.isdir(resolved):
        return "%s is not a folder" % shown
    if not anchor:
        return None
    if resolved.endswith(".html") and os.path.isfile(resolved):
        if html.unescape(urllib.parse.unquote(anchor)) not in HTML_ID.findall(open(resolved, encoding="utf-8").read()):
            return "no id in %s is %s" % (shown, anchor)
        return None
    if resolved.endswith(".md") and os.path.isfile(resolved):
        if urllib.parse.unquote(anchor) not in anchors(resolved):
            return "no heading of %s makes the anchor #%s" % (shown, anchor)
        return None
    if os.path.isfile(resolved) and re.fullmatch(r"L\d+(-L\d+)?", anchor):
        return None
    return "#%s names no place in %s" % (anchor, shown)


def check(source):
    failures = []
    text = open(source, encoding="utf-8").read()
    if source.endswith(".html"):
        for number, line in enumerate(text.split("\n"), 1):
            for target in HTML_LINK.findall(line):
                if why := problem(source, html.unescape(target)):
                    failures.append("%s:%d: broken link %s: %s" % (os.path.relpath(source, ROOT), number, target, why))
        return failures
    for number, line in prose_lines(text):
        line = CODE_SPAN.sub(lambda m: "", line)
        targets = [m[1] for m in INLINE.finditer(line)] + HTML.findall(line)
        if m := REFERENCE.match(line):
            targets.append(m[1])
        for target in targets:
            if why := problem(source, target):
                failures.append("%s:%d: broken link %s: %s" % (
                    os.path.relpath(source, ROOT), number, target, why))
    return failures


def main(argv):
    files = [os.path.abspath(f) for f in argv] or [os.path.join(ROOT, "README.md")] + sorted(
        glob.glob(os.path.join(ROOT, "docs", "**", "*.md"), recursive=True))
    failures = [f for source in files for f in check(source)]
    for f in failures:
        print(f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
