# The job as users script it today, for gawk: hash tables keyed by read name
# and target. Prints the same report as pairhits for ordinary tables (no empty
# columns, no special numbers). Run as: LC_ALL=C gawk -f baseline.awk TABLE
BEGIN { FS = "\t" }
{
  if (index($1, "/1")) mate = 1
  if (index($1, "/2")) mate = 2
  if (NF < 9 || length($1) < 2) next
  name = substr($1, 1, length($1) - 2)
  key = name SUBSEP $9
  if (mate == 1) {
    if (!(key in col3_1)) {
      col3_1[key] = $3; col7_1[key] = $7
      targets[name] = targets[name] SUBSEP $9
    }
  } else if (!(key in col3_2)) {
    col3_2[key] = $3; col7_2[key] = $7
  }
}
END {
  PROCINFO["sorted_in"] = "@ind_str_asc"
  for (name in targets) {
    n = split(substr(targets[name], 2), list, SUBSEP)
    for (i = 1; i <= n; i++) {
      key = name SUBSEP list[i]
      if (key in col3_2)
        printf "%s\t%g,%g\t%g,%g\t%s\n", name, col3_1[key], col3_2[key], col7_1[key], col7_2[key], list[i]
    }
  }
}
