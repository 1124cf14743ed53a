"""The genotype files as the field's own tools read them: plink1.9, plink2
and bcftools (Debian packages plink1.9, plink2, bcftools)."""

import gzip
import subprocess

import numpy as np
import pytest

import pedsim


def tool(*args, cwd):
    done = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def table(path, skip=1):
    return [line.split() for line in path.read_text().splitlines()[skip:]]


@pytest.fixture(scope="module")
def panel(tmp_path_factory):
    """A two-allele panel with errors and missing genotypes, written in every format."""
    folder = tmp_path_factory.mktemp("formats")
    run = pedsim.simulate(5, 300, 30, seed=12, markers=300, alleles=2, chromosomes=3,
                          frequencies="maf:0.05-0.5", error_model="random-allele",
                          error_rate=0.02, missing_model="random", call_rate=0.97)
    run.write(folder, formats=["pre", "plink", "plink-text", "vcf", "bcf"], true_genotypes=True)
    return run, folder


def copies_of_allele2(genotypes):
    """Per marker: allele-2 copies and called alleles."""
    called = (genotypes != 0).all(axis=2)
    twos = ((genotypes == 2).sum(axis=2) * called).sum(axis=0)
    return twos, 2 * called.sum(axis=0)


def test_plink_mendel_errors_are_pedsims_inconsistencies(panel):
    run, folder = panel
    tool("plink1.9", "--bfile", "ped", "--mendel", "--out", "mendel", cwd=folder)
    counts = [int(row[2]) for row in table(folder / "mendel.lmendel")]
    assert sum(counts) > 100
    assert counts == run.inconsistencies_per_marker.tolist()


def duo_conflicts_by_marker(run):
    """Per marker: called genotypes of animals with one recorded parent that
    share no allele with that parent's called genotype."""
    genotypes = run.recorded_genotypes.astype(int)
    sire, dam = np.asarray(run.sire), np.asarray(run.dam)
    duo = (sire == 0) != (dam == 0)
    child = genotypes[duo]
    parent = genotypes[np.maximum(sire, dam)[duo] - 1]
    called = (child[:, :, 0] != 0) & (parent[:, :, 0] != 0)
    shared = (child[:, :, :, None] == parent[:, :, None, :]).any(axis=(2, 3))
    return (called & ~shared).sum(axis=0)


@pytest.mark.parametrize("records", [
    dict(error_rate=0.01, call_rate=0.95),  # random-allele and random, picked by the rates
    dict(error_model="none", missing_model="none"),
])
def test_plink_mendel_errors_with_pedigree_errors(tmp_path, records):
    """Wrong parents and mixed-up samples conflict at every marker, not only
    at altered genotypes; PLINK checks only animals with both parents in the
    .fam, pedsim also the one recorded parent of the others."""
    run = pedsim.simulate(4, 200, 20, seed=5, markers=200, alleles=2, wrong_sire=0.3,
                          missing_dam=0.1, swap=0.05, **records)
    run.write(tmp_path, formats=["plink"])
    tool("plink1.9", "--bfile", "ped", "--mendel", "--out", "mendel", cwd=tmp_path)
    counts = np.array([int(row[2]) for row in table(tmp_path / "mendel.lmendel")])
    duos = duo_conflicts_by_marker(run)
    assert duos.sum() > 50 and counts.sum() > 5000
    assert (counts == run.inconsistencies_per_marker - duos).all()
    assert (run.marker_statistics["inconsistent_genotypes"] == run.inconsistencies_per_marker).all()
    swapped = run.pedigree_truth["swapped_with"]
    assert (swapped > 0).sum() > 20
    assert (swapped[swapped > 0] != run.pedigree_truth["animal"][swapped > 0]).all()


