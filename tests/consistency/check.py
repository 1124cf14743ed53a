#!/usr/bin/env python3
"""Every file of a run against every other, over random configurations.

Written from the documentation's definitions, not from the code: each configuration
draws options over every model, format and pedigree error (bred and supplied
pedigrees, alone and together), runs the command line, reads every file
itself (PLINK binary and text, VCF, the truth tables) and checks that

- every format holds the same recorded and true genotypes, names and parents,
  and the markers at their documented places;
- errors.tsv (or ped.errors) lists exactly the called genotypes whose
  recorded alleles differ from the true ones of the sample typed;
- pedigree_truth.tsv lists exactly the animals whose recorded parents differ
  from the true ones (the run without pedigree errors), or whose samples were
  swapped, with their kinds and exclusions;
- every count of run.tsv, the summary and the truth file equals its recount;
- recorded parents precede their offspring, transmission is Mendelian, and
  the sire's and dam's meioses are independent;
- each option's rate is met within 4 standard errors, options together keep
  their rates and stay independent, and options change nothing they do not
  name (the error rate never moves a missing genotype; pedigree errors never
  move a true genotype);
- the Python module, when it can be imported, gives the same arrays and
  writes the same bytes.

Usage: check.py PEDSIM [CONFIGURATIONS] (PEDSIM_CONSISTENCY_CONFIGS and
PEDSIM_CONSISTENCY_SEED override the count and the first seed). A failing
configuration prints the command that reproduces it.
"""

import gzip
import math
import os
import random
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
from collections import Counter

try:
    import pedsim as module
except ImportError:
    module = None


class Failure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failure(what)


def within(observed, expected, se, what):
    slack = 4 * se + 1e-9
    expect(abs(observed - expected) <= slack,
           f"{what}: {observed:.5g} where {expected:.5g} +- {slack:.3g} (4 SE) was expected")


# ----------------------------------------------------------------------------
# Configurations


def draw_configuration(rng):
    """Options over every model, format and pedigree error."""
    c = {"seed": rng.randrange(1, 2**31 - 1), "panel_markers": False, "panel_markers_beyond_classic_model": False}
    males = rng.randint(8, 40)
    c["numbers"] = [rng.randint(2, 5), males * rng.randint(4, 12), males]
    c["supplied"] = rng.random() < 0.3
    panel = rng.random() < 0.85
    options = []
    alleles = 3
    if panel:
        markers = rng.randint(1, 40)
        alleles = rng.choice([2, 2, 2, 3, 4, 6])
        options += ["--markers", str(markers), "--alleles", str(alleles)]
        frequencies = rng.choice(["equal", "dirichlet:0.7"] + (["maf:0.05-0.5"] if alleles == 2 else []))
        options += ["--frequencies", frequencies]
        if rng.random() < 0.5:
            options += ["--chromosomes", str(rng.randint(1, min(markers, 4))),
                        "--chromosome-length", str(rng.choice([50, 100, 180.5]))]
            if rng.random() < 0.4:
                sex = [f"{name}:{rng.randint(1, 6)}" for name in ("X", "Y", "MT") if rng.random() < 0.6]
                options += ["--sex-chromosomes", ",".join(sex or ["X:3"])]
        error = rng.choice(["design", "none", "random-allele", "dropout"] + (["matrix"] if alleles == 2 else []))
        c["panel_markers"] = markers > 1 or alleles != 3 or frequencies != "equal" or "--chromosomes" in options
        c["panel_markers_beyond_classic_model"] = alleles != 3 or frequencies != "equal" or "--chromosomes" in options
        if error in ("random-allele", "dropout"):
            rate = rng.choice([0.01, 0.05, 0.2])
            # A rate alone picks random-allele.
            named = error == "dropout" or rng.random() < 0.5
            options += (["--error-model", error] if named else []) + ["--error-rate", str(rate)]
            draw = rng.random()
            if draw < 0.25:
                options += ["--error-spread", "beta:20"]
            elif draw < 0.45:
                options += ["--error-count", "exact"]
        elif error == "matrix" or rng.random() < 0.5:
            # Unnamed, a panel's error model is none and the design's run's is design.
            options += ["--error-model", "matrix:MATRIX" if error == "matrix" else error]
        missing = rng.random()
        if missing < 0.15:
            options += ["--missing-model", "none"]
        elif missing < 0.3:
            options += ["--missing-model", "design"]
        elif missing < 0.6:
            call = rng.choice([0.7, 0.9, 1.0])
            # A call rate alone picks random.
            options += (["--missing-model", "random"] if rng.random() < 0.5 else []) + ["--call-rate", str(call)]
            if call < 1 and rng.random() < 0.5:
                options += ["--call-rate-spread", "beta:30"]
            if call < 1 and rng.random() < 0.5:
                options += ["--animal-call-rate-spread", "beta:30"]
        if rng.random() < 0.25:
            options += ["--ungenotyped-parents", str(rng.choice([0, 0.3, 0.6]))]
    if c["panel_markers"] and rng.random() < 0.3:
        options += ["--ibd"]
    if c["panel_markers"] and rng.random() < 0.25:
        options += ["--pairs", rng.choice(["parent-offspring", "full-sibs,half-sibs",
                                           "parent-offspring,full-sibs,half-sibs"])]
    for option in ("--wrong-sire", "--wrong-dam", "--missing-sire", "--missing-dam", "--swap"):
        if rng.random() < 0.25:
            options += [option, str(rng.choice([0.05, 0.15, 0.3]))]
    if rng.random() < 0.2:
        options += ["--wrong-parent-from", "any"]
    formats = ["pre"]
    two_allele_errors = alleles == 2 and error_model_of(options, c) != "design"
    for f in ("plink", "plink-text", "vcf", "bcf"):
        if rng.random() < (0.3 if f == "bcf" else 0.6) and (f != "plink" or two_allele_errors):
            formats.append(f)
    c["formats"] = formats
    c["compression_level"] = rng.choice([None, None, None, 0, 6, 9])
    c["options"] = options
    c["genotyped"] = c["supplied"] and rng.random() < 0.3
    return c


def pedigree_error_options(options):
    out = []
    skip = False
    for k, o in enumerate(options):
        if skip:
            skip = False
            continue
        if o in ("--wrong-sire", "--wrong-dam", "--missing-sire", "--missing-dam", "--swap",
                 "--wrong-parent-from"):
            skip = True
            continue
        out.append(o)
    return out


def option_value(options, name, default=None):
    return options[options.index(name) + 1] if name in options else default


# ----------------------------------------------------------------------------
# Reading the files


def allele_of_letters(text):
    value = 0
    for ch in text:
        value = value * 4 + "ACGT".index(ch)
    return value + 1


def read_pre(path):
    """animal -> (sire, dam, sex, [(first, second) per marker]); rows of zeros left out."""
    rows = {}
    order = []
    with open(path) as f:
        for line in f:
            v = [int(x) for x in line.split()]
            if v[0] == 0:
                expect(all(x == 0 for x in v), f"{path}: a row of animal 0 that is not all zeros")
                continue
            rows[v[0]] = (v[1], v[2], v[3], list(zip(v[4::2], v[5::2])))
            order.append(v[0])
    return rows, order


def read_table(path):
    with open(path) as f:
        lines = f.read().splitlines()
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def read_summary(path):
    values = {}
    generations = {}
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("generation "):
                g = line.split()
                generations[int(g[1])] = g[2:]
            elif ": " in line and not line.startswith("#"):
                key, value = line.split(": ", 1)
                values[key] = value
    return values, generations


def read_bim(path):
    return [line.split("\t") for line in open(path).read().splitlines()]


def read_fam(path):
    return [line.split() for line in open(path).read().splitlines()]


