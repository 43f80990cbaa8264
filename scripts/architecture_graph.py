#!/usr/bin/env python3
"""Draws docs/architecture.svg from the build itself: CMake's --graphviz output of the
native configure, cut to the project's own libraries and programs, rendered by Graphviz dot.

    scripts/architecture_graph.py           writes docs/architecture.svg (commit it)
    scripts/architecture_graph.py --check   fails when docs/architecture.svg is not what
                                            the build draws (the lint stage runs this)

The picture is never edited by hand: after a change to the targets or what they link, run
the script and commit the SVG. Left out: imported targets and system libraries (OpenSSL,
Threads, GoogleTest, Python), the test support library and every target that links it
(the test programs, the programs they start, the benchmarks), and interface libraries
that only gather others for those. The configure goes to build/architecture, with the
tests on and the benchmarks off whatever another build folder caches."""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SVG = os.path.join(ROOT, "docs", "architecture.svg")
BUILD = os.path.join(ROOT, "build", "architecture")
TEST_SUPPORT = "tarn_testing"

NODE = re.compile(r'^\s*"(node\d+)" \[ label = "((?:[^"\\]|\\.)*)", shape = (\w+) \];')
EDGE = re.compile(r'^\s*"(node\d+)" -> "(node\d+)"(?: \[ style = (\w+) \])?')
SHAPES = {"egg": "executable", "octagon": "static", "pentagon": "interface"}


def cmake_graph():
    """Configures the native build and returns CMake's graph as (nodes, edges):
    nodes {id: (name, kind)}, edges [(from id, to id, style)]."""
    dot_file = os.path.join(BUILD, "graphviz", "targets.dot")
    os.makedirs(os.path.dirname(dot_file), exist_ok=True)
    subprocess.run(["cmake", "--preset", "native", "-B", BUILD, "-DTARN_BUILD_TESTS=ON",
                    "-DTARN_BUILD_BENCH=OFF", "--graphviz=" + dot_file],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    nodes, edges = {}, []
    for line in open(dot_file, encoding="utf-8"):
        if m := NODE.match(line):
            nodes[m[1]] = (m[2], SHAPES.get(m[3], "other"))
        elif m := EDGE.match(line):
            edges.append((m[1], m[2], m[3] or "solid"))
    return nodes, edges


def own_targets(nodes, edges):
    """The ids of the targets the picture shows (see the module's comment)."""
    keep = {n for n, (name, kind) in nodes.items()
            if kind != "other" and "::" not in name and "\\n" not in name}
    links = {n: {b for a, b, _ in edges if a == n} for n in nodes}

    def reaches(n, target, seen=()):
        return n == target or any(reaches(m, target, seen + (n,))
                                  for m in links[n] if m not in seen)

    support = [n for n in keep if nodes[n][0] == TEST_SUPPORT]
    keep -= {n for n in keep for s in support if reaches(n, s)}
    # An interface library that nothing kept links only gathers for what was dropped.
    keep -= {n for n in keep if nodes[n][1] == "interface"
             and not any(a in keep and b == n for a, b, _ in edges)}
    return keep


def graph_text(nodes, edges, keep):
    """The picture's dot source, sorted so that it depends on the targets alone."""
    name = {n: nodes[n][0] for n in keep}
    lines = ["digraph layers {",
             '  graph [rankdir=TB, nodesep=0.35, ranksep=0.45, fontname="Helvetica",',
             '         label="What each library and program links (scripts/architecture_graph.py)",',
             "         labelloc=b, fontsize=11];",
             '  node [fontname="Helvetica", fontsize=11, style=filled, fillcolor=white];',
             '  edge [color="#555555", arrowsize=0.7];']
    for n in sorted(keep, key=name.get):
        target, kind = nodes[n]
        label = target
        folder = target[len("tarn_"):] if target.startswith("tarn_") else ""
        if folder and os.path.isdir(os.path.join(ROOT, folder)):
            label += "\\n" + folder + "/"
        shape = {"executable": 'shape=box, style="filled,bold", fillcolor="#dde8f5"',
                 "interface": "shape=box, style=dashed"}.get(kind, 'shape=box, style="filled,rounded"')
        lines.append('  "%s" [label="%s", %s];' % (target, label, shape))
    for a, b, style in sorted((name[a], name[b], s) for a, b, s in edges
                              if a in keep and b in keep):
        lines.append('  "%s" -> "%s"%s;' % (a, b, " [style=dashed]" if style == "dashed" else ""))
    lines.append("}")
    return "\n".join(lines) + "\n"


def render(text):
    try:
        return subprocess.run(["dot", "-Tsvg"], input=text.encode(), check=True,
                              stdout=subprocess.PIPE).stdout
    except FileNotFoundError:
        sys.exit("architecture_graph: Graphviz's dot is missing: run scripts/bootstrap.sh")


def main(argv):
    nodes, edges = cmake_graph()
    svg = render(graph_text(nodes, edges, own_targets(nodes, edges)))
    if "--check" in argv:
        old = open(SVG, "rb").read() if os.path.exists(SVG) else b""
        if old != svg:
            with tempfile.NamedTemporaryFile(suffix=".svg", delete=False) as f:
                f.write(svg)
            print("architecture_graph: docs/architecture.svg is not what the build draws (now in "
                  "%s); run scripts/architecture_graph.py and commit the picture" % f.name,
                  file=sys.stderr)
            return 1
        return 0
    with open(SVG, "wb") as f:
        f.write(svg)
    print("wrote", os.path.relpath(SVG, ROOT))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
