# Times ca's multiple correspondence analysis of the records of the correspondence case written
# by "tav_bench --write-inputs" (NAME.fit: a line "correspondence", then one record per line,
# the categories from 1): mjca with lambda = "indicator", whose principal inertias times the
# number of variables are the eigenvalues of our report, all dimensions. Prints the CPU
# milliseconds of one analysis (median of three; reading the file is not timed), then the first
# two eigenvalues (number of variables times the principal inertias), for a check against ours.
# Usage: Rscript mca.R NAME.fit
suppressPackageStartupMessages(library(ca))
args <- commandArgs(trailingOnly = TRUE)
records <- read.table(args[1], skip = 1)
records[] <- lapply(records, factor)
cpu <- function() { t <- proc.time(); t[["user.self"]] + t[["sys.self"]] }
times <- numeric(3)
for (r in 1:3) {
  start <- cpu()
  m <- mjca(records, lambda = "indicator", nd = NA)
  times[r] <- cpu() - start
}
cat(sprintf("%.3f %.6f %.6f\n", 1000 * median(times), ncol(records) * m$sv[1]^2,
            ncol(records) * m$sv[2]^2))
