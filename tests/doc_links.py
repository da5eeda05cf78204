#!/usr/bin/env python3
"""The README and docs/*.md as a reader follows them: every relative link and picture leads to a file that
exists, every #anchor to a heading of its file, every repository path and source file named in code text
exists, and docs/make-pictures makes every picture of docs/ that they show. Usage: doc_links.py REPOSITORY"""
import os
import re
import sys

top = os.path.abspath(sys.argv[1])
documents = [os.path.join(top, "README.md")] + sorted(
    os.path.join(top, "docs", name) for name in os.listdir(os.path.join(top, "docs")) if name.endswith(".md"))

LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
CODE = re.compile(r"`([^`\n]+)`")
REPOSITORY_PATH = re.compile(r"^(?:\.github|bench|cmake|core|docs|packaging|report|scripts|tests|ui)/\S*$")
SOURCE_NAME = re.compile(r"^[\w.-]+\.(?:cpp|h|py|sh|ts|rc|in)$")
SKIPPED_DIRECTORIES = {".git", "build"}


def prose(text):
    """The text outside fenced and indented code blocks, whose lines keep their numbers."""
    lines, fenced, indented, previous = [], False, False, ""
    for line in text.split("\n"):
        # An indented block begins after a blank line; an indented line after text continues a list item.
        indented = line.startswith("    ") and (indented or not previous.strip())
        if line.lstrip().startswith("```"):
            fenced = not fenced
            lines.append("")
        else:
            lines.append("" if fenced or indented else line)
        previous = line
    return lines


def anchors(path):
    """The anchors a Markdown renderer gives the file's headings: lower case, punctuation dropped, spaces as
    hyphens, a repeated heading numbered."""
    seen, result = {}, set()
    for line in prose(open(path, encoding="utf-8").read()):
        heading = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        slug = re.sub(r"[^\w\- ]", "", heading.group(1).replace("`", "").lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f"{slug}-{count}")
    return result


def source_names():
    names = set()
    for directory, subdirectories, files in os.walk(top):
        subdirectories[:] = [d for d in subdirectories if d not in SKIPPED_DIRECTORIES and not d.startswith("build")]
        names.update(files)
    return names


def main():
    faults = []
    known_sources = source_names()
    pictures_made = open(os.path.join(top, "docs", "make-pictures"), encoding="utf-8").read()
    for document in documents:
        shown = os.path.relpath(document, top)
        for number, line in enumerate(prose(open(document, encoding="utf-8").read()), 1):
            where = f"{shown}:{number}"
            for target in LINK.findall(line):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):
                    continue
                path, _, anchor = target.partition("#")
                linked = os.path.normpath(os.path.join(os.path.dirname(document), path)) if path else document
                if not os.path.exists(linked):
                    faults.append(f"{where}: {target} leads to no file")
                    continue
                if anchor and linked.endswith(".md") and anchor not in anchors(linked):
                    faults.append(f"{where}: {target} names no heading of {os.path.relpath(linked, top)}")
                if linked.endswith(".png") and os.path.dirname(linked) == os.path.join(top, "docs") and \
                        os.path.basename(linked) not in pictures_made:
                    faults.append(f"{where}: docs/make-pictures does not make {os.path.basename(linked)}")
            for code in CODE.findall(line):
                if REPOSITORY_PATH.match(code) and not os.path.exists(os.path.join(top, code)):
                    faults.append(f"{where}: `{code}` is no path of the repository")
                elif SOURCE_NAME.match(code) and code not in known_sources:
                    faults.append(f"{where}: `{code}` is no file of the repository")
    for fault in faults:
        print(fault)
    print(f"{len(documents)} documents, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
