#!/usr/bin/env python3
"""Every picture and relative link in README.md and docs/*.md names a file in the tree, and
its #anchor, if any, a heading of that file (as the usual Markdown renderers make them)."""
import glob, os, re, sys

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def prose(path):
    """The text without code blocks and code spans, where brackets are no links."""
    text = re.sub(r"^```.*?^```", "", open(path, encoding="utf-8").read(), flags=re.S | re.M)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(path):
    slugs = [re.sub(r"[^\w\- ]", "", h.lower()).replace(" ", "-") for h in re.findall(r"^#+\s+(.*?)\s*#*$", prose(path), re.M)]
    return [s + (f"-{slugs[:i].count(s)}" if s in slugs[:i] else "") for i, s in enumerate(slugs)]


bad = []
for page in [os.path.join(SOURCE, "README.md")] + sorted(glob.glob(os.path.join(SOURCE, "docs", "*.md"))):
    text = prose(page)
    for target in re.findall(r"\]\(\s*<?([^)\s>]+)", text) + re.findall(r"<img[^>]*\ssrc=\"([^\"]+)\"", text):
        if re.match(r"[a-z][a-z0-9+.-]*:", target, re.I):
            continue  # http:, https:, mailto: ...
        file, _, anchor = target.partition("#")
        where = os.path.normpath(os.path.join(os.path.dirname(page), file)) if file else page
        if not os.path.exists(where):
            bad.append(f"{os.path.relpath(page, SOURCE)}: {target}: no such file")
        elif anchor and where.endswith(".md") and anchor not in anchors(where):
            bad.append(f"{os.path.relpath(page, SOURCE)}: {target}: no such heading")
print("\n".join(bad) or "every picture and relative link resolves")
sys.exit(1 if bad else 0)
