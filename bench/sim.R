# Times R's draw of a simulation case written by "tav_bench --write-inputs" (NAME.fit: the
# family, the number of records, then per cell its probability and its record line): the
# records drawn with sample.int (replace, prob) and written one per line with writeLines, as
# the engine writes them. Prints the CPU milliseconds of one draw and write (median of three).
# Usage: Rscript sim.R NAME.fit
args <- commandArgs(trailingOnly = TRUE)
header <- readLines(args[1], n = 2)
records <- as.numeric(header[2])
cells <- read.table(args[1], skip = 2, sep = "\t", quote = "", colClasses = c("numeric", "character"))
cpu <- function() { t <- proc.time(); t[["user.self"]] + t[["sys.self"]] }
out <- tempfile()
times <- numeric(3)
for (r in 1:3) {
  start <- cpu()
  drawn <- sample.int(nrow(cells), records, replace = TRUE, prob = cells[[1]])
  writeLines(cells[[2]][drawn], out)
  times[r] <- cpu() - start
}
unlink(out)
cat(sprintf("%.3f\n", 1000 * median(times)))
