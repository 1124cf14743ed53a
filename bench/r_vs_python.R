# Times the R package against the Python module on the 10^10-genotype panel
# (processor time of simulate() in each, in turn), and a slice of 10^8
# genotypes reaching R; prints Markdown lines.
#
# usage: R_LIBS=.r-library PYTHONPATH=build/release/python Rscript bench/r_vs_python.R

library(pedsim, warn.conflicts = FALSE)

runs <- 3
python <- paste(
  "import pedsim, resource",
  "def used(): u = resource.getrusage(resource.RUSAGE_SELF); return u.ru_utime + u.ru_stime",
  "start = used(); pedsim.simulate(10, 20000, 2000, seed=3, markers=50000, alleles=2)",
  "print(used() - start)", sep = "\n")

processor <- function(expression) {
  before <- proc.time()
  force(expression)
  used <- proc.time() - before
  used[["user.self"]] + used[["sys.self"]]
}

r_times <- numeric(runs)
python_times <- numeric(runs)
for (k in seq_len(runs)) {
  r_times[k] <- processor(simulate(10, 20000, 2000, seed = 3, markers = 50000, alleles = 2))
  gc()
  python_times[k] <- as.numeric(system2("python3", c("-c", shQuote(python)), stdout = TRUE))
}
run <- simulate(10, 20000, 2000, seed = 3, markers = 5000, alleles = 2, error_rate = 0.01,
                call_rate = 0.98)
slice <- system.time(genotypes(run, animals = 1:20000, markers = 1:5000, counts = TRUE))
cat(sprintf("- `simulate(10, 20000, 2000, markers = 50000, alleles = 2)` (1.1 x 10^10 genotypes): R %.2f s, Python %.2f s of processor time (medians of %d, in turn); ratio %.2f (target 1.2).\n",
            median(r_times), median(python_times), runs, median(r_times) / median(python_times)))
cat(sprintf("- `genotypes(run, animals = 1:20000, markers = 1:5000, counts = TRUE)` (10^8 genotypes into an R integer matrix): %.2f s wall, %.2f s processor (target 1 s).\n",
            slice[["elapsed"]], slice[["user.self"]] + slice[["sys.self"]]))
