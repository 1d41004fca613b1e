// pairhits TABLE...: for every read of a paired-end BLAST hit table, the
// targets that both mates hit.
#include "blast_parser.h"

int main(int argc, char** argv) { return pairhits::pairhits_main(argc, argv, 1, 2); }
