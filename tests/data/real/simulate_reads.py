#!/usr/bin/env python3
"""Simulated paired reads for the real tables: python3 simulate_reads.py DIR

Writes to DIR: genes.fna (16 genes: 8 families of 2 strains, the second a
5%-mutated copy of the first), genes.faa (their proteins), and 120 read
pairs in each of three namings:
  r1.fa, r2.fa      Illumina names, the mate after a blank (as the
                    sequencer writes them), mates in two files;
  dots.fa           SRA's fastq-dump --readids names, ending in .1 and .2;
  unders.fa         names ending in _1 and _2.
Fragments are 250 to 450 bp, mates 100 bp with 1% substitutions; 10% of the
pairs are chimeric (mates from two families) and 5% random sequence.
"""
import random
import sys

CODONS = {}
bases = "TCAG"
aas = "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"
for i, a in enumerate(aas):
    CODONS.setdefault(a, []).append(bases[i // 16] + bases[i // 4 % 4] + bases[i % 4])
AMINO = [a for a in CODONS if a != "*"]
COMPLEMENT = str.maketrans("ACGT", "TGCA")


def revcomp(s):
    return s.translate(COMPLEMENT)[::-1]


def mutate(rng, s, rate):
    return "".join(rng.choice("ACGT".replace(c, "")) if rng.random() < rate else c for c in s)


def translate(s):
    table = {c: a for a, cs in CODONS.items() for c in cs}
    return "".join(table[s[i:i + 3]] for i in range(0, len(s) - 2, 3))


def main():
    out = sys.argv[1]
    rng = random.Random(2024)
    genes = {}
    for family in range(8):
        protein = "M" + "".join(rng.choice(AMINO) for _ in range(499))
        dna = "".join(rng.choice(CODONS[a]) for a in protein)
        genes[f"fam{family}_s0"] = dna
        # A strain: synonymous and other changes at 5% of the bases.
        genes[f"fam{family}_s1"] = mutate(rng, dna, 0.05)
    with open(f"{out}/genes.fna", "w") as f:
        for name, dna in genes.items():
            f.write(f">{name}\n{dna}\n")
    with open(f"{out}/genes.faa", "w") as f:
        for name, dna in genes.items():
            f.write(f">{name}\n{translate(dna).replace('*', 'X')}\n")
    names = list(genes)

    def pair():
        kind = rng.random()
        if kind < 0.05:
            return ("".join(rng.choice("ACGT") for _ in range(100)),
                    "".join(rng.choice("ACGT") for _ in range(100)))
        g1 = genes[rng.choice(names)]
        length = rng.randint(250, 450)
        start = rng.randint(0, len(g1) - length)
        fragment = g1[start:start + length]
        if kind < 0.15:  # chimeric: mate 2 from another family
            g2 = genes[rng.choice(names)]
            s2 = rng.randint(0, len(g2) - length)
            fragment = fragment[:length // 2] + g2[s2 + length // 2:s2 + length]
        if rng.random() < 0.5:
            fragment = revcomp(fragment)
        return mutate(rng, fragment[:100], 0.01), mutate(rng, revcomp(fragment[-100:]), 0.01)

    def write_pairs(path1, path2, name_of):
        f1 = open(path1, "w")
        f2 = f1 if path2 is None else open(path2, "w")
        for i in range(1, 121):
            m1, m2 = pair()
            f1.write(f">{name_of(i, 1)}\n{m1}\n")
            f2.write(f">{name_of(i, 2)}\n{m2}\n")
        f1.close()
        if f2 is not f1:
            f2.close()

    write_pairs(f"{out}/r1.fa", f"{out}/r2.fa",
                lambda i, m: f"A00123:8:H5KJ2DSXY:1:1101:{1000 + 37 * i}:{2000 + 11 * i} {m}:N:0:ATCACG")
    write_pairs(f"{out}/dots.fa", None, lambda i, m: f"SRR5000001.{i}.{m} {i} length=100")
    write_pairs(f"{out}/unders.fa", None, lambda i, m: f"pair{i}_{m}")


main()