def test_allele_counts_agree_with_plink2_and_bcftools(panel):
    run, folder = panel
    twos, called = copies_of_allele2(run.recorded_genotypes)
    tool("plink2", "--bfile", "ped", "--freq", "counts", "--nonfounders", "--out", "freq", cwd=folder)
    rows = table(folder / "freq.acount")  # CHROM ID REF ALT ALT_CTS OBS_CT
    assert [r[1] for r in rows] == run.marker_names
    assert [int(r[4]) for r in rows] == twos.tolist()
    assert [int(r[5]) for r in rows] == called.tolist()
    tags = tool("bcftools", "+fill-tags", "ped.vcf.gz", "--", "-t", "AC,AN", cwd=folder)
    # A region query reads ped.vcf.gz.csi.
    region = tool("bcftools", "view", "-H", "-r", "2:1-100000000", "ped.vcf.gz", cwd=folder)
    assert [line.split("\t")[2] for line in region.splitlines()] == [
        name for name, chromosome in zip(run.marker_names, run.marker_chromosomes)
        if chromosome == "2"]
    queried = subprocess.run(["bcftools", "query", "-f", "%ID %AC %AN\n", "-"], input=tags,
                             capture_output=True, text=True, check=True).stdout
    assert [line.split() for line in queried.splitlines()] == [
        [name, str(t), str(c)] for name, t, c in zip(run.marker_names, twos, called)]


def test_vcf_and_plink_text_hold_the_genotypes_of_the_bed(panel):
    _, folder = panel
    bed = (folder / "ped.bed").read_bytes()
    tool("plink1.9", "--vcf", "ped.vcf.gz", "--keep-allele-order", "--make-bed", "--out", "v1",
         cwd=folder)
    tool("plink2", "--vcf", "ped.vcf.gz", "--make-bed", "--out", "v2", cwd=folder)
    tool("plink1.9", "--file", "ped", "--a1-allele", "ped.bim", "5", "2", "--make-bed", "--out",
         "t1", cwd=folder)
    for converted in ("v1.bed", "v2.bed", "t1.bed"):
        assert (folder / converted).read_bytes() == bed, converted
    tool("plink2", "--vcf", "true.vcf.gz", "--make-bed", "--out", "tv", cwd=folder)
    assert (folder / "tv.bed").read_bytes() == (folder / "true.bed").read_bytes()


def test_bcf_holds_the_vcfs_records_and_both_indexes_are_bcftools_own(panel):
    _, folder = panel
    for base in ("ped", "true"):
        assert (tool("bcftools", "view", "-H", f"{base}.bcf", cwd=folder)
                == tool("bcftools", "view", "-H", f"{base}.vcf.gz", cwd=folder))
        for name in (f"{base}.bcf", f"{base}.vcf.gz"):
            tool("bcftools", "index", "--csi", "-o", f"{name}.theirs", name, cwd=folder)
            with gzip.open(folder / f"{name}.csi") as ours, gzip.open(folder / f"{name}.theirs") as theirs:
                assert ours.read() == theirs.read(), name
    plink = tool("plink2", "--bcf", "true.bcf", "--make-bed", "--out", "tb", cwd=folder)
    assert (folder / "tb.bed").read_bytes() == (folder / "true.bed").read_bytes(), plink


def test_true_vcf_is_phased_sire_first(panel):
    run, folder = panel
    with gzip.open(folder / "true.vcf.gz", "rt") as f:
        first = next(line for line in f if not line.startswith("#")).split("\t")
    gt = [[int(a) + 1 for a in field.split("|")] for field in first[9:]]
    assert gt == run.true_genotypes[:, 0, :].tolist()


def test_the_design_marker_keeps_all_four_alleles_through_bcftools(tmp_path):
    run = pedsim.simulate(6, 400, 40, seed=3)
    assert (run.recorded == 4).any()
    run.write(tmp_path, formats=["vcf"])
    header = tool("bcftools", "view", "-h", "ped.vcf.gz", cwd=tmp_path)
    samples = header.splitlines()[-1].split("\t")[9:]
    assert samples == [str(a) for a in run.animal]
    line = tool("bcftools", "query", "-f", "%REF,%ALT[\t%GT]\n", "ped.vcf.gz", cwd=tmp_path)
    alleles, *gts = line.rstrip("\n").split("\t")
    assert alleles == "A,C,G,T"
    recorded = [[0, 0] if "." in gt else [int(a) + 1 for a in gt.split("/")] for gt in gts]
    assert recorded == run.recorded.tolist()
    assert not (tmp_path / "ped.pre").exists()