def read_bed(prefix, animals, markers):
    """name -> list of copies of allele 2 (None: missing), from SNP-major ped.bed."""
    data = open(prefix + ".bed", "rb").read()
    expect(data[:3] == bytes([0x6C, 0x1B, 0x01]), f"{prefix}.bed: not a SNP-major PLINK 1 file")
    per = (len(animals) + 3) // 4
    expect(len(data) == 3 + per * len(markers), f"{prefix}.bed: {len(data)} bytes")
    decode = {0b00: 2, 0b10: 1, 0b11: 0, 0b01: None}
    out = {a: [] for a in animals}
    for m in range(len(markers)):
        block = data[3 + m * per: 3 + (m + 1) * per]
        for k, a in enumerate(animals):
            out[a].append(decode[(block[k // 4] >> (2 * (k % 4))) & 3])
    return out


def read_ped(path):
    out = {}
    for line in open(path).read().splitlines():
        f = line.split()
        alleles = [0 if x == "0" else allele_of_letters(x) for x in f[6:]]
        out[f[1]] = ((f[2], f[3], f[4]), list(zip(alleles[0::2], alleles[1::2])))
    return out


def read_vcf(path):
    """(samples, [(chrom, pos, id, [alleles by index], [genotype text per sample])]);
    a BCF as bcftools reads it."""
    if path.endswith(".bcf"):
        lines = subprocess.run(["bcftools", "view", path], capture_output=True, text=True,
                               check=True).stdout.splitlines(keepends=True)
    else:
        with gzip.open(path, "rt") as f:
            lines = f.readlines()
    samples = None
    records = []
    for line in lines:
        if line.startswith("##"):
            continue
        fields = line.rstrip("\n").split("\t")
        if line.startswith("#CHROM"):
            samples = fields[9:]
            continue
        ref_alt = [fields[3]] + ([] if fields[4] == "." else fields[4].split(","))
        records.append((fields[0], int(fields[1]), fields[2], ref_alt, fields[9:]))
    return samples, records


def vcf_alleles(text, ref_alt, phased):
    if text in ("./.", "."):
        return (0, 0)
    if "/" not in text and "|" not in text:
        # One copy: a haploid call.
        allele = allele_of_letters(ref_alt[int(text)])
        return (allele, allele)
    sep = "|" if phased else "/"
    expect(sep in text, f"VCF genotype {text!r} lacks {sep!r}")
    a, b = text.split(sep)
    return tuple(allele_of_letters(ref_alt[int(x)]) for x in (a, b))


# ----------------------------------------------------------------------------
# Running


class Run:
    """One command-line run in a folder of its own, and its files."""

    def __init__(self, binary, folder, args, env_seed=None):
        self.folder = folder
        self.args = args
        self.command = " ".join(shlex.quote(a) for a in [binary] + args)
        result = subprocess.run([binary] + args, cwd=folder, capture_output=True, text=True,
                                encoding="latin-1", timeout=600)
        self.status = result.returncode
        self.out = result.stdout
        self.err = result.stderr

    def path(self, name):
        return os.path.join(self.folder, "run", name)


def supplied_table(pre_rows, order, rng):
    """A table of a bred pedigree with names, a header and a comment, in a shuffled order."""
    names = {a: f"id{a:04d}" for a in order}
    names[0] = "0"
    lines = ["# a herd", "animal\tsire\tdam\tsex"]
    listed = list(order)
    rng.shuffle(listed)
    for a in listed:
        s, d, sex, _ = pre_rows[a]
        lines.append(f"{names[a]}\t{names[s]}\t{names[d]}\t{'M' if sex == 1 else 'F'}")
    return "\n".join(lines) + "\n", [names[a] for a in order]


# ----------------------------------------------------------------------------
# The checks of one run


def sex_chromosomes_of(cfg):
    """--sex-chromosomes as (name, markers) pairs, in its order."""
    text = option_value(cfg["options"], "--sex-chromosomes", "")
    return [(part.split(":")[0], int(part.split(":")[1])) for part in text.split(",") if part]


def markers_of(cfg):
    return int(option_value(cfg["options"], "--markers", "1")) + sum(n for _, n in sex_chromosomes_of(cfg))


def kinds_of(cfg):
    """Per marker, the chromosome it is on as inheritance goes: "A" (autosome), "X", "Y" or "MT"."""
    return ["A"] * int(option_value(cfg["options"], "--markers", "1")) + [
        name for name, n in sex_chromosomes_of(cfg) for _ in range(n)]


def copies(kind, sex):
    """The documentation: a male carries one X and one Y, a female no Y, every animal one MT."""
    if kind == "MT":
        return 1
    if kind == "Y":
        return 1 if sex == 1 else 0
    return 1 if kind == "X" and sex == 1 else 2


def sire_passes(kind, child_sex):
    """A sire passes no MT, and no X to a son."""
    return kind != "MT" and not (kind == "X" and child_sex == 1)


def check_positions(cfg, bim, markers):
    chromosomes = option_value(cfg["options"], "--chromosomes")
    length = float(option_value(cfg["options"], "--chromosome-length", "100"))
    expect(len(bim) == markers, f"ped.bim/map has {len(bim)} markers, not {markers}")
    if chromosomes is None:
        for m, row in enumerate(bim):
            expect(row[0] == "1" and float(row[2]) == 0 and int(row[3]) == m + 1,
                   f"unlinked marker {m + 1} at {row[0]}:{row[3]} ({row[2]} cM), not 1:{m + 1}")
        return
    for m, (chrom, cm) in enumerate(marker_places(cfg, markers)):
        row = bim[m]
        expect(row[0] == chrom, f"marker {m + 1} on chromosome {row[0]}, not {chrom}")
        expect(abs(float(row[2]) - cm) < 1e-6, f"marker {m + 1} at {row[2]} cM, not {cm}")
        expect(int(row[3]) == round(cm * 1e6) + 1, f"marker {m + 1} at bp {row[3]}, not {round(cm * 1e6) + 1}")


def consistent(child, sire, dam, passed=True):
    """A called genotype can come from its called parents (0/0: not called); a sire
    counts only where he passes the marker on."""
    def carries(p, a):
        return p[0] == a or p[1] == a
    s = passed and sire is not None and sire[0] != 0
    d = dam is not None and dam[0] != 0
    a, b = child
    if s and d:
        return (carries(sire, a) and carries(dam, b)) or (carries(sire, b) and carries(dam, a))
    if s:
        return carries(sire, a) or carries(sire, b)
    if d:
        return carries(dam, a) or carries(dam, b)
    return True


def check_run(cfg, run, base, slower):
    rec, order = read_pre(run.path("ped.pre"))
    true, true_order = read_pre(run.path("true.pre"))
    expect(order == true_order, "ped.pre and true.pre list different animals")
    markers = len(next(iter(rec.values()))[3])
    expect(markers == markers_of(cfg), f"ped.pre has {markers} markers")
    inheritance = kinds_of(cfg)
    cfg["kinds"] = inheritance
    names = {a: str(a) for a in order}
    if cfg["supplied"]:
        ids = read_table(run.path("ids.tsv"))
        names = {int(r["number"]): r["name"] for r in ids}
        expect(sorted(names) == order, "ids.tsv does not list ped.pre's animals")
    number = {v: k for k, v in names.items()}
    animals = len(order)

    # Parents precede their offspring; recorded sexes fit the roles.
    for a in order:
        s, d, _, _ = rec[a]
        expect(s < a and d < a, f"animal {a}'s recorded parents {s}, {d} do not precede it")
        expect(s == 0 or rec[s][2] == 1, f"sire {s} of {a} is not male")
        expect(d == 0 or rec[d][2] == 2, f"dam {d} of {a} is not female")
    # The true pedigree: the run without pedigree errors, which never move a
    # true genotype (nor, without mix-ups, a recorded one).
    base_rec, base_order = read_pre(base.path("ped.pre"))
    base_true, _ = read_pre(base.path("true.pre"))
    expect(base_order == order, "pedigree errors changed the animals")
    true_parents = {a: base_rec[a][:2] for a in order}
    if cfg["genotyped"]:
        listed = set(open(os.path.join(run.folder, "genotyped.txt")).read().split())
        for a in order:
            expect(names[a] in listed or not any(g[0] for g in base_rec[a][3]),
                   f"animal {names[a]} is not in --genotyped's file but has genotypes")
    for a in order:
        expect(true[a][3] == base_true[a][3], f"pedigree errors changed animal {a}'s true genotypes")
    swap = "--swap" in cfg["options"]
    if not swap:
        for a in order:
            expect(rec[a][3] == base_rec[a][3], f"wrong or missing parents changed animal {a}'s records")

    # pedigree_truth.tsv: exactly the changed animals.
    sample = {a: a for a in order}
    changes = {}
    if any(o in cfg["options"] for o in ("--wrong-sire", "--wrong-dam", "--missing-sire", "--missing-dam", "--swap")):
        for r in read_table(run.path("pedigree_truth.tsv")):
            # Animals by name, as every file but ped.pre gives them.
            for column in ("animal", "true_sire", "true_dam", "recorded_sire", "recorded_dam", "swapped_with"):
                if column in r:
                    r[column] = str(number[r[column]]) if r[column] != "0" else "0"
            a = int(r["animal"])
            changes[a] = r
            if swap and r["swapped_with"] != "0":
                sample[a] = int(r["swapped_with"])
    for a in order:
        ts, td = true_parents[a]
        rs, rd = rec[a][:2]
        kinds = []
        if rs != ts:
            kinds.append("missing-sire" if rs == 0 else "wrong-sire")
        if rd != td:
            kinds.append("missing-dam" if rd == 0 else "wrong-dam")
        if sample[a] != a:
            kinds.append("swap")
        if not kinds:
            expect(a not in changes, f"pedigree_truth.tsv lists animal {a}, whose parents and sample are right")
            continue
        expect(a in changes, f"pedigree_truth.tsv misses animal {a} ({','.join(kinds)})")
        r = changes[a]
        expect((int(r["true_sire"]), int(r["true_dam"])) == (ts, td),
               f"pedigree_truth.tsv: animal {a}'s true parents {r['true_sire']}, {r['true_dam']}, not {ts}, {td}")
        expect((int(r["recorded_sire"]), int(r["recorded_dam"])) == (rs, rd),
               f"pedigree_truth.tsv: animal {a}'s recorded parents differ from ped.pre's")
        expect(sorted(r["kind"].split(",")) == sorted(kinds), f"pedigree_truth.tsv: animal {a} kind {r['kind']}, not {kinds}")
        exclusions = 0
        for parent, truth, is_sire in ((rs, ts, True), (rd, td, False)):
            if parent == 0 or (parent == truth and sample[a] == a):
                continue
            for m in range(markers):
                g, p = rec[a][3][m], rec[parent][3][m]
                passed = not is_sire or sire_passes(inheritance[m], rec[a][2])
                if passed and g[0] and p[0] and not set(g) & set(p):
                    exclusions += 1
        expect(int(r["exclusions"]) == exclusions, f"pedigree_truth.tsv: animal {a} has {r['exclusions']} exclusions, recount {exclusions}")
    for a, s in sample.items():
        expect(sample[s] == a, f"swapped samples not in pairs: {a} holds {s}'s")

    # Errors: exactly where recorded called genotypes differ from the true ones of the sample.
    differ = {}
    called = 0
    called_by_marker = [0] * markers
    for a in order:
        for m, g in enumerate(rec[a][3]):
            if g[0] == 0:
                expect(g[1] == 0, f"animal {a} marker {m + 1}: half-missing genotype {g}")
                continue
            called += 1
            called_by_marker[m] += 1
            t = true[sample[a]][3][m]
            if g != t:
                differ[(a, m)] = (t, g)
    error_model = error_model_of(cfg["options"], cfg)
    panel = cfg["panel"]
    marker_names = [f"m{m + 1}" for m in range(markers)]
    if error_model == "design":
        listed = {}
        for line in open(run.path("ped.errors")):
            f = line.split()
            m = marker_names.index(f[2]) if panel else 0
            listed[(int(f[0]), m)] = int(f[1])
        expect(set(listed) == set(differ), f"ped.errors lists {sorted(set(listed) ^ set(differ))[:5]} wrongly")
        for key, old in listed.items():
            t, g = differ[key]
            # One copy: the error changes its one allele.
            one = copies(inheritance[key[1]], rec[sample[key[0]]][2]) == 1
            expect(old == t[0] and g[1] == (g[0] if one else t[1]),
                   f"ped.errors: {key} old allele {old}, true {t}, recorded {g}")
    else:
        expect(os.path.getsize(run.path("ped.errors")) == 0, "ped.errors is not empty under another error model")
        table = read_table(run.path("errors.tsv"))
        listed = {(number[r["animal"]], marker_names.index(r["marker"])): r for r in table}
        expect(len(listed) == len(table), "errors.tsv lists a genotype twice")
        expect(set(listed) == set(differ), f"errors.tsv lists {sorted(set(listed) ^ set(differ))[:5]} wrongly")
        keys = [(number[r["animal"]], marker_names.index(r["marker"])) for r in table]
        expect(keys == sorted(keys), "errors.tsv is not in animal and marker order")
        name = "matrix" if error_model.startswith("matrix") else error_model
        detectable = 0
        for key, r in listed.items():
            t, g = differ[key]
            expect((int(r["true_allele1"]), int(r["true_allele2"])) == t, f"errors.tsv {key}: true alleles")
            expect((int(r["recorded_allele1"]), int(r["recorded_allele2"])) == g, f"errors.tsv {key}: recorded alleles")
            expect(r["model"] == name, f"errors.tsv {key}: model {r['model']}")
            a, m = key
            flag = is_detectable(rec, order, a, m, inheritance)
            expect(int(r["detectable"]) == flag, f"errors.tsv {key}: detectable {r['detectable']}, recount {flag}")
            detectable += flag

    # Counts: run.tsv, the summary and the truth file against recounts.
    inconsistent_animals = 0
    inconsistent_genotypes = 0
    inconsistent_by_marker = [0] * markers
    for a in order:
        s, d = rec[a][:2]
        bad = [m for m in range(markers) if rec[a][3][m][0] and not consistent(
            rec[a][3][m], rec[s][3][m] if s else None, rec[d][3][m] if d else None,
            sire_passes(inheritance[m], rec[a][2]))]
        for m in bad:
            inconsistent_by_marker[m] += 1
        inconsistent_genotypes += len(bad)
        inconsistent_animals += len(bad) > 0
    altered_animals = len({a for a, _ in differ})
    # What Python's per-marker statistics must say (the documentation: called of the
    # animals, altered of the called, conflicts with called parents).
    altered_by_marker = [0] * markers
    for _, m in differ:
        altered_by_marker[m] += 1
    # Per marker, the animals carrying it and their copies: one copy counted once.
    held = [[0] * 8 for _ in range(markers)]
    carriers = [0] * markers
    for a in order:
        for m, t in enumerate(true[a][3]):
            n = copies(inheritance[m], rec[a][2])
            carriers[m] += n > 0
            for allele in t[2 - n:]:
                held[m][allele] += 1
    alleles = int(option_value(cfg["options"], "--alleles", "3"))
    cfg["marker_statistics"] = {
        "call_rate": [c / n for c, n in zip(called_by_marker, carriers)],
        "error_rate": [x / c if c else 0 for x, c in zip(altered_by_marker, called_by_marker)],
        "inconsistent_genotypes": inconsistent_by_marker,
        "minor_allele_frequency": [min(c[1:alleles + 1]) / sum(c[1:]) if sum(c[1:]) else 0 for c in held],
    }
    candidates = None
    if not swap:
        candidates = 0
        if error_model == "design":
            for a in order:
                ts, td = true_parents[a]
                if ts and td and any(rec[a][3][m][0] and not rec[ts][3][m][0] and not rec[td][3][m][0]
                                     for m in range(markers)):
                    candidates += 1
    check_relatedness(cfg, run, rec, true, order, true_parents, names, number, markers)
    if panel:
        said = re.findall(r"^ altered (genotypes|animals)= *(\d+)$", run.out, re.M)
        expect(said == [("genotypes", str(len(differ))), ("animals", str(altered_animals))],
               f"the console says {said}, recount {len(differ)} genotypes in {altered_animals} animals")
    row = read_table(run.path("run.tsv"))[0]
    expect(row["status"] == "0", "run.tsv status")
    expect(int(row["animals"]) == animals, f"run.tsv animals {row['animals']}, recount {animals}")
    expect(int(row["altered_animals"]) == altered_animals, f"run.tsv altered_animals {row['altered_animals']}, recount {altered_animals}")
    expect(int(row["inconsistent_animals"]) == inconsistent_animals, f"run.tsv inconsistent_animals {row['inconsistent_animals']}, recount {inconsistent_animals}")
    if candidates is not None:
        expect(int(row["error_candidates"]) == candidates, f"run.tsv error_candidates {row['error_candidates']}, recount {candidates}")
    truth = read_table(run.path("../truth.txt"))
    expect([int(r["animal"]) for r in truth] == order, "truth file animals")
    truth_lost_count = 0
    for r in truth:
        a = int(r["animal"])
        expect((int(r["sire"]), int(r["dam"])) == rec[a][:2], f"truth file: animal {a}'s parents")
        expect((int(r["recorded_allele1"]), int(r["recorded_allele2"])) == rec[a][3][0], f"truth file: animal {a}'s recorded alleles")
        expect((int(r["true_allele1"]), int(r["true_allele2"])) == true[a][3][0] or not panel or cfg["design_marker_first"],
               f"truth file: animal {a}'s true alleles")
        expect(int(r["altered"]) == (a in {x for x, _ in differ}), f"truth file: animal {a}'s altered flag")
        if r["lost"] == "1":
            truth_lost_count += 1
            expect(all(g == (0, 0) for g in rec[a][3]), f"truth file: lost animal {a} has records")
    expect(int(row["records_lost"]) == truth_lost_count, "run.tsv records_lost against the truth file")
    summary, generations = read_summary(run.path("../summary.txt"))
    if not cfg["supplied"]:
        expect(int(summary["altered_animals"]) == altered_animals, "summary altered_animals")
        expect(int(summary["error_candidates"]) == int(row["error_candidates"]), "summary error_candidates against run.tsv")
        split = int(summary["mendelian_inconsistencies_involving_altered"]) + int(summary["mendelian_inconsistencies_not_involving_altered"])
        expect(split == inconsistent_animals, f"summary inconsistency lines add to {split}, recount {inconsistent_animals}")
        born = Counter(int(r["generation"]) for r in truth)
        lost_born = Counter(int(r["generation"]) for r in truth if r["lost"] == "1")
        for g, fields in generations.items():
            expect(int(fields[0]) == born[g] and int(fields[4]) == lost_born[g], f"summary generation {g} line")
    if panel:
        expect(int(summary["panel_error_candidates"]) == int(row["error_candidates"]), "summary panel_error_candidates against run.tsv")
        expect(int(summary["panel_altered_animals"]) == altered_animals, "summary panel_altered_animals")
        expect(int(summary["panel_altered_genotypes"]) == len(differ), "summary panel_altered_genotypes")
        expect(int(summary["panel_inconsistent_genotypes"]) == inconsistent_genotypes, f"summary panel_inconsistent_genotypes {summary['panel_inconsistent_genotypes']}, recount {inconsistent_genotypes}")
        expect(int(summary["panel_inconsistent_animals"]) == inconsistent_animals, "summary panel_inconsistent_animals")
    if row.get("error_rate", "NA") != "NA":
        # A female sample's Y is no genotype.
        genotypes = sum(copies(inheritance[m], rec[sample[a]][2]) > 0 for a in order for m in range(markers))
        expect(abs(float(row["call_rate"]) - called / genotypes) <= 5e-6 * max(1, called / genotypes), f"run.tsv call_rate {row['call_rate']}, recount {called / genotypes:.6g}")
        expect(int(row["altered_genotypes"]) == len(differ), "run.tsv altered_genotypes")
        expect(int(row["inconsistent_genotypes"]) == inconsistent_genotypes,
               f"run.tsv inconsistent_genotypes {row['inconsistent_genotypes']}, recount {inconsistent_genotypes}")
        if error_model != "design":
            expect(int(row["detectable_errors"]) == detectable, "run.tsv detectable_errors")
            rate = len(differ) / called if called else 0
            expect(abs(float(row["error_rate"]) - rate) <= 5e-6 * max(rate, 1e-3), f"run.tsv error_rate {row['error_rate']}, recount {rate:.6g}")
            by_marker = Counter(m for _, m in differ)
            rates = [by_marker[m] / called_by_marker[m] for m in range(markers) if called_by_marker[m]]
            expect(abs(float(summary["error_rate_marker_max"]) - max(rates)) < 1e-6, "summary error_rate_marker_max")
            expect(abs(float(summary["error_rate_marker_min"]) - min(rates)) < 1e-6, "summary error_rate_marker_min")
        expect(abs(float(summary["call_rate"]) - called / genotypes) < 1e-6, "summary call_rate")
        calls = [called_by_marker[m] / carriers[m] for m in range(markers)]
        expect(abs(float(summary["call_rate_marker_min"]) - min(calls)) < 1e-6, "summary call_rate_marker_min")
    if "wrong_sires" in row:
        kinds = Counter(k for r in changes.values() for k in r["kind"].split(","))
        for column, kind in (("wrong_sires", "wrong-sire"), ("missing_sires", "missing-sire"),
                             ("wrong_dams", "wrong-dam"), ("missing_dams", "missing-dam"),
                             ("swapped_samples", "swap")):
            expect(int(row[column]) == kinds[kind], f"run.tsv {column} {row[column]}, pedigree_truth.tsv {kinds[kind]}")
            expect(int(summary[column]) == kinds[kind], f"summary {column}")

    # Every format holds the same genotypes, names and parents.
    check_formats(cfg, run, rec, true, order, names, markers, sample)
    check_rates(cfg, rec, true, order, true_parents, sample, differ, markers, slower)


def is_detectable(rec, order, a, m, kinds):
    """The documentation: the altered genotype cannot come from its genotyped parents, or an
    offspring's genotype cannot come from its genotyped parents (a among them)."""
    def fails(x):
        s, d = rec[x][:2]
        g = rec[x][3][m]
        return g[0] != 0 and not consistent(g, rec[s][3][m] if s else None, rec[d][3][m] if d else None,
                                            sire_passes(kinds[m], rec[x][2]))
    if fails(a):
        return 1
    return int(any(fails(c) for c in order if a in rec[c][:2]))


def check_formats(cfg, run, rec, true, order, names, markers, sample_of):
    formats = cfg["formats"]
    sex_of = {a: rec[a][2] for a in order}
    parent_name = lambda p: names[p] if p else "0"
    for base, genotypes in (("ped", rec), ("true", true)):
        if "plink" in formats:
            fam = read_fam(run.path(base + ".fam"))
            expect([f[1] for f in fam] == [names[a] for a in order], f"{base}.fam animals")
            for f, a in zip(fam, order):
                expect(f[0] == "1" and f[5] == "-9", f"{base}.fam family or phenotype of {a}")
                expect((f[2], f[3]) == (parent_name(rec[a][0]), parent_name(rec[a][1])), f"{base}.fam parents of {a}: {f[2]}, {f[3]}")
                expect(int(f[4]) == sex_of[a], f"{base}.fam sex of {a}")
            bim = read_bim(run.path(base + ".bim"))
            check_positions(cfg, bim, markers)
            for m, row in enumerate(bim):
                expect(row[1] == f"m{m + 1}" and (row[4], row[5]) == ("C", "A"), f"{base}.bim marker {m + 1}: {row}")
            bed = read_bed(run.path(base), [names[a] for a in order], bim)
            for a in order:
                for m in range(markers):
                    g = genotypes[a][3][m]
                    twos = None if g[0] == 0 else sum(1 for x in g if x == 2)
                    expect(bed[names[a]][m] == twos, f"{base}.bed animal {a} marker {m + 1}: {bed[names[a]][m]}, ped.pre {g}")
        if "plink-text" in formats:
            ped = read_ped(run.path(base + ".ped"))
            mapped = [line.split("\t") for line in open(run.path(base + ".map")).read().splitlines()]
            check_positions(cfg, mapped, markers)
            expect(list(ped) == [names[a] for a in order], f"{base}.ped animals")
            for a in order:
                (s, d, sex), alleles = ped[names[a]]
                expect((s, d) == (parent_name(rec[a][0]), parent_name(rec[a][1])), f"{base}.ped parents of {a}")
                expect(int(sex) == sex_of[a], f"{base}.ped sex of {a}")
                for m in range(markers):
                    expect(sorted(alleles[m]) == sorted(genotypes[a][3][m]), f"{base}.ped animal {a} marker {m + 1}: {alleles[m]}, ped.pre {genotypes[a][3][m]}")
        for name, suffix in (("vcf", ".vcf.gz"), ("bcf", ".bcf")):
            if name in formats:
                check_vcf(cfg, run, base, base + suffix, genotypes, rec, order, names, markers, sample_of)


def check_vcf(cfg, run, base, file, genotypes, rec, order, names, markers, sample_of):
    samples, records = read_vcf(run.path(file))
    expect(samples == [names[a] for a in order], f"{file} samples")
    expect(len(records) == markers, f"{file} has {len(records)} records")
    check_positions(cfg, vcf_map_rows(cfg, records), markers)
    for m, (_, _, ident, ref_alt, cells) in enumerate(records):
        expect(ident == f"m{m + 1}", f"{file} record {m + 1} ID {ident}")
        for a, text in zip(order, cells):
            source = a if base == "true" else sample_of[a]
            ploidy = {"./.": 2, ".": None}.get(text, 1 if "/" not in text and "|" not in text else 2)
            n = copies(cfg["kinds"][m], rec[source][2])
            expect(ploidy in (None, n) and (ploidy is not None or n < 2),
                   f"{file} animal {a} marker {m + 1}: {text} for {n} copies")
            got = vcf_alleles(text, ref_alt, base == "true")
            want = genotypes[a][3][m]
            same = got == want if base == "true" else sorted(got) == sorted(want)
            expect(same, f"{file} animal {a} marker {m + 1}: {text}, ped.pre {want}")
    # The index is the one bcftools makes of the file.
    with tempfile.TemporaryDirectory() as scratch:
        theirs = os.path.join(scratch, "index.csi")
        subprocess.run(["bcftools", "index", "--csi", "-o", theirs, run.path(file)], check=True)
        with gzip.open(theirs, "rb") as t, gzip.open(run.path(file + ".csi"), "rb") as o:
            expect(t.read() == o.read(), f"{file}.csi differs from bcftools index's")


def vcf_map_rows(cfg, records):
    """A VCF's markers as map rows; the centimorgans its positions stand for
    (unlinked markers have none)."""
    linked = option_value(cfg["options"], "--chromosomes") is not None
    return [[r[0], r[2], str((r[1] - 1) / 1e6) if linked else "0", str(r[1])] for r in records]


def check_rates(cfg, rec, true, order, true_parents, sample, differ, markers, slower):
    options = cfg["options"]
    # Transmission: a child's true first allele is its true sire's, the second its dam's; the
    # two meioses are independent (first heterozygous-by-heterozygous marker of each child).
    # X, Y and MT by their lines: one copy held twice, a female's Y none.
    skip_first = cfg["design_marker_first"]
    kinds = cfg["kinds"]
    same = []
    for a in order:
        s, d = true_parents[a]
        sex = rec[a][2]
        for m in range(markers):
            child = true[a][3][m]
            n = copies(kinds[m], sex)
            expect(n == 2 or child[0] == child[1], f"animal {a} marker {m + 1}: true {child}, one copy")
            expect(n > 0 or child == (0, 0), f"animal {a} marker {m + 1}: true {child}, a female's Y")
            if kinds[m] == "X" and s and sex == 2:
                expect(child[0] == true[s][3][m][0], f"animal {a} X marker {m + 1}: {child}, not her sire's X")
            if kinds[m] == "X" and d:
                expect(child[1] in true[d][3][m], f"animal {a} X marker {m + 1}: {child}, not from its dam")
            if kinds[m] == "Y" and s and sex == 1:
                expect(child == true[s][3][m], f"animal {a} Y marker {m + 1}: {child}, not its sire's Y")
            if kinds[m] == "MT" and d:
                expect(child == true[d][3][m], f"animal {a} MT marker {m + 1}: {child}, not its dam's")
        if not (s and d):
            continue
        for m in range(1 if skip_first else 0, markers):
            if kinds[m] != "A":
                continue
            child, sg, dg = true[a][3][m], true[s][3][m], true[d][3][m]
            expect(child[0] in sg and child[1] in dg, f"animal {a} marker {m + 1}: true {child} from sire {sg}, dam {dg}")
            if sg[0] != sg[1] and dg[0] != dg[1]:
                same.append((child[0] == sg[0]) == (child[1] == dg[0]))
                break
    if len(same) >= 30:
        within(sum(same) / len(same), 0.5, math.sqrt(0.25 / len(same)), "sire's and dam's meioses agree")
    # Pedigree errors at their rates, and independent of each other.
    n_sire = sum(1 for a in order if true_parents[a][0])
    n_dam = sum(1 for a in order if true_parents[a][1])
    for option, which, wrong in (("--wrong-sire", 0, True), ("--missing-sire", 0, False),
                                 ("--wrong-dam", 1, True), ("--missing-dam", 1, False)):
        p = float(option_value(options, option, "0"))
        known = n_sire if which == 0 else n_dam
        hits = sum(1 for a in order if true_parents[a][which] and
                   (rec[a][which] != true_parents[a][which]) and ((rec[a][which] != 0) == wrong))
        if known >= 30:
            within(hits / known, p, math.sqrt(max(p * (1 - p), 0.25 / known) / known) + 2 / known, f"{option} share")
    swap = float(option_value(options, "--swap", "0"))
    swapped = [a for a in order if sample[a] != a]
    genotyped = [a for a in order if any(g[0] for g in rec[a][3])]
    if swap and len(genotyped) >= 30:
        within(len(swapped) / len(genotyped), swap, math.sqrt(swap * (1 - swap) / len(genotyped)) + 2 / len(genotyped), "--swap share")
        p = float(option_value(options, "--wrong-sire", "0"))
        with_sire = [a for a in swapped if true_parents[a][0]]
        if p and len(with_sire) >= 30:
            hits = sum(1 for a in with_sire if rec[a][0] not in (0, true_parents[a][0]))
            within(hits / len(with_sire), p, math.sqrt(p * (1 - p) / len(with_sire)) + 2 / len(with_sire),
                   "wrong sires among swapped animals (independence)")
    # Record models at their rates.
    model = error_model_of(options, cfg)
    rate = float(option_value(options, "--error-rate", "0"))
    if model in ("random-allele", "dropout") and "--error-spread" not in options:
        eligible = 0
        for a in order:
            for m in range(markers):
                g = rec[a][3][m]
                t = true[sample[a]][3][m]
                if g[0] and (model == "random-allele" or t[0] != t[1]):
                    eligible += 1
        if "--error-count" in options:
            expect(len(differ) == rounded(rate * eligible), f"exact count: {len(differ)} errors, not round({rate} x {eligible})")
        elif eligible >= 100:
            within(len(differ) / eligible, rate, math.sqrt(rate * (1 - rate) / eligible), f"{model} error rate")
    carried = {a: [m for m in range(markers) if copies(kinds[m], rec[sample[a]][2]) > 0] for a in order}
    if missing_model_of(options, cfg) == "none":
        for a in order:
            genotyped = any(g[0] for g in rec[a][3]) or not is_lost_whole(cfg)
            expect(not genotyped or all(rec[a][3][m][0] for m in carried[a]),
                   f"--missing-model none left animal {a} with a missing genotype")
    if missing_model_of(options, cfg) == "random":
        c = float(option_value(options, "--call-rate"))
        kept = [a for a in order if any(g[0] for g in rec[a][3]) or not is_lost_whole(cfg)]
        called = sum(1 for a in kept for g in rec[a][3] if g[0])
        total = sum(len(carried[a]) for a in kept)
        if c == 1:
            ungenotyped = "--ungenotyped-parents" in options
            expect(ungenotyped or called == total, "--call-rate 1 left genotypes uncalled")
        elif total >= 100 and "--ungenotyped-parents" not in options:
            by_marker = [sum(1 for a in kept if rec[a][3][m][0]) / len(kept) for m in range(markers)
                         if kinds[m] == "A"]
            by_animal = [sum(1 for g in rec[a][3] if g[0]) / len(carried[a]) for a in kept]
            se = math.sqrt(c * (1 - c) / total)
            if "--call-rate-spread" in options and markers > 1:
                se += stdev(by_marker) / math.sqrt(markers)
            if "--animal-call-rate-spread" in options:
                se += stdev(by_animal) / math.sqrt(len(kept))
            within(called / total, c, se, "realised call rate")
    share = option_value(options, "--ungenotyped-parents")
    if share is not None:
        parents = {p for a in order for p in true_parents[a] if p}
        none = sum(1 for p in parents if not any(g[0] for g in true_records_before_swap(rec, sample, p)))
        wanted = rounded(float(share) * len(parents))
        expect(none >= wanted, f"{none} of {len(parents)} parents ungenotyped, fewer than round({share} x {len(parents)})")
        # Parents left without records by --genotyped count toward the share, and may pass it.
        if (missing_model_of(options, cfg) == "random" and option_value(options, "--call-rate") == "1.0"
                and not cfg["genotyped"]):
            expect(none == wanted, f"{none} of {len(parents)} parents ungenotyped, not {wanted}")
    # The error rate never moves a missing genotype.
    if slower is not None:
        other, _ = read_pre(slower.path("ped.pre"))
        for a in order:
            for m in range(markers):
                expect((rec[a][3][m][0] == 0) == (other[a][3][m][0] == 0),
                       f"changing the error rate changed whether animal {a} marker {m + 1} is called")


def marker_places(cfg, markers):
    """README: each marker's chromosome and cM on a linked map, or its own name unlinked."""
    chromosomes = option_value(cfg["options"], "--chromosomes")
    if chromosomes is None:
        return [(f"m{m + 1}", 0.0) for m in range(markers)]
    c, length = int(chromosomes), float(option_value(cfg["options"], "--chromosome-length", "100"))
    autosomal = int(option_value(cfg["options"], "--markers", "1"))
    spread = [(str(chrom + 1), autosomal // c + (1 if chrom < autosomal % c else 0)) for chrom in range(c)]
    places = []
    for name, n in spread + sex_chromosomes_of(cfg):
        places += [(name, (j + 0.5) * length / n) for j in range(n)]
    return places


def kinship_function(parents):
    """Pedigree kinship by the plain recursion over the younger animal's parents."""
    memo = {}

    def f(a, b):
        if a == 0 or b == 0:
            return 0.0
        if a < b:
            a, b = b, a
        if (a, b) not in memo:
            s, d = parents[a]
            memo[(a, b)] = 0.5 * (1 + f(s, d)) if a == b else 0.5 * (f(s, b) + f(d, b))
        return memo[(a, b)]
    return f


def check_relatedness(cfg, run, rec, true, order, true_parents, names, number, markers):
    options = cfg["options"]
    if "--ibd" not in options and "--pairs" not in options:
        return
    places = marker_places(cfg, markers)
    linked = "--chromosomes" in options
    # The classic marker, passed on by the classic rule, has no segments.
    classic_first = not linked and not cfg["supplied"] and not cfg["panel_markers_beyond_classic_model"]
    lengths = {}
    for chrom, cm in places[1 if classic_first else 0:]:
        lengths[chrom] = max(lengths.get(chrom, 0.0), cm)
    # The realised coefficients are of the autosomes.
    autosomes = {c: l for c, l in lengths.items() if c not in ("X", "Y", "MT")}
    genome = sum(l if l > 0 else 1 for l in autosomes.values())

    def held(a, h, chrom):
        """The documentation: a male's X is haplotype 2, a male's Y haplotype 1, MT haplotype 2."""
        kind = chrom if chrom in ("X", "Y", "MT") else "A"
        n = copies(kind, rec[a][2])
        return n == 2 or (n == 1 and h == (1 if kind == "Y" else 2))
    segments = {}
    if "--ibd" in options:
        for r in read_table(run.path("segments.tsv")):
            a, f = number[r["animal"]], number[r["founder"]]
            key = (a, int(r["haplotype"]), r["chromosome"])
            segments.setdefault(key, []).append((float(r["start_cm"]), float(r["end_cm"]), f, int(r["founder_haplotype"])))
        for a in order:
            for h in (1, 2):
                for chrom, length in lengths.items():
                    runs = segments.get((a, h, chrom), [])
                    if not held(a, h, chrom):
                        expect(not runs, f"segments.tsv: animal {a} haplotype {h} on {chrom}, a copy it does not carry")
                        continue
                    # Positions are written to the millionth of a centimorgan.
                    expect(runs and runs[0][0] == 0 and abs(runs[-1][1] - length) <= 5e-7
                           and all(x[1] == y[0] for x, y in zip(runs, runs[1:])),
                           f"segments.tsv: animal {a} haplotype {h} chromosome {chrom} not covered from 0 to {length}")
        for m, (chrom, cm) in enumerate(places):
            if classic_first and m == 0:
                continue
            for a in order:
                for h in (1, 2):
                    for start, end, f, fh in segments.get((a, h, chrom), []):
                        if (linked and start + 5e-7 < cm < end - 5e-7) or not linked:
                            expect(true[a][3][m][h - 1] == true[f][3][m][fh - 1],
                                   f"segments.tsv: animal {a} haplotype {h} marker {m + 1} is not founder {f}'s haplotype {fh}")
        kinship = {number[r["animal"]]: r for r in read_table(run.path("kinship.tsv"))}
        expect(sorted(kinship) == order, "kinship.tsv does not list every animal")
        for a in order:
            same = 0.0
            for chrom, length in autosomes.items():
                same += shared(segments[(a, 1, chrom)], segments[(a, 2, chrom)], length)
            within(float(kinship[a]["inbreeding_realised"]), same / genome, 1e-5, f"animal {a}'s realised inbreeding")
        row = read_table(run.path("run.tsv"))[0]
        for column in ("inbreeding_recorded", "inbreeding_true", "inbreeding_realised"):
            mean = sum(float(kinship[a][column]) for a in order) / len(order)
            within(float(row["mean_" + column]), mean, 1e-6 * max(1.0, mean), f"run.tsv mean_{column}")
        if len(order) <= 1500:
            on_truth = kinship_function(true_parents)
            on_record = kinship_function({a: rec[a][:2] for a in order})
            for a in order:
                within(float(kinship[a]["inbreeding_true"]), on_truth(*true_parents[a]), 1e-9, f"animal {a}'s inbreeding")
                within(float(kinship[a]["inbreeding_recorded"]), on_record(*rec[a][:2]), 1e-9, f"animal {a}'s recorded inbreeding")
    if "--pairs" in options:
        kinds = option_value(options, "--pairs").split(",")
        wanted = []
        if "parent-offspring" in kinds:
            wanted += [(p, a, "parent-offspring") for a in order for p in rec[a][:2] if p]
        for x in order:
            for y in order:
                if y <= x:
                    continue
                (sx, dx), (sy, dy) = rec[x][:2], rec[y][:2]
                if "full-sibs" in kinds and sx and dx and (sx, dx) == (sy, dy):
                    wanted.append((x, y, "full-sibs"))
                if "half-sibs" in kinds and ((sx and sx == sy and (dx != dy or not dx)) or
                                             (dx and dx == dy and (sx != sy or not sx))):
                    wanted.append((x, y, "half-sibs"))
        listed = [(number[r["animal_1"]], number[r["animal_2"]], r["relationship"]) for r in read_table(run.path("pairs.tsv"))]
        expect(sorted(listed) == sorted(wanted), f"pairs.tsv lists {len(listed)} pairs where the recorded pedigree has {len(wanted)}")


def shared(first, second, length):
    """The length (1 for a marker of its own) where two haplotypes' segments share a founder haplotype."""
    if length == 0:
        return 1.0 if first[0][2:] == second[0][2:] else 0.0
    total = 0.0
    for s1, e1, f1, h1 in first:
        for s2, e2, f2, h2 in second:
            if (f1, h1) == (f2, h2):
                total += max(0.0, min(e1, e2) - max(s1, s2))
    return total


def rounded(x):
    """x to the nearest integer, halves away from zero (as round() in C)."""
    return math.floor(x + 0.5)


def true_records_before_swap(rec, sample, p):
    for a, s in sample.items():
        if s == p:
            return rec[a][3]
    return rec[p][3]


def unnamed_model(cfg):
    """The documentation: a panel or a supplied pedigree has none of the design's records unless asked."""
    return "none" if cfg["supplied"] or cfg["panel_markers"] else "design"


def error_model_of(options, cfg):
    """The documentation: --error-model, else random-allele when --error-rate is given alone."""
    return option_value(options, "--error-model", "random-allele" if "--error-rate" in options else unnamed_model(cfg))


def missing_model_of(options, cfg):
    """The documentation: --missing-model, else random when --call-rate is given alone."""
    return option_value(options, "--missing-model", "random" if "--call-rate" in options else unnamed_model(cfg))


def is_lost_whole(cfg):
    return "--ungenotyped-parents" in cfg["options"] or cfg["genotyped"]


def stdev(values):
    mean = sum(values) / len(values)
    return math.sqrt(sum((v - mean) ** 2 for v in values) / max(1, len(values) - 1))


# ----------------------------------------------------------------------------
# The Python module against the files


def check_module(cfg, run, folder):
    if module is None:
        return
    keywords = {}
    options = cfg["options"]
    ibd = "--ibd" in options
    pairs = option_value(options, "--pairs")
    k = 0
    while k < len(options):
        if options[k] == "--ibd":
            k += 1
            continue
        if options[k] != "--pairs":
            keywords[options[k][2:].replace("-", "_")] = options[k + 1]
        k += 2
    for key, value in list(keywords.items()):
        for cast in (int, float):
            try:
                keywords[key] = cast(value)
                break
            except ValueError:
                pass
    if cfg["supplied"]:
        genotyped = open(os.path.join(folder, "genotyped.txt")).read().split() if cfg["genotyped"] else None
        r = module.simulate(pedigree=os.path.join(folder, "herd.txt"), genotyped=genotyped, seed=cfg["seed"], **keywords)
    else:
        r = module.simulate(*cfg["numbers"], seed=cfg["seed"], **keywords)
    rec, order = read_pre(run.path("ped.pre"))
    true, _ = read_pre(run.path("true.pre"))
    expect(list(r.sire) == [rec[a][0] for a in order] and list(r.dam) == [rec[a][1] for a in order],
           "Python's sire and dam differ from ped.pre's")
    got = r.recorded_genotypes.tolist()
    expect(all([tuple(x) for x in got[k]] == rec[a][3] for k, a in enumerate(order)),
           "Python's recorded_genotypes differ from ped.pre")
    got = r.true_genotypes.tolist()
    expect(all([tuple(x) for x in got[k]] == true[a][3] for k, a in enumerate(order)),
           "Python's true_genotypes differ from true.pre")
    expect([tuple(x) for x in r.recorded.tolist()] == [rec[a][3][0] for a in order],
           "Python's recorded differs from ped.pre's first marker")
    number = {str(a): a for a in order}
    if cfg["supplied"]:
        number = {r["name"]: int(r["number"]) for r in read_table(run.path("ids.tsv"))}
    number["0"] = 0
    if os.path.exists(run.path("pedigree_truth.tsv")):
        table = read_table(run.path("pedigree_truth.tsv"))
        t = r.pedigree_truth
        for column in ("animal", "true_sire", "true_dam", "recorded_sire", "recorded_dam"):
            expect(list(t[column]) == [number[x[column]] for x in table], f"Python's pedigree_truth[{column!r}]")
    if os.path.exists(run.path("errors.tsv")):
        table = read_table(run.path("errors.tsv"))
        t = r.error_table
        expect(len(t["animal"]) == len(table) and len(t["model"]) == len(table), "Python's error_table rows")
    stats = r.marker_statistics
    expect(bool(stats) == cfg["panel"], "Python's marker_statistics present without a panel, or absent with one")
    for name, expected in cfg["marker_statistics"].items() if stats else ():
        got = stats[name].tolist()
        expect(len(got) == len(expected) and all(abs(x - y) <= 1e-12 for x, y in zip(got, expected)),
               f"Python's marker_statistics[{name!r}] {got[:4]}..., recount {expected[:4]}...")
    if ibd:
        kinship = read_table(run.path("kinship.tsv"))
        for column in ("inbreeding_recorded", "inbreeding_true", "inbreeding_realised"):
            expect([float(x[column]) for x in kinship] == r.inbreeding[column].tolist(), f"Python's inbreeding[{column!r}]")
        expect(len(r.segments["animal"]) == len(read_table(run.path("segments.tsv"))), "Python's segments rows")
    if pairs:
        table = read_table(run.path("pairs.tsv"))
        t = r.kinship(pairs)
        expect([float(x["kinship_realised"]) for x in table] == t["kinship_realised"].tolist(), "Python's kinship(pairs)")
    out = os.path.join(folder, "python")
    r.write(out, truth=True, summary=True, true_genotypes=True, formats=cfg["formats"], ibd=ibd, pairs=pairs)
    for name in sorted(os.listdir(run.path("."))):
        if name.endswith((".gz", ".csi")) or (name.endswith(".bcf") and cfg["compression_level"] is not None):
            continue
        expect(open(os.path.join(out, name), "rb").read() == open(run.path(name), "rb").read(),
               f"Run.write's {name} differs from the command line's")


def check_part(binary, cfg, run, folder, args_of, options, numbers, rng):
    """The run split by chromosome in two parts (the guide): each with the same
    animals and recorded pedigree and, on its chromosomes, the whole run's
    genotypes, recorded and true; merged, the whole run's files byte for byte
    but those merging names as not joined."""
    places = marker_places(cfg, markers_of(cfg))
    names = list(dict.fromkeys(name for name, _ in places))
    if len(names) < 2:
        return
    k = rng.randint(1, len(names) - 1)
    parts = []
    for n, asked in enumerate((names[:k], names[k:])):
        sub = os.path.join(folder, f"part{n}")
        os.mkdir(sub)
        for f in ("herd.txt", "genotyped.txt"):
            if os.path.exists(os.path.join(run.folder, f)):
                shutil.copy(os.path.join(run.folder, f), sub)
        part = Run(binary, sub, args_of(options + ["--only-chromosomes", ",".join(asked)]) + numbers)
        expect(part.status == 0, f"the part {','.join(asked)}: status {part.status}: {part.err.strip()}")
        kept = [m for m, (name, _) in enumerate(places) if name in asked]
        for base in ("ped", "true"):
            whole, order = read_pre(run.path(base + ".pre"))
            rows, part_order = read_pre(part.path(base + ".pre"))
            expect(part_order == order, f"the part's {base}.pre lists other animals")
            for a in order:
                expect(rows[a][:3] == whole[a][:3], f"the part's {base}.pre: animal {a}'s parents or sex")
                expect(rows[a][3] == [whole[a][3][m] for m in kept],
                       f"the part {','.join(asked)}'s {base}.pre: animal {a}'s genotypes differ from the whole run's")
        parts.append(part.path("."))
    merged = os.path.join(folder, "merged")
    result = subprocess.run([binary, "merge", "--outdir", merged] + compression_options(cfg) + parts,
                            capture_output=True, text=True)
    expect(result.returncode == 0, f"merge: status {result.returncode}: {result.stderr.strip()}")
    not_joined = set(result.stderr.strip().rsplit(": ", 1)[1].split(", ")) if result.stderr.strip() else set()
    expect(not_joined <= {"run.tsv", "segments.tsv", "kinship.tsv", "pairs.tsv"},
           f"merge did not join {sorted(not_joined)}")
    for name in sorted(os.listdir(run.path("."))):
        if name in not_joined:
            continue
        expect(open(os.path.join(merged, name), "rb").read() == open(run.path(name), "rb").read(),
               f"the merged parts' {name} differs from the whole run's")


def compression_options(cfg):
    level = cfg["compression_level"]
    return [] if level is None else ["--compression-level", str(level)]


def check_study(binary, cfg, run, folder, numbers):
    """A study of two replicates: replicate 0 is the single run, and
    replicates.tsv holds each replicate's run.tsv line."""
    args = ["--seed", str(cfg["seed"]), "--replicates", "2", "--outdir", "study", "--true-genotypes",
            "--format", ",".join(cfg["formats"])] + compression_options(cfg) + cfg["options"] + numbers
    result = subprocess.run([binary] + args, cwd=folder, capture_output=True, text=True,
                            encoding="latin-1", timeout=600)
    expect(result.returncode == 0, f"the study: status {result.returncode}: {result.stderr.strip()}")
    study = os.path.join(folder, "study")
    for name in os.listdir(run.path(".")):
        if name == "run.tsv":
            continue
        expect(open(os.path.join(study, "r00000", name), "rb").read() == open(run.path(name), "rb").read(),
               f"the study's replicate 0 {name} differs from the single run's")
    table = open(os.path.join(study, "replicates.tsv")).read().splitlines()
    for k in range(2):
        line = open(os.path.join(study, f"r{k:05d}", "run.tsv")).read().splitlines()
        expect(line[0] == table[0] and line[1] == table[1 + k],
               f"replicates.tsv's line of replicate {k} differs from its run.tsv")


# ----------------------------------------------------------------------------


MATRIX = "0.9\t0.08\t0.02\n0.05\t0.9\t0.05\n0.01\t0.09\t0.9\n"


def run_configuration(binary, cfg, folder, rng):
    args_of = lambda options: ["--seed", str(cfg["seed"]), "--outdir", "run", "--truth", "truth.txt",
                               "--summary", "summary.txt", "--true-genotypes",
                               "--format", ",".join(cfg["formats"])] + compression_options(cfg) + options
    with open(os.path.join(folder, "matrix.tsv"), "w") as f:
        f.write(MATRIX)
    options = [("matrix:" + os.path.join(folder, "matrix.tsv")) if o == "matrix:MATRIX" else o
               for o in cfg["options"]]
    cfg["options"] = options
    numbers = [str(x) for x in cfg["numbers"]]
    if cfg["supplied"]:
        bred = os.path.join(folder, "bred")
        os.mkdir(bred)
        subprocess.run([binary, "--seed", str(cfg["seed"] ^ 1)] + numbers, cwd=bred, capture_output=True, check=True)
        rows, order = read_pre(os.path.join(bred, "ped.pre"))
        text, names = supplied_table(rows, order, rng)
        with open(os.path.join(folder, "herd.txt"), "w") as f:
            f.write(text)
        numbers = ["--pedigree", "herd.txt"]
        if cfg["genotyped"]:
            with open(os.path.join(folder, "genotyped.txt"), "w") as f:
                f.write("\n".join(n for n in names if rng.random() < 0.7) + "\n")
            numbers += ["--genotyped", "genotyped.txt"]
    # Any marker, record or pedigree-error option makes a panel.
    cfg["panel"] = cfg["supplied"] or any(o.startswith("--") and o != "--wrong-parent-from" for o in options)
    cfg["design_marker_first"] = (not cfg["supplied"] and option_value(options, "--alleles", "3") == "3"
                                  and option_value(options, "--frequencies", "equal") == "equal"
                                  and "--chromosomes" not in options)
    folders = []
    for name in ("main", "base", "slower"):
        path = os.path.join(folder, name)
        os.mkdir(path)
        for f in ("herd.txt", "genotyped.txt"):
            if os.path.exists(os.path.join(folder, f)):
                shutil.copy(os.path.join(folder, f), path)
        folders.append(path)
    run = Run(binary, folders[0], args_of(options) + numbers)
    cfg["command"] = run.command
    expect(run.status == 0, f"status {run.status}: {run.err.strip()}")
    base = Run(binary, folders[1], args_of(pedigree_error_options(options)) + numbers)
    expect(base.status == 0, f"the run without pedigree errors: status {base.status}: {base.err.strip()}")
    slower = None
    rate = option_value(options, "--error-rate")
    if rate is not None and "--error-count" not in options:
        changed = list(options)
        changed[changed.index("--error-rate") + 1] = str(float(rate) / 2)
        slower = Run(binary, folders[2], args_of(changed) + numbers)
        expect(slower.status == 0, f"the run at half the error rate: status {slower.status}")
    check_run(cfg, run, base, slower)
    if option_value(options, "--chromosomes") is not None and "--error-count" not in options and rng.random() < 0.4:
        os.mkdir(os.path.join(folder, "part"))
        check_part(binary, cfg, run, os.path.join(folder, "part"), args_of, options, numbers, rng)
    if cfg.get("python"):
        check_module(cfg, run, folders[0])
    if cfg.get("study"):
        check_study(binary, cfg, run, folders[0], numbers)


def main():
    binary = os.path.abspath(sys.argv[1])
    count = int(os.environ.get("PEDSIM_CONSISTENCY_CONFIGS", sys.argv[2] if len(sys.argv) > 2 else "40"))
    first = int(os.environ.get("PEDSIM_CONSISTENCY_SEED", "1"))
    failed = 0
    for k in range(first, first + count):
        rng = random.Random(k)
        cfg = draw_configuration(rng)
        cfg["python"] = module is not None and k % 4 == 0
        cfg["study"] = k % 5 == 1
        folder = tempfile.mkdtemp(prefix="pedsim-consistency-")
        try:
            run_configuration(binary, cfg, folder, rng)
        except (Failure, OSError, ValueError, KeyError, IndexError) as failure:
            failed += 1
            print(f"configuration {k}: {failure}\n  reproduce in {folder}/main: {cfg.get('command', '?')}")
            continue
        shutil.rmtree(folder)
    print(f"consistency: {count - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
