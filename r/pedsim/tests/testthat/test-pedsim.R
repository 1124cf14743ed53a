# The R package against the command line (PEDSIM_BINARY), byte for byte,
# and its arrays against the files they agree with.

binary <- Sys.getenv("PEDSIM_BINARY")

command_line <- function(args, dir) {
  status <- system2(binary, c(args, "--outdir", shQuote(dir)), stdout = FALSE, stderr = FALSE)
  expect_equal(status, 0)
}

same_files <- function(r_dir, cli_dir) {
  files <- sort(list.files(cli_dir))
  expect_equal(sort(list.files(r_dir)), files)
  for (f in setdiff(files, "console.txt")) {
    expect_identical(readBin(file.path(r_dir, f), "raw", 1e8),
                     readBin(file.path(cli_dir, f), "raw", 1e8), label = f)
  }
}

read_pre <- function(path) as.matrix(utils::read.table(path))

configurations <- list(
  classic = list(args = c("--seed", "7", "4", "60", "6"), r = list(seed = 7)),
  panel = list(
    args = c("--seed", "11", "--markers", "300", "--alleles", "2", "--chromosomes", "3",
             "--sex-chromosomes", "X:40", "--error-rate", "0.02", "--call-rate", "0.95",
             "--wrong-sire", "0.1", "--swap", "0.02", "--format", "pre,plink,vcf",
             "--true-genotypes", "5", "200", "20"),
    r = list(seed = 11, markers = 300, alleles = 2, chromosomes = 3, sex_chromosomes = "X:40",
             error_rate = 0.02, call_rate = 0.95, wrong_sire = 0.1, swap = 0.02),
    write = list(formats = c("pre", "plink", "vcf"), true_genotypes = TRUE)))

for (name in names(configurations)) {
  test_that(paste("a", name, "run writes the command line's bytes"), {
    skip_if(binary == "", "PEDSIM_BINARY names no pedsim program")
    c <- configurations[[name]]
    cli <- tempfile()
    command_line(c$args, cli)
    n <- as.numeric(utils::tail(c$args, 3))
    run <- do.call(simulate, c(as.list(n), c$r))
    out <- tempfile()
    do.call(write, c(list(run, out), c$write))
    same_files(out, cli)
  })
}

test_that("a supplied pedigree, as a file or a data.frame, gives the command line's run", {
  skip_if(binary == "", "PEDSIM_BINARY names no pedsim program")
  herd <- tempfile(fileext = ".txt")
  writeLines(c("animal\tsire\tdam\tsex", "s1\t0\t0\tM", "d1\t0\t0\tF", "d2\t0\t0\tF",
               "k1\ts1\td1\tF", "k2\ts1\td2\tM", "k3\tk2\tk1\tF"), herd)
  cli <- tempfile()
  command_line(c("--seed", "5", "--markers", "50", "--alleles", "2", "--error-rate", "0.1",
                 "--pedigree", herd), cli)
  frame <- utils::read.delim(herd, colClasses = "character")
  frame[frame == "0"] <- NA
  for (pedigree in list(herd, frame)) {
    run <- simulate(pedigree = pedigree, seed = 5, markers = 50, alleles = 2, error_rate = 0.1)
    expect_equal(run$pedigree$name, c("s1", "d1", "d2", "k1", "k2", "k3"))
    out <- tempfile()
    write(run, out)
    same_files(out, cli)
  }
})

test_that("the genotype arrays are the files' genotypes", {
  run <- simulate(4, 150, 15, seed = 3, markers = 60, alleles = 2, error_rate = 0.05,
                  call_rate = 0.9)
  out <- tempfile()
  write(run, out, true_genotypes = TRUE)
  for (recorded in c(TRUE, FALSE)) {
    pre <- read_pre(file.path(out, if (recorded) "ped.pre" else "true.pre"))
    pre <- pre[pre[, 1] != 0, ]
    g <- genotypes(run, recorded = recorded)
    first <- pre[, seq(5, ncol(pre), by = 2)]
    second <- pre[, seq(6, ncol(pre), by = 2)]
    first[first == 0] <- NA
    second[second == 0] <- NA
    expect_equal(unname(g[, , 1]), unname(first))
    expect_equal(unname(g[, , 2]), unname(second))
    counts <- genotypes(run, recorded = recorded, counts = TRUE)
    expect_equal(unname(counts), unname((first == 2) + (second == 2)))
  }
  expect_equal(dim(genotypes(run, animals = c(5, 2), markers = c("m3", "m60"))), c(2, 2, 2))
  errors <- utils::read.delim(file.path(out, "errors.tsv"))
  expect_equal(nrow(run$errors), nrow(errors))
  expect_equal(run$errors$detectable, errors$detectable == 1)
  expect_equal(run$figures$altered_genotypes, nrow(errors))
})

test_that("bad arguments are R errors naming the argument", {
  expect_error(simulate(3, 20, 5, error_rate = 2), "error_rate")
  expect_error(simulate(3, 20, 5, eror_rate = 0.1), "did you mean error_rate")
  expect_error(simulate(3, 20, 5, markers = "many"), "markers = takes one whole number")
  expect_error(simulate(3, 20), "missing: male")
  expect_error(simulate(3, 20, 5, 1000), "by name")
  expect_error(simulate(pedigree = tempfile()), "pedigree")
  expect_error(genotypes(simulate(3, 20, 5, seed = 1), animals = 99), "animals")
})

test_that("the relatedness truth is the files'", {
  run <- simulate(4, 120, 12, seed = 9, markers = 300, alleles = 2, chromosomes = 3,
                  sex_chromosomes = "X:30", wrong_sire = 0.1)
  out <- tempfile()
  write(run, out, ibd = TRUE, pairs = "full-sibs,half-sibs")
  kinship_file <- utils::read.delim(file.path(out, "kinship.tsv"))
  expect_equal(run$inbreeding$inbreeding_true, kinship_file$inbreeding_true, tolerance = 1e-6)
  expect_equal(nrow(run$segments), nrow(utils::read.delim(file.path(out, "segments.tsv"))))
  pairs_file <- utils::read.delim(file.path(out, "pairs.tsv"))
  pairs <- kinship(run, c("full-sibs", "half-sibs"))
  expect_equal(pairs$kinship_realised, pairs_file$kinship_realised, tolerance = 1e-6)
  listed <- kinship(run, cbind(pairs$animal_1, pairs$animal_2))
  expect_equal(listed$ibd1, pairs$ibd1)
  expect_error(kinship(simulate(3, 20, 5, seed = 1), "full-sibs"), "markers")
})