def test_plink_refuses_more_than_two_alleles_before_writing(tmp_path):
    with pytest.raises(ValueError, match="^formats plink holds 2 alleles per marker.* write formats pre"):
        pedsim.simulate(3, 20, 5, seed=1).write(tmp_path / "out", formats=["plink"])
    assert not (tmp_path / "out").exists()
    with pytest.raises(ValueError, match="^formats takes a comma-separated list"):
        pedsim.simulate(3, 20, 5, seed=1).write(tmp_path / "out", formats=["bed"])


def test_markers_dropped_onto_a_pedigree_table_with_pedigree_errors(tmp_path):
    import pandas
    frame = pandas.DataFrame({"animal": ["bull", "cow", "calf", "late"],
                              "sire": ["0", None, "bull", "bull"],
                              "dam": ["0", "0", "cow", None], "sex": [1, 2, 2, None]})
    run = pedsim.simulate(pedigree=frame, seed=2, markers=30, alleles=3, wrong_dam=1.0)
    assert run.names == ["bull", "cow", "calf", "late"]
    assert run.true_genotypes.shape == (4, 30, 2)
    # calf's only possible wrong dam is none other than cow: it keeps its dam.
    assert run.pedigree_truth["animal"].size == 0
    run.write(tmp_path, formats=["vcf"])
    assert (tmp_path / "ids.tsv").read_text().splitlines()[1:] == [
        "1\tbull", "2\tcow", "3\tcalf", "4\tlate"]
    header = tool("bcftools", "view", "-h", "ped.vcf.gz", cwd=tmp_path).splitlines()[-1]
    assert header.split("\t")[9:] == ["bull", "cow", "calf", "late"]
    with pytest.raises(ValueError, match="takes the place of ngen"):
        pedsim.simulate(3, 20, 5, pedigree=frame)
    typed = pedsim.simulate(pedigree=frame, seed=2, markers=3, genotyped=["calf", "bull"])
    assert typed.lost.tolist() == [0, 1, 0, 1]
    with pytest.raises(ValueError, match="line 1: heifer is not an animal of the pedigree"):
        pedsim.simulate(pedigree=frame, genotyped=["heifer"])


def test_plink_and_bcftools_read_sex_chromosomes_as_pedsim_passes_them_on(tmp_path):
    """plink1.9's sex check finds every male from X, and the females but the few whose
    two X descend from one haplotype; its Mendel errors on the autosomes and X are
    pedsim's (it checks no Y or MT); the VCF's haploid calls make the same .bed."""
    run = pedsim.simulate(5, 300, 30, seed=8, markers=100, alleles=2, chromosomes=2,
                          sex_chromosomes="X:400,Y:20,MT:10", error_rate=0.01, call_rate=0.97)
    run.write(tmp_path, formats=["plink", "vcf"])
    tool("plink1.9", "--bfile", "ped", "--check-sex", "--out", "sex", cwd=tmp_path)
    rows = table(tmp_path / "sex.sexcheck")  # FID IID PEDSEX SNPSEX STATUS F
    assert [int(r[2]) for r in rows] == list(run.sex)
    assert all(float(r[5]) == 1 for r in rows if r[2] == "1")
    females = [r for r in rows if r[2] == "2"]
    assert sum(r[4] != "OK" for r in females) <= 0.005 * len(females)
    tool("plink1.9", "--bfile", "ped", "--mendel", "--out", "mendel", cwd=tmp_path)
    counts = [int(row[2]) for row in table(tmp_path / "mendel.lmendel")]
    checked = np.isin(run.marker_chromosomes, ["1", "2", "X"])
    assert sum(counts[-400:]) > 100
    assert counts == run.inconsistencies_per_marker[checked].tolist()
    tool("plink2", "--vcf", "ped.vcf.gz", "--update-sex", "ped.fam", "col-num=5", "--make-bed",
         "--out", "v2", cwd=tmp_path)
    assert (tmp_path / "v2.bed").read_bytes() == (tmp_path / "ped.bed").read_bytes()
    assert tool("bcftools", "view", "-H", "-r", "Y", "ped.vcf.gz", cwd=tmp_path).count("\n") == 20
