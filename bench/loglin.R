# Times R's loglin on a table written by "tav_bench --write-inputs": the same hierarchical
# model and the same number of iterations (eps = 0, iter = k). Prints the median CPU seconds
# per iteration over five repetitions, each repetition calling loglin until it has used at
# least half a second.
# Usage: Rscript loglin.R NAME.loglin
args <- commandArgs(trailingOnly = TRUE)
lines <- readLines(args[1])
k <- as.integer(lines[1])
dims <- as.integer(strsplit(lines[2], " ")[[1]])
at <- which(lines == "table")
margins <- lapply(lines[3:(at - 1)], function(l) as.integer(strsplit(l, " ")[[1]]))
counts <- as.numeric(lines[(at + 1):length(lines)])
# The file lists the cells with the last variable fastest, R's arrays run the first index
# fastest: variable v is dimension K + 1 - v of the array.
K <- length(dims)
table <- array(counts, dim = rev(dims))
margins <- lapply(margins, function(m) K + 1 - m)
cpu <- function() { t <- proc.time(); t[["user.self"]] + t[["sys.self"]] }
per_iteration <- numeric(5)
for (r in 1:5) {
  calls <- 0
  start <- cpu()
  repeat {
    suppressWarnings(loglin(table, margins, eps = 0, iter = k, print = FALSE))
    calls <- calls + 1
    if (cpu() - start >= 0.5) break
  }
  per_iteration[r] <- (cpu() - start) / (calls * k)
}
cat(sprintf("%.6f\n", 1000 * median(per_iteration)))
