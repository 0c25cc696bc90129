# Makes the small data files of every kind that the tests read (run once from this folder:
# Rscript make_files.R). One survey of 80 respondents: sex (labelled numbers 1 and 2), region
# (text), opinion (labelled 1 to 3, 9 "no answer" a user-defined missing value, and some
# system-missing values) and a survey weight; labels.dat holds the same records as the plain
# numbers of the record format (sex, region and opinion coded 1 to k, 0 missing, the weight).
library(haven)

set.seed(36)
n <- 80
i <- seq_len(n)
sex <- sample(1:2, n, replace = TRUE)
region <- sample(c("north", "south", "west"), n, replace = TRUE)
opinion <- ifelse(sex == 1, sample(c(1, 1, 2, 3, 9), n, replace = TRUE),
                  sample(c(1, 2, 3, 3, 9), n, replace = TRUE))
opinion[sample(i, 6)] <- NA
weight <- sample(c(0.5, 1, 1.5, 2, 1.25), n, replace = TRUE)

sex_labels <- c(male = 1, female = 2)
opinion_labels <- c(agree = 1, neutral = 2, disagree = 3, "no answer" = 9)

spss <- data.frame(id = i)
spss$sex <- labelled_spss(sex, sex_labels, label = "Sex of the respondent")
spss$region <- labelled_spss(region, label = "Region of residence")
spss$opinion <- labelled_spss(opinion, opinion_labels, na_values = 9,
                              label = "Opinion on the proposal")
spss$weight <- labelled_spss(weight, label = "Survey weight")
write_sav(spss, "labels.sav")
write_sav(spss, "labels.zsav", compress = "zsav")

# Stata has no user-defined missing values: 9 becomes the tagged missing value .a.
stata <- data.frame(id = i)
stata$sex <- labelled(sex, sex_labels, label = "Sex of the respondent")
stata$region <- region
attr(stata$region, "label") <- "Region of residence"
stata_opinion <- ifelse(!is.na(opinion) & opinion == 9, tagged_na("a"), opinion)
stata$opinion <- labelled(stata_opinion,
                          c(agree = 1, neutral = 2, disagree = 3, "no answer" = tagged_na("a")),
                          label = "Opinion on the proposal")
stata$weight <- weight
attr(stata$weight, "label") <- "Survey weight"
write_dta(stata, "labels.dta")

# SAS files carry no value labels (those live in format catalogues): plain numbers, 9 missing.
sas <- data.frame(id = i, sex = sex, region = region,
                  opinion = ifelse(!is.na(opinion) & opinion == 9, NA, opinion), weight = weight)
write_xpt(sas, "labels.xpt")
write_sas(sas, "labels.sas7bdat")

plain <- data.frame(id = i, sex = sex, region = region, opinion = opinion, weight = weight)
plain$opinion[!is.na(plain$opinion) & plain$opinion == 9] <- NA
write.csv(plain, "labels.csv", row.names = FALSE)
write.table(plain, "labels.tsv", sep = "\t", row.names = FALSE, quote = FALSE, na = "")

codes <- cbind(sex, match(region, sort(unique(region))),
               ifelse(is.na(plain$opinion), 0, plain$opinion), weight)
write.table(codes, "labels.dat", row.names = FALSE, col.names = FALSE)
