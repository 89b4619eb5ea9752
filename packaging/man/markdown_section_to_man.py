#!/usr/bin/env python3
"""Writes a manual page from one section of a Markdown file, so that a
program's page and its README say the same thing from one text.

usage: markdown_section_to_man.py MARKDOWN SECTION NAME SUMMARY VERSION OUTPUT [SEE_ALSO...]

The section (a "## SECTION" heading, up to the next heading of that level)
becomes the page: its first code block the SYNOPSIS, its table the OPTIONS,
its paragraphs and lists the DESCRIPTION.
"""
import re
import sys


def inline(text):
    """Markdown inline marks to roff; backslashes, hyphens and leading dots escaped."""
    text = text.replace("\\", "\\e")
    parts = re.split(r"(`[^`]*`)", text)
    out = []
    for part in parts:
        if part.startswith("`") and part.endswith("`") and len(part) >= 2:
            out.append("\\fB" + part[1:-1].replace("-", "\\-") + "\\fR")
        else:
            part = re.sub(r"\*\*([^*]+)\*\*", r"\\fB\1\\fR", part)
            part = re.sub(r"\*([^*]+)\*", r"\\fI\1\\fR", part)
            out.append(part)
    return "".join(out)


def line_safe(text):
    return "\\&" + text if text.startswith((".", "'")) else text


def section_lines(markdown, title):
    lines = markdown.splitlines()
    try:
        start = lines.index("## " + title) + 1
    except ValueError:
        sys.exit(f"markdown_section_to_man: no '## {title}' section — keep that heading in the README")
    end = next((i for i in range(start, len(lines)) if lines[i].startswith("## ")), len(lines))
    return lines[start:end]


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    source, title, name, summary, version, output = sys.argv[1:7]
    see_also = sys.argv[7:]
    with open(source, encoding="utf-8") as f:
        lines = section_lines(f.read(), title)

    synopsis, options, description = [], [], []
    paragraph = []

    def flush():
        if paragraph:
            description.append(".PP")
            description.extend(line_safe(inline(l.strip())) for l in paragraph)
            paragraph.clear()

    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            flush()
            i += 1
            block = []
            while i < len(lines) and not lines[i].startswith("```"):
                block.append(lines[i])
                i += 1
            if not synopsis:
                synopsis = [re.sub(r"\s+", " ", " ".join(l.strip() for l in block))]
            else:
                description += [".PP", ".nf"] + [line_safe(l.replace("\\", "\\e")) for l in block] + [".fi"]
        elif line.startswith("|"):
            flush()
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            is_rule = all(re.fullmatch(r":?-+:?", c) for c in cells)
            is_header = i + 1 < len(lines) and re.fullmatch(r"\|[\s:|-]+\|?", lines[i + 1].strip() or "x")
            if not is_rule and not is_header and len(cells) >= 2:
                options += [".TP", line_safe(inline(cells[0])), line_safe(inline(" ".join(cells[1:])))]
        elif line.startswith("- "):
            flush()
            description += [".IP \\(bu 2", line_safe(inline(line[2:].strip()))]
        elif line.strip() == "":
            flush()
        else:
            paragraph.append(line)
        i += 1
    flush()

    roff_name = name.replace("-", "\\-")
    page = [f'.TH {roff_name.upper()} 1 "" "{version}" "User Commands"',
            ".SH NAME", f"{roff_name} \\- {summary}"]
    if synopsis:
        page += [".SH SYNOPSIS", line_safe(synopsis[0].replace("\\", "\\e").replace("-", "\\-"))]
    page += [".SH DESCRIPTION"] + description
    if options:
        page += [".SH OPTIONS"] + options
    if see_also:
        page += [".SH SEE ALSO", ", ".join("\\fB" + p.replace("-", "\\-") + "\\fR(1)" for p in see_also)]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")


main()
